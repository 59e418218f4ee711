#include "app/Startup.h"
#include "app/TidewellApplication.h"
#include "app/xfrmAbout.h"
#include "app/xfrmEditTimeIntervalDlg.h"

#include "cache/xDataCache.h"
#include "document/xTDWDocument.h"
#include "eventlog/xEventLog.h"
#include "platform/system/Exception.h"
#include "settings/xCommon.h"

#include "AppTestSupport.h"
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void Type(QWidget *target, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

std::vector<QString> Messages()
{
    std::vector<QString> messages;
    for (const auto &entry : EventLogger().TakeEntries())
        messages.push_back(entry->Message);
    return messages;
}

} // namespace

TEST(EditTimeIntervalDlg, AcceptsOnlyDigitsAndNeedsText)
{
    TEditTimeIntervalDlg dialog(QStringLiteral("Max. Schreibintervall ändern..."), 15000);
    EXPECT_EQ(dialog.windowTitle(), "Zeitintervall editieren");
    auto *combo = dialog.findChild<QComboBox *>(QStringLiteral("cbxInterval"));
    auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("btnOK"));
    ASSERT_TRUE(combo && ok);
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    EXPECT_EQ(items, QStringList({"500", "1000", "2000", "5000", "10000", "30000", "60000"}));
    EXPECT_EQ(dialog.findChild<QLabel *>(QStringLiteral("lblHeader"))->text(),
              "Max. Schreibintervall ändern...");
    EXPECT_EQ(dialog.Value(), 15000);
    EXPECT_TRUE(ok->isEnabled());
    dialog.show();

    QLineEdit *edit = combo->lineEdit();
    edit->setFocus();
    edit->end(false);
    Type(edit, Qt::Key_A, QStringLiteral("a"));
    Type(edit, Qt::Key_Minus, QStringLiteral("-"));
    Type(edit, Qt::Key_Space, QStringLiteral(" "));
    EXPECT_EQ(dialog.RefusedKeys(), 3);
    EXPECT_EQ(combo->currentText(), "15000");
    Type(edit, Qt::Key_7, QStringLiteral("7"));
    EXPECT_EQ(dialog.Value(), 150007);

    for (int i = 0; i < 6; ++i)
        Type(edit, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(combo->currentText(), "");
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_EQ(dialog.Value(), std::nullopt);
    EXPECT_EQ(dialog.RefusedKeys(), 3) << "backspace is allowed";

    // Pasted text cannot bring in anything but digits, nor more than an int holds.
    edit->insert(QStringLiteral("12x"));
    EXPECT_EQ(combo->currentText(), "");
    edit->insert(QStringLiteral("99999999999"));
    EXPECT_LE(combo->currentText().size(), TEditTimeIntervalDlg::MaxDigits);
    EXPECT_TRUE(dialog.Value().has_value());

    combo->setEditText(QStringLiteral("2000"));
    SaveScreenshot(dialog, QStringLiteral("EditTimeIntervalDlg.png"));
}

TEST(AboutDlg, SplashModeShowsTheStepInsteadOfTheLinks)
{
    TAboutDlg about;
    auto *info = about.findChild<QLabel *>(QStringLiteral("lblInfo"));
    auto *close = about.findChild<QLabel *>(QStringLiteral("lblClose"));
    auto *web = about.findChild<QLabel *>(QStringLiteral("lblWeb"));
    ASSERT_TRUE(info && close && web);
    EXPECT_TRUE(about.findChild<QLabel *>(QStringLiteral("lblProductVersion"))
                    ->text()
                    .contains(AppInfo().ProductVersion));
    EXPECT_TRUE(about.findChild<QLabel *>(QStringLiteral("lblFileVersion"))
                    ->text()
                    .contains(AppInfo().FileVersion));
    EXPECT_TRUE(close->text().contains("Schließen"));

    about.show();
    EXPECT_FALSE(info->isVisible());
    EXPECT_TRUE(close->isVisible());
    EXPECT_TRUE(web->isVisible());
    SaveScreenshot(about, QStringLiteral("AboutDlg.png"));

    // The close link ends the modal box.
    emit close->linkActivated(QStringLiteral("close"));
    EXPECT_EQ(about.result(), QDialog::Accepted);

    TAboutDlg splash;
    splash.SetSplashMode(true);
    splash.SetInfo(QStringLiteral("Konfiguration wird geladen..."));
    splash.show();
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash.lblInfo()->isVisible());
    EXPECT_FALSE(splash.findChild<QLabel *>(QStringLiteral("lblClose"))->isVisible());
    EXPECT_FALSE(splash.findChild<QLabel *>(QStringLiteral("lblWeb"))->isVisible());
    SaveScreenshot(splash, QStringLiteral("Splash.png"));
}

