#include "editor/ProgressTestSupport.h"
#include "editor/xActivityBar.h"
#include "editor/xfrmShowActivityDlg.h"
#include "platform/system/Exception.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLayout>
#include <QPointer>
#include <gtest/gtest.h>

namespace {

const TOPCResolvePhase Phases[] = {TOPCResolvePhase::SearchByName, TOPCResolvePhase::ValidateItems,
                                   TOPCResolvePhase::SearchByID};

QString LabelText(const QWidget &window, const char *name)
{
    const auto *label = window.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

} // namespace

TEST(ShowActivityDlg, ShowsItsTextsWithAllPhasesGreyAndTheBarAtItsSize)
{
    const TAppFont font(6); // small enough for the texts to fit the nominal size
    TShowActivityDlg dialog;
    dialog.layout()->activate();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Bitte warten..."));
    EXPECT_EQ(dialog.size(), QSize(375, 211));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed border";
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(LabelText(dialog, "lblInfo"),
              QStringLiteral(
                  "Es wird versucht die OPC-Items im Namensraum des OPC-Quellservers zu finden."));
    const QString phaseTexts[] = {
        QStringLiteral("Elemente anhand ihrer Namen im Namensraum suchen"),
        QStringLiteral("Angegebene Element-IDs validieren"),
        QStringLiteral("Elemente anhand ihrer ID im Namensraum suchen ")};
    for (int i = 0; i < 3; ++i) {
        const QLabel *label = dialog.findChild<QLabel *>(OPCResolvePhaseLabel(Phases[i]));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), phaseTexts[i]);
        EXPECT_EQ(LineStyle(label, &dialog), TLineStyle::Pending);
    }
    EXPECT_EQ(LabelText(dialog, "lblSearchedItemCaption"), QStringLiteral("Gesuchtes Item:"));
    EXPECT_EQ(LabelText(dialog, "lblCurrentNodeCaption"), QStringLiteral("Aktueller Knoten:"));
    const auto *bar = dialog.findChild<TActivityBar *>(QStringLiteral("ActivityBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->size(), QSize(345, 17));
    EXPECT_EQ(bar->Steps(), 10);
    EXPECT_TRUE(bar->Direction());
}

TEST(ShowActivityDlg, GrowsForALargeFontInsteadOfCuttingTexts)
{
    const TAppFont font(14);
    TShowActivityDlg dialog;
    dialog.layout()->activate();
    EXPECT_GT(dialog.width(), 375);
    EXPECT_GE(dialog.height(), 211);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    for (const TOPCResolvePhase phase : Phases)
        ExpectRoomForBoldText(dialog.PhaseLabel(phase), &dialog);
    EXPECT_EQ(dialog.ActivityBar()->width(), dialog.width() - 30);
}

TEST(ShowActivityDlg, PhaseIsBoldWhileItRunsAndNormalAfterwards)
{
    TShowActivityDlg dialog;
    dialog.SetPhaseBold(TOPCResolvePhase::ValidateItems, true);
    EXPECT_EQ(LineStyle(dialog.PhaseLabel(TOPCResolvePhase::SearchByName), &dialog),
              TLineStyle::Pending);
    EXPECT_EQ(LineStyle(dialog.PhaseLabel(TOPCResolvePhase::ValidateItems), &dialog),
              TLineStyle::Current);
    dialog.SetPhaseBold(TOPCResolvePhase::ValidateItems, false);
    EXPECT_EQ(LineStyle(dialog.PhaseLabel(TOPCResolvePhase::ValidateItems), &dialog),
              TLineStyle::Done);
    EXPECT_EQ(LineStyle(dialog.PhaseLabel(TOPCResolvePhase::SearchByID), &dialog),
              TLineStyle::Pending);
}

TEST(ShowActivityDlg, RunsTheWorkModallyAndClosesWhenItReturns)
{
    QWidget mainWindow;
    TOPCResolveProgressWindow progress(&mainWindow);
    int runs = 0;
    QPointer<TShowActivityDlg> seen;
    progress.RunModal([&] {
        ++runs;
        seen = progress.Dialog();
        ASSERT_NE(seen, nullptr);
        EXPECT_TRUE(seen->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), seen.data());
        EXPECT_EQ(seen->parentWidget(), &mainWindow);

        // No cancel: neither Escape nor a close request ends the window while the work runs.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(seen, &escape);
        seen->close();
        EXPECT_TRUE(seen->isVisible());

        TOPCResolveProgress &core = progress;
        core.SetPhaseBold(TOPCResolvePhase::SearchByName, true);
        core.SetSearchedItem(QStringLiteral("Anlage.Kessel1.Temperatur"));
        core.NodeVisited(QStringLiteral("Kessel1"));
        EXPECT_EQ(seen->lblSearchedItem()->text(), QStringLiteral("Anlage.Kessel1.Temperatur"));
        EXPECT_EQ(seen->lblCurrentNode()->text(), QStringLiteral("Kessel1"));
        SaveScreenshot(seen, QStringLiteral("ShowActivityDlg.png"));
    });
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(seen.isNull()) << "the window of a run is freed after it";
    EXPECT_EQ(progress.Dialog(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // Between runs the calls reach no window and do no harm.
    progress.NodeVisited(QStringLiteral("x"));
    progress.SetPhaseBold(TOPCResolvePhase::SearchByID, true);
}

TEST(ShowActivityDlg, ExceptionOfTheWorkClosesTheWindowAndReachesTheCaller)
{
    TOPCResolveProgressWindow progress(nullptr);
    QPointer<TShowActivityDlg> seen;
    try {
        progress.RunModal([&] {
            seen = progress.Dialog();
            throw Exception(QStringLiteral("Server antwortet nicht"));
        });
        FAIL() << "the exception was swallowed";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Server antwortet nicht"));
    }
    EXPECT_TRUE(seen.isNull());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The same on the window itself, which stays alive for a look afterwards.
    TShowActivityDlg dialog;
    dialog.OnExecute = [] { throw std::runtime_error("kaputt"); };
    EXPECT_THROW(dialog.ShowModal(), std::runtime_error);
    EXPECT_FALSE(dialog.isVisible());
    // A second run of the same window starts afresh and has no stale exception.
    dialog.OnExecute = nullptr;
    EXPECT_NO_THROW(dialog.ShowModal());
}

TEST(ShowActivityDlg, WithoutOperationClosesRightAfterShowing)
{
    TShowActivityDlg dialog;
    dialog.ShowModal();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(ShowActivityDlg, NodeVisitedUpdatesTheDisplayAtMostEvery50ms)
{
    TFakeClock clock;
    TOPCResolveProgressWindow progress(nullptr);
    progress.SetTickSource(clock.Source());
    const struct
    {
        std::uint32_t Now;
        const char *Node;
        const char *Shown;
        int Position;
    } rows[] = {
        {1000, "A", "A", 1},                      // the first visit always shows
        {1030, "B", "A", 1}, {1050, "C", "A", 1}, // 50 ms are not enough
        {1051, "D", "D", 2}, {0xFFFFFFF0u, "E", "E", 3},
        {0x10, "F", "E", 3}, // 32 ms across the wrap of the tick counter
        {0x30, "G", "G", 4},
    };
    progress.RunModal([&] {
        TShowActivityDlg *dialog = progress.Dialog();
        for (const auto &row : rows) {
            clock.Now = row.Now;
            progress.NodeVisited(QString::fromLatin1(row.Node));
            EXPECT_EQ(dialog->lblCurrentNode()->text(), QString::fromLatin1(row.Shown)) << row.Node;
            EXPECT_EQ(dialog->ActivityBar()->Position(), row.Position) << row.Node;
        }
    });
}

TEST(ShowActivityDlg, HourglassNestsAndIsRestoredOnEveryWayOut)
{
    {
        TOPCResolveProgressWindow progress(nullptr);
        try {
            const TOPCHourglass outer(progress);
            {
                const TOPCHourglass inner(progress);
                ASSERT_NE(QApplication::overrideCursor(), nullptr);
                EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
                EXPECT_EQ(progress.HourglassDepth(), 2);
            }
            EXPECT_NE(QApplication::overrideCursor(), nullptr);
            throw Exception(QStringLiteral("x"));
        } catch (const Exception &) {
        }
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        progress.SetHourglass(false); // an unmatched off leaves other cursors alone
        QApplication::setOverrideCursor(Qt::CrossCursor);
        progress.SetHourglass(false);
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        progress.SetHourglass(true);
    }
    ASSERT_NE(QApplication::overrideCursor(), nullptr) << "the destructor restored one too many";
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
    QApplication::restoreOverrideCursor();
}
