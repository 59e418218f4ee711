#include "settings/xCommon.h"
#include "platform/com/Guid.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        SetScreenSizeProvider({});
        FreeConfiguration();
    }

    // Makes an executable-like file in a folder of its own and returns its path.
    QString MakeExecutable(const QString &folder)
    {
        QDir().mkpath(files.filePath(folder));
        const QString path = files.filePath(folder + "/tidewell");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return path;
    }

    QString MakeFile(const QString &name) { return MakeExecutable(name); }

    static QStringList InstallationKeys()
    {
        TRegistry registry(HKEY_LOCAL_MACHINE);
        if (!registry.OpenKey(AppInfo().RegistryKey, false))
            return {};
        return registry.GetKeyNames();
    }

    static std::optional<QString> PathOf(const QString &guid)
    {
        TRegistry registry(HKEY_LOCAL_MACHINE);
        if (!registry.OpenKey(AppInfo().RegistryKey + guid, false))
            return std::nullopt;
        return registry.ReadString("Path");
    }

    ScopedTempEnvDir registryDir{"TIDEWELL_REGISTRY_DIR"};
    QTemporaryDir filesDir;
    QDir files{filesDir.path()};
};

TEST_F(SettingsTest, AppInfoDescribesTheRunningProgram)
{
    const TAppInfo &info = AppInfo();
    EXPECT_EQ(info.ProductName, "Tidewell");
    EXPECT_EQ(info.CompanyName, "Kestrom Software GmbH");
    EXPECT_EQ(info.RegistryKey, "Software\\Kestrom Software GmbH\\Tidewell\\");
    EXPECT_EQ(info.DebugKey, "Software\\Kestrom Software GmbH\\Tidewell\\Debug\\");
    EXPECT_EQ(info.ExeName, "tw_tests_settings");
    EXPECT_TRUE(info.ExePath.endsWith('/'));
    EXPECT_TRUE(QFileInfo(info.ExePath + info.ExeName).isFile());
    EXPECT_FALSE(info.OSName.isEmpty());
    EXPECT_FALSE(info.ProductVersion.isEmpty());
}

TEST_F(SettingsTest, DebugEnabledComesFromTheDebugKey)
{
    EXPECT_FALSE(TAppInfo().DebugEnabled);
    TRegistry registry(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(AppInfo().DebugKey, true));
    registry.WriteString("Enabled", "1"); // wrong type counts as absent
    EXPECT_FALSE(TAppInfo().DebugEnabled);
    registry.WriteBool("Enabled", true);
    EXPECT_TRUE(TAppInfo().DebugEnabled);
}

TEST_F(SettingsTest, InterfaceLanguageFollowsThePerExecutableChoice)
{
    const QString exe = "/opt/tidewell/bin/tidewell";
    EXPECT_EQ(ReadInterfaceLanguage(exe), SystemLanguageId());
    struct Case
    {
        const char *Value;
        std::uint32_t Language;
    };
    for (const Case &c : {Case{"DEU", 7}, Case{"EXE", 7}, Case{"ENU", 9}, Case{"FRA", 0}}) {
        SCOPED_TRACE(c.Value);
        TRegistry registry(HKEY_CURRENT_USER);
        ASSERT_TRUE(registry.OpenKey(LocaleKey, true));
        registry.WriteString(exe, c.Value);
        EXPECT_EQ(ReadInterfaceLanguage(exe),
                  c.Value == QString("FRA") ? SystemLanguageId() : c.Language);
        EXPECT_EQ(ReadInterfaceLanguage(exe + "2"), SystemLanguageId());
    }
}

TEST_F(SettingsTest, FirstRunCreatesAKeyAndLaterRunsFindIt)
{
    const QString exe = MakeExecutable("a");
    const QString guid = ChooseInstallationKey(exe);
    EXPECT_TRUE(StringToGUID(guid).has_value());
    EXPECT_EQ(InstallationKeys(), QStringList({guid}));
    EXPECT_EQ(PathOf(guid), exe);
    EXPECT_EQ(ChooseInstallationKey(exe), guid);

    // A second installation in another folder gets a key of its own.
    const QString other = MakeExecutable("b");
    const QString otherGuid = ChooseInstallationKey(other);
    EXPECT_NE(otherGuid, guid);
    EXPECT_EQ(InstallationKeys().size(), 2);
}

TEST_F(SettingsTest, MovedExecutableTakesOverItsStaleKeyWithTheSettings)
{
    const QString oldExe = MakeExecutable("old");
    TConfiguration &before = CreateConfiguration(oldExe);
    const QString oldBase = before.BaseKey();
    before.MainFormWidth = 1000;
    before.Save();

    QFile::remove(oldExe);
    const QString newExe = MakeExecutable("new");
    TConfiguration &after = CreateConfiguration(newExe);
    EXPECT_EQ(after.BaseKey(), oldBase);
    after.Load();
    EXPECT_EQ(after.MainFormWidth, 1000);
    // The taken-over key keeps its old Path value until something rewrites it.
    EXPECT_EQ(InstallationKeys().size(), 1);
}