class StartupDocument : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EventLogger().SetLoggingLevel(3);
        EventLogger().SetLimitMessageRate(false);
        EventLogger().TakeEntries();
        Existing = Dir.filePath(QStringLiteral("da.tdw"));
        QFile file(Existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[VersionInfo]\r\nFileVersion=13\r\n[RemoteOPCServer]\r\n"
                   "ID=Tidewell.OPCSimulation.1\r\nTransmitterCount=0\r\n[ADOConnection]\r\n"
                   "ConnectionString=Provider=SQLite;Data Source=x.sqlite\r\n"
                   "TransmitterCount=0\r\n");
    }

    void TearDown() override { EventLogger().SetLimitMessageRate(true); }

    QTemporaryDir Dir;
    QString Existing;
    TDataCache Cache;
    TConfiguration Settings{HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Test\\")};
};

TEST_F(StartupDocument, CommandLineWinsAndAMissingFileIsQuiet)
{
    Settings.LoadDocumentAtStartup = true;
    Settings.DocumentToLoad = Existing;
    EXPECT_EQ(LoadStartupDocument(Dir.filePath(QStringLiteral("fehlt.tdw")), Settings, &Cache),
              nullptr);
    EXPECT_TRUE(Messages().empty());

    auto document = LoadStartupDocument(Existing, Settings, &Cache);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->FileName(), Existing);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(StartupDocument, LastDocumentOnlyWhenTheSettingsAskForIt)
{
    Settings.LoadDocumentAtStartup = false;
    Settings.DocumentToLoad = Existing;
    EXPECT_EQ(LoadStartupDocument(QString(), Settings, &Cache), nullptr);
    EXPECT_TRUE(Messages().empty());

    Settings.LoadDocumentAtStartup = true;
    EXPECT_NE(LoadStartupDocument(QString(), Settings, &Cache), nullptr);
    EXPECT_EQ(Messages(), std::vector<QString>{"Dokument wird geladen..."});

    Settings.DocumentToLoad = Dir.filePath(QStringLiteral("weg.tdw"));
    EXPECT_EQ(LoadStartupDocument(QString(), Settings, &Cache), nullptr);
    EXPECT_EQ(Messages(),
              (std::vector<QString>{"Dokument wird geladen...",
                                    "Fehler beim Laden des Dokuments \"weg.tdw\": Datei nicht "
                                    "gefunden."}));
}

TEST(ExceptionHook, AnEscapingExceptionIsLoggedAsErrorNotPassedOn)
{
    EventLogger().TakeEntries();
    QObject receiver;
    bool handled = true;
    EXPECT_NO_THROW(handled = DeliverLoggingExceptions(
                        []() -> bool { throw Exception(QStringLiteral("Kaputt")); }, &receiver));
    EXPECT_FALSE(handled);
    const auto entries = EventLogger().TakeEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->EventType, etError);
    EXPECT_EQ(entries[0]->Message, "Kaputt");
    EXPECT_EQ(entries[0]->Sender, &receiver);

    EXPECT_TRUE(DeliverLoggingExceptions([] { return true; }, &receiver));
    EXPECT_TRUE(EventLogger().TakeEntries().empty());
}
