#include "editor/ProgressTestSupport.h"
#include "editor/xActivityBar.h"
#include "editor/xfrmADOShowActivityDlg.h"
#include "platform/system/Exception.h"

#include <QApplication>
#include <QLayout>
#include <QPointer>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<TLineStyle> Lines(const TADOShowActivityDlg &dialog)
{
    std::vector<TLineStyle> styles;
    for (int i = 0; i < TADOShowActivityDlg::PhaseCount; ++i)
        styles.push_back(LineStyle(dialog.PhaseLabel(i), &dialog));
    return styles;
}

constexpr TLineStyle P = TLineStyle::Pending;
constexpr TLineStyle D = TLineStyle::Done;
constexpr TLineStyle C = TLineStyle::Current;

} // namespace

TEST(ADOShowActivityDlg, ShowsItsTextsWithAllPhasesGreyAndTheBarAtItsSize)
{
    const TAppFont font(6); // small enough for the texts to fit the nominal size
    TADOShowActivityDlg dialog;
    dialog.layout()->activate();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Bitte warten..."));
    EXPECT_EQ(dialog.size(), QSize(418, 208));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dialog.findChild<QLabel *>(QStringLiteral("lblInfo"))->text(),
              QStringLiteral(
                  "Es wird versucht Tabellen und Tabellenspalten in der Datenbank zu finden."));
    const QString phaseTexts[] = {
        QStringLiteral("Datenbankverbindung prüfen"),
        QStringLiteral("Existenz von Tabellen prüfen"),
        QStringLiteral("Existenz von Tabellenfeldern prüfen"),
        QStringLiteral("Existenz von Datensätze anhand von Schlüsselattribute prüfen")};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dialog.PhaseLabel(i)->text(), phaseTexts[i]);
    EXPECT_EQ(Lines(dialog), (std::vector{P, P, P, P}));
    EXPECT_EQ(dialog.Phase(), -1);
    EXPECT_EQ(dialog.findChild<QLabel *>(QStringLiteral("lblSearchedElementCaption"))->text(),
              QStringLiteral("Gesuchtes Element:"));
    EXPECT_EQ(dialog.ActivityBar()->size(), QSize(388, 17));
    EXPECT_EQ(dialog.ActivityBar()->Steps(), 10);
}

TEST(ADOShowActivityDlg, GrowsForALargeFontInsteadOfCuttingTexts)
{
    const TAppFont font(14);
    TADOShowActivityDlg dialog;
    dialog.layout()->activate();
    EXPECT_GT(dialog.width(), 418);
    for (int i = 0; i < TADOShowActivityDlg::PhaseCount; ++i)
        ExpectRoomForBoldText(dialog.PhaseLabel(i), &dialog);
    EXPECT_EQ(dialog.ActivityBar()->width(), dialog.width() - 30);
}

TEST(ADOShowActivityDlg, PhaseStylesEarlierLinesDoneItselfBoldAndLaterOnesGrey)
{
    TADOShowActivityDlg dialog;
    const struct
    {
        int Phase;
        int Current;
        std::vector<TLineStyle> Expected;
    } rows[] = {
        {0, 0, {C, P, P, P}},  {2, 2, {D, D, C, P}},
        {4, 2, {D, D, C, P}},                        // not a phase: nothing changes
        {-1, 2, {D, D, C, P}}, {1, 1, {D, C, P, P}}, // going back restyles as well
        {3, 3, {D, D, D, C}},
    };
    for (const auto &row : rows) {
        dialog.SetPhase(row.Phase);
        EXPECT_EQ(dialog.Phase(), row.Current) << row.Phase;
        EXPECT_EQ(Lines(dialog), row.Expected) << row.Phase;
    }
}

TEST(ADOShowActivityDlg, ProgressShowsEveryTextButTicksTheBarAtMostEvery50ms)
{
    TFakeClock clock;
    TADOShowActivityDlg dialog;
    dialog.SetTickSource(clock.Source());
    dialog.Progress(0, QStringLiteral("demo.sqlite"));
    EXPECT_EQ(dialog.Phase(), 0);
    EXPECT_EQ(dialog.lblSearchedElement()->text(), QStringLiteral("demo.sqlite"));
    EXPECT_EQ(dialog.ActivityBar()->Position(), 1);

    clock.Now += 50;
    dialog.Progress(1, QStringLiteral("\"Messwerte\""));
    EXPECT_EQ(dialog.Phase(), 1);
    EXPECT_EQ(dialog.lblSearchedElement()->text(), QStringLiteral("\"Messwerte\""));
    dialog.ProgressTick();
    EXPECT_EQ(dialog.ActivityBar()->Position(), 1) << "two ticks within 50 ms move the bar once";

    clock.Now += 1;
    dialog.ProgressTick();
    EXPECT_EQ(dialog.ActivityBar()->Position(), 2);
    EXPECT_EQ(dialog.lblSearchedElement()->text(), QStringLiteral("\"Messwerte\""));
}

TEST(ADOShowActivityDlg, RunShowsTheCallersCaptionAndPassesExceptionsOn)
{
    QWidget mainWindow;
    TADOValidationProgressWindow progress(&mainWindow);
    const QString longText =
        QStringLiteral("\"Zeitstempel_der_letzten_Aenderung_des_Messwerts\" in Tabelle "
                       "\"Messwerte_Kesselhaus_Nord_Linie_2_Archiv_2026\"");
    QPointer<TADOShowActivityDlg> seen;
    progress.RunModal(QStringLiteral("Bitte warten..."), [&] {
        seen = progress.Dialog();
        ASSERT_NE(seen, nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), seen.data());
        EXPECT_EQ(seen->windowTitle(), QStringLiteral("Bitte warten..."));
        TADOValidationProgress &core = progress;
        core.SelectStep(TADOValidationProgress::psConnection, QStringLiteral("demo.sqlite"));
        core.SelectStep(TADOValidationProgress::psTableFields, longText);
        core.StepActivity();
        EXPECT_EQ(seen->Phase(), TADOValidationProgress::psTableFields);
        EXPECT_EQ(seen->lblSearchedElement()->text(), longText);
        const QString shown = seen->lblSearchedElement()->DisplayedText();
        EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        EXPECT_TRUE(longText.startsWith(shown.chopped(1)));
        SaveScreenshot(seen, QStringLiteral("ADOShowActivityDlg.png"));
    });
    EXPECT_TRUE(seen.isNull());

    EXPECT_THROW(progress.RunModal(QString(),
                                   [&] {
                                       seen = progress.Dialog();
                                       throw Exception(QStringLiteral("Keine Verbindung"));
                                   }),
                 Exception);
    EXPECT_TRUE(seen.isNull());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