TEST_F(SettingsTest, StaleKeysAreReusedOnceAndTheRestDeleted)
{
    const QString a = MakeExecutable("a"), b = MakeExecutable("b"), c = MakeExecutable("c");
    const QString keyA = ChooseInstallationKey(a);
    const QString keyB = ChooseInstallationKey(b);
    const QString keyC = ChooseInstallationKey(c);
    // A key without a Path and a key that is no GUID: the first is stale, the second ignored.
    TRegistry registry(HKEY_LOCAL_MACHINE);
    const QString pathless = GUIDToString(CreateGUID());
    ASSERT_TRUE(registry.CreateKey(AppInfo().RegistryKey + pathless));
    ASSERT_TRUE(registry.CreateKey(AppInfo().RegistryKey + "Debug"));

    QFile::remove(a);
    QFile::remove(b);
    // c still exists and finds its own key; every stale key goes.
    EXPECT_EQ(ChooseInstallationKey(c), keyC);
    QStringList expected = {keyC, "Debug"};
    QStringList keys = InstallationKeys();
    keys.sort(Qt::CaseInsensitive);
    expected.sort(Qt::CaseInsensitive);
    EXPECT_EQ(keys, expected);
    EXPECT_NE(keyA, keyB);
}

TEST_F(SettingsTest, ThirdCopyTakesOverTheKeyOfADeletedFolder)
{
    const QString a = MakeExecutable("a"), b = MakeExecutable("b");
    ChooseInstallationKey(a);
    const QString keyB = ChooseInstallationKey(b);
    QDir(files.filePath("b")).removeRecursively();
    EXPECT_EQ(ChooseInstallationKey(MakeExecutable("c")), keyB);
    EXPECT_EQ(InstallationKeys().size(), 2);
}

TEST_F(SettingsTest, FirstRunHoldsTheFiveDefaultFormatsAndSavesCountFive)
{
    TConfiguration &config = CreateConfiguration(MakeExecutable("a"));
    config.Load();
    const QStringList defaults = {"YYYY-MM-DD hh:mm:ss", "YY-MM-DD hh:mm:ss", "hh:mm:ss DD.MM.YYYY",
                                  "hh:mm:ss DD.MM.YY", "hh:mm:ss"};
    EXPECT_EQ(config.TimeStampFormats, defaults);
    EXPECT_EQ(config.UserDefinedWindowErrorCaption, "Tidewell (Error)");
    EXPECT_TRUE(config.LoadDocumentAtStartup);
    config.Save();
    EXPECT_EQ(config.ReadInteger("Common\\TimeStampFormats\\", "Count", -1), 5);

    TConfiguration again(HKEY_LOCAL_MACHINE, config.BaseKey());
    again.Load();
    EXPECT_EQ(again.TimeStampFormats, defaults);
}

TEST_F(SettingsTest, TimeStampFormatsFromTheRegistry)
{
    TConfiguration config(HKEY_LOCAL_MACHINE, "Software\\Test\\{X}\\");
    config.WriteInteger("Common\\TimeStampFormats\\", "Count", 0);
    config.Load();
    EXPECT_EQ(config.TimeStampFormats.size(), 5);

    config.WriteInteger("Common\\TimeStampFormats\\", "Count", 2);
    config.WriteString("Common\\TimeStampFormats\\", "Format_1", "hh");
    config.WriteString("Common\\TimeStampFormats\\", "Format_2", "");
    config.Load();
    EXPECT_EQ(config.TimeStampFormats, QStringList({"hh"}));
}

TEST_F(SettingsTest, RecentDocumentsKeepTenAndDropDeletedFiles)
{
    TConfiguration config(HKEY_LOCAL_MACHINE, "Software\\Test\\{X}\\");
    QStringList documents;
    for (int i = 1; i <= 12; ++i)
        documents << MakeFile(QString("doc%1").arg(i));
    config.StartupDocuments = documents;
    config.Save();
    const QString key = "Common\\MRU_StartupDocuments\\";
    EXPECT_EQ(config.ReadInteger(key, "Count", -1), 10);
    EXPECT_EQ(config.ReadString(key, "MRU_10", {}), documents[9]);
    EXPECT_EQ(config.ReadString(key, "MRU_11", "none"), "none");

    QFile::remove(documents[2]);
    config.Save();
    EXPECT_EQ(config.ReadInteger(key, "Count", -1), 10);
    EXPECT_EQ(config.ReadString(key, "MRU_3", "none"), "none");

    config.Load();
    QStringList expected = documents.mid(0, 10);
    expected.removeAt(2);
    EXPECT_EQ(config.StartupDocuments, expected);
    config.Load(); // loading again does not double the list
    EXPECT_EQ(config.StartupDocuments, expected);
}

