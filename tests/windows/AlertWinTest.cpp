#include "eventlog/xEventLog.h"
#include "platform/system/DateTime.h"
#include "platform/system/Exception.h"
#include "platform/system/WindowMessages.h"
#include "settings/xCommon.h"
#include "windows/xAlertWin.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <gtest/gtest.h>
#include <vector>

namespace {

const TDateTime Stamp = EncodeDateTime(QDate(2026, 12, 11), QTime(14, 3, 7, 42));

TEventLogEntry Entry(TEventType type, const QString &message,
                     const QString &sender = QStringLiteral("TOPCClientBridge"))
{
    TEventLogEntry entry;
    entry.EventType = type;
    entry.Message = message;
    entry.SenderName = sender;
    entry.TimeStamp = Stamp;
    return entry;
}

class TMessageRecorder : public QObject
{
public:
    std::vector<int> Messages;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() > QEvent::User) {
            Messages.push_back(int(event->type()));
            return true;
        }
        return QObject::event(event);
    }
};

// The text a rich-text label shows, without markup.
QString ShownText(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

class AlertForm : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_DebugEnabled = AppInfo().DebugEnabled;
        AppInfo().DebugEnabled = true;
    }
    void TearDown() override { AppInfo().DebugEnabled = m_DebugEnabled; }

    QString Indicator() const { return Child<QLabel>("lblPage")->text(); }
    template <typename T> T *Child(const char *name) const
    {
        T *child = Form.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    TAlertForm Form;

private:
    bool m_DebugEnabled = false;
};

} // namespace

TEST_F(AlertForm, IsCreatedHiddenAtTheBottomRightOfTheWorkArea)
{
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Form.windowTitle(), QStringLiteral("Kestrom Tidewell"));
    EXPECT_EQ(Form.size(), QSize(356, 213));
    EXPECT_TRUE(Form.windowFlags() & Qt::WindowStaysOnTopHint);
    const QRect workArea = Form.screen()->availableGeometry();
    EXPECT_EQ(Form.frameGeometry().bottomRight(), workArea.bottomRight());
}

TEST_F(AlertForm, FirstErrorShowsPageOneOfOneWithPictureStampSenderAndMessage)
{
    Form.ShowEvent(Entry(etError, QStringLiteral("Verbindung zum OPC-Server verloren")));
    EXPECT_TRUE(Form.isVisible());
    ASSERT_EQ(Form.History().size(), 1);
    EXPECT_EQ(Form.History().at(0),
              QStringLiteral("<img src=\"error\"><font size=\"4\"> Fehler</font><hr><br>"
                             "<b>Erzeugt um: </b><IND x=\"90\">2026-12-11 14:03:07,042<br>"
                             "<b>Erzeugt von: </b><IND x=\"90\">TOPCClientBridge<br>"
                             "<br>Verbindung zum OPC-Server verloren<br><br>"));
    EXPECT_EQ(Indicator(), QStringLiteral("1/1"));
    EXPECT_EQ(Child<QLabel>("lblPage")->toolTip(), QStringLiteral("1/1"));
    EXPECT_FALSE(Child<QPushButton>("btnNewer")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>("btnOlder")->isEnabled());
    EXPECT_EQ(Form.LastMessage(), QStringLiteral("Verbindung zum OPC-Server verloren"));

    const QString shown = ShownText(Child<QLabel>("lblMessage")->text());
    EXPECT_TRUE(shown.contains(QStringLiteral("2026-12-11 14:03:07,042"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QStringLiteral("IND"))) << shown.toStdString();

    const QDir dir(QStringLiteral(TIDEWELL_SCREENSHOT_DIR));
    ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
    EXPECT_TRUE(Form.grab().save(dir.filePath(QStringLiteral("AlertForm.png"))));
}

TEST_F(AlertForm, SenderLineOnlyWithDebugEnabledAndASender)
{
    const struct
    {
        bool Debug;
        const char *Sender;
        bool Shown;
    } rows[] = {{true, "TADOBridge", true}, {true, "", false}, {false, "TADOBridge", false}};
    for (const auto &row : rows) {
        AppInfo().DebugEnabled = row.Debug;
        Form.ShowEvent(Entry(etWarning, QStringLiteral("m"), QString::fromLatin1(row.Sender)));
        EXPECT_EQ(Form.History().at(0).contains(QStringLiteral("Erzeugt von")), row.Shown)
            << row.Debug << " " << row.Sender;
        EXPECT_TRUE(Form.History().at(0).startsWith(QStringLiteral("<img src=\"warning\">")));
    }
}

TEST_F(AlertForm, ElevenWarningsKeepNineAndTheNoticeAsOldestPage)
{
    for (int i = 1; i <= 11; ++i)
        Form.ShowEvent(Entry(etWarning, QStringLiteral("Warnung Nummer %1").arg(i)));
    ASSERT_EQ(Form.History().size(), 10);
    EXPECT_TRUE(Form.Overflow());
    EXPECT_EQ(Indicator(), QStringLiteral("1/10"));
    EXPECT_TRUE(Form.History().at(0).contains(QStringLiteral("Warnung Nummer 11")));
    EXPECT_TRUE(Form.History().at(8).contains(QStringLiteral("Warnung Nummer 3")));
    EXPECT_EQ(Form.History().at(9),
              QStringLiteral("<img src=\"info\"><font size=\"4\">Information</font><hr><br>Bitte "
                             "beachten Sie, dass weitere Ereignisse im Ereignisprotokoll "
                             "registriert wurden."));
    for (const QString &page : Form.History())
        EXPECT_FALSE(page.contains(QStringLiteral("Warnung Nummer 1<")) ||
                     page.contains(QStringLiteral("Warnung Nummer 2<")));

    auto *older = Child<QPushButton>("btnOlder");
    auto *newer = Child<QPushButton>("btnNewer");
    EXPECT_FALSE(newer->isEnabled());
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(older->isEnabled()) << i;
        older->click();
    }
    EXPECT_EQ(Indicator(), QStringLiteral("10/10"));
    EXPECT_FALSE(older->isEnabled());
    EXPECT_TRUE(ShownText(Child<QLabel>("lblMessage")->text())
                    .contains(QStringLiteral("weitere Ereignisse")));
    newer->click();
    EXPECT_EQ(Form.CurrentPage(), 8);
    EXPECT_EQ(Indicator(), QStringLiteral("9/10"));
    EXPECT_TRUE(older->isEnabled());
    EXPECT_TRUE(newer->isEnabled());

    // A new event always shows the newest page.
    Form.ShowEvent(Entry(etError, QStringLiteral("neu")));
    EXPECT_EQ(Indicator(), QStringLiteral("1/10"));
    EXPECT_TRUE(Form.History().at(9).contains(QStringLiteral("weitere Ereignisse")));
}