TEST_F(SettingsTest, ScalarsColumnsAndDatabasesRoundTripUnderTheirValueNames)
{
    TConfiguration config(HKEY_LOCAL_MACHINE, "  Software\\Test\\{X}  ");
    EXPECT_EQ(config.BaseKey(), "Software\\Test\\{X}\\");
    config.Load();
    for (int i = 0; i < ColumnSizeCount; ++i)
        EXPECT_EQ(config.ColumnSize(i), -1);
    EXPECT_THROW(config.ColumnSize(11), EListError);

    config.DocumentToLoad = "/plant/line 1.tdw";
    config.UseUserDefinedWindowCaption = true;
    config.MainFormState = 2;
    config.SetColumnSize(10, 77);
    for (int i = 1; i <= 11; ++i)
        config.TargetDataBases << (i == 2 ? QString()
                                          : QString("Provider=SQLite;Data Source=%1").arg(i));
    config.Save();

    TRegistry raw(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(raw.OpenKey("Software\\Test\\{X}\\Common", false));
    EXPECT_EQ(raw.ReadString("DocumentToLoad"), QString("/plant/line 1.tdw"));
    EXPECT_EQ(raw.ReadInteger("UseUserDefinedWindowCaption"), 1);
    EXPECT_EQ(raw.ReadInteger("MainFormState"), 2);
    ASSERT_TRUE(
        raw.OpenKey("Software\\Test\\{X}\\Common\\MainForm\\CurrentDataColumnSizes", false));
    EXPECT_EQ(raw.ReadInteger("Column11"), 77);
    ASSERT_TRUE(raw.OpenKey(
        "Software\\Test\\{X}\\Common\\BridgeConfigurationDlg\\MRU_TargetDataBase", false));
    EXPECT_EQ(raw.ReadInteger("Count"), 10);
    EXPECT_EQ(raw.ReadString("ConnectionString2"), QString());
    EXPECT_FALSE(raw.ValueExists("ConnectionString11"));

    TConfiguration loaded(HKEY_LOCAL_MACHINE, "Software\\Test\\{X}\\");
    loaded.Load();
    EXPECT_EQ(loaded.DocumentToLoad, config.DocumentToLoad);
    EXPECT_TRUE(loaded.UseUserDefinedWindowCaption);
    EXPECT_EQ(loaded.ColumnSize(10), 77);
    EXPECT_EQ(loaded.TargetDataBases, config.TargetDataBases.mid(0, 10));
}

TEST_F(SettingsTest, DefaultWindowPositionCentresOnTheScreen)
{
    struct Case
    {
        QSize Screen;
        int Left, Top;
    };
    const Case cases[] = {
        {QSize(), 0, 0},
        {QSize(1920, 1080), 550, 257},
        {QSize(1921, 1081), 550, 258}, // 550.5 and 257.5: halves round to even
        {QSize(1923, 1083), 552, 258},
        {QSize(800, 500), -10, -33},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Screen.width());
        if (c.Screen.isValid())
            SetScreenSizeProvider([&] { return c.Screen; });
        else
            SetScreenSizeProvider({});
        TConfiguration config(HKEY_LOCAL_MACHINE, "Software\\Test\\{X}\\");
        EXPECT_EQ(config.MainFormLeft, c.Left);
        EXPECT_EQ(config.MainFormTop, c.Top);
        EXPECT_EQ(config.MainFormWidth, 820);
        EXPECT_EQ(config.MainFormHeight, 566);
    }
}

TEST_F(SettingsTest, UnusableRegistryFallsBackToDefaultsAndWritesReportFailure)
{
    SetRegistryErrorReporter([](const QString &) {});
    QFile file(QDir(registryDir.Path()).filePath("HKEY_LOCAL_MACHINE.registry"));
    ASSERT_TRUE(QDir().mkpath(registryDir.Path()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("garbage");
    file.close();

    TConfiguration config(HKEY_LOCAL_MACHINE, "Software\\Test\\{X}\\");
    config.Load();
    EXPECT_EQ(config.UserDefinedWindowCaption, "Tidewell");
    EXPECT_EQ(config.TimeStampFormats.size(), 5);
    EXPECT_FALSE(config.WriteInteger("Common\\", "MainFormWidth", 1));
    EXPECT_EQ(config.ReadInteger("Common\\", "MainFormWidth", 42), 42);
    SetRegistryErrorReporter({});
}

} // namespace