TEST_F(AlertForm, ClosingClearsTheHistoryAndNotifiesTheMainWindow)
{
    TMessageRecorder mainWindow;
    Form.SetMainWindow(&mainWindow);
    for (int i = 0; i < 11; ++i)
        Form.ShowEvent(Entry(etError, QStringLiteral("e")));
    Child<QPushButton>("btnClose")->click();
    EXPECT_FALSE(Form.isVisible());
    EXPECT_TRUE(Form.History().isEmpty());
    EXPECT_FALSE(Form.Overflow());
    EXPECT_TRUE(mainWindow.Messages.empty()) << "posted, not sent";
    QCoreApplication::processEvents();
    EXPECT_EQ(mainWindow.Messages, std::vector<int>{WM_ALERTCLOSED});

    Form.ShowEvent(Entry(etWarning, QStringLiteral("danach")));
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(Indicator(), QStringLiteral("1/1"));
    EXPECT_FALSE(Child<QPushButton>("btnOlder")->isEnabled());

    Form.close(); // the close box does the same
    QCoreApplication::processEvents();
    EXPECT_EQ(mainWindow.Messages.size(), 2u);
    EXPECT_TRUE(Form.History().isEmpty());
}

TEST_F(AlertForm, OtherEventTypesNeverOpenIt)
{
    for (const TEventType type : {etGeneric, etInformation, etAuditSuccess, etAuditFailure, etDebug,
                                  etSilentError, etSilentWarning}) {
        Form.ShowEvent(Entry(type, QStringLiteral("leise")));
        EXPECT_FALSE(Form.isVisible()) << int(type);
    }
    EXPECT_TRUE(Form.History().isEmpty());
    EXPECT_TRUE(Form.LastMessage().isEmpty());
}

TEST_F(AlertForm, ShowPageOutsideTheHistoryRaises)
{
    Form.ShowEvent(Entry(etError, QStringLiteral("e")));
    for (const int page : {-1, 1, 10}) {
        try {
            Form.ShowPage(page);
            ADD_FAILURE() << page;
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Index ausserhalb des zulässigen Bereichs"));
        }
    }
    EXPECT_EQ(Form.CurrentPage(), 0);
    EXPECT_EQ(Indicator(), QStringLiteral("1/1"));
}

TEST_F(AlertForm, MessageWithMarkupCharactersIsShownLiterally)
{
    const QString message = QStringLiteral("Wert <b>Druck</b> < 0 & Grenze > 5");
    Form.ShowEvent(Entry(etError, message, QStringLiteral("T<X>")));
    EXPECT_EQ(Form.LastMessage(), message);
    const QString shown = ShownText(Child<QLabel>("lblMessage")->text());
    EXPECT_TRUE(shown.contains(message)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("T<X>"))) << shown.toStdString();
}

TEST_F(AlertForm, DisplayedPagesLoadTheirPictures)
{
    Form.ShowEvent(Entry(etWarning, QStringLiteral("w")));
    for (const QString &page : {Form.History().at(0), TAlertForm::OverflowNotice()}) {
        QTextDocument document;
        document.setHtml(TAlertForm::DisplayHtml(page));
        int images = 0;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (!format.isImageFormat())
                    continue;
                ++images;
                const QVariant image = document.resource(QTextDocument::ImageResource,
                                                         QUrl(format.toImageFormat().name()));
                EXPECT_TRUE(image.isValid() && !image.isNull())
                    << format.toImageFormat().name().left(30).toStdString();
            }
        EXPECT_EQ(images, 1) << page.toStdString();
    }
}
