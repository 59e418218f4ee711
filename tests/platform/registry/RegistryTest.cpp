#include "platform/registry/Registry.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class RegistryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetRegistryErrorReporter([this](const QString &message) { reports << message; });
    }
    void TearDown() override { SetRegistryErrorReporter({}); }

    QString RootFile(const char *name) const { return QDir(dir.Path()).filePath(name); }

    ScopedTempEnvDir dir{"TIDEWELL_REGISTRY_DIR"};
    QStringList reports;
};

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(RegistryTest, PathsAndNamesIgnoreCaseAndKeepTheirSpelling)
{
    TRegistry writer(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(writer.OpenKey("Software\\Kestrom\\Tidewell\\", true));
    EXPECT_TRUE(writer.WriteInteger("Count", 5));
    EXPECT_TRUE(writer.WriteString("Path", "/opt/tw/bin/tidewell"));
    EXPECT_TRUE(writer.WriteInteger("COUNT", 7)); // replaces, keeps the name "Count"

    TRegistry reader(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reader.OpenKey("software\\KESTROM\\missing", false));
    ASSERT_TRUE(reader.OpenKey("\\SOFTWARE\\\\kestrom\\tidewell", false));
    EXPECT_EQ(reader.ReadInteger("count"), 7);
    EXPECT_EQ(reader.ReadString("PATH"), QString("/opt/tw/bin/tidewell"));
    EXPECT_EQ(reader.GetValueNames(), QStringList({"Count", "Path"}));
    // Wrong type or missing value reads as nothing.
    EXPECT_EQ(reader.ReadString("Count"), std::nullopt);
    EXPECT_EQ(reader.ReadInteger("Path"), std::nullopt);
    EXPECT_EQ(reader.ReadBool("Nothing"), std::nullopt);

    ASSERT_TRUE(reader.OpenKey("SOFTWARE", false));
    EXPECT_EQ(reader.GetKeyNames(), QStringList({"Kestrom"}));
    // Roots are separate files.
    TRegistry user(HKEY_CURRENT_USER);
    EXPECT_FALSE(user.OpenKey("Software\\Kestrom", false));
}

TEST_F(RegistryTest, SubKeysListInAlphabeticalOrderWithoutGrandchildren)
{
    TRegistry reg(HKEY_LOCAL_MACHINE);
    for (const char *key : {"R\\zeta", "R\\Alpha\\deep", "R\\beta", "R\\Beta2"})
        ASSERT_TRUE(reg.CreateKey(key));
    ASSERT_TRUE(reg.OpenKey("R", false));
    EXPECT_EQ(reg.GetKeyNames(), QStringList({"Alpha", "beta", "Beta2", "zeta"}));
}

TEST_F(RegistryTest, DeleteKeyRemovesTheSubtreeButNotKeysSharingItsPrefix)
{
    TRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("A\\B\\C", true));
    ASSERT_TRUE(reg.WriteInteger("x", 1));
    ASSERT_TRUE(reg.CreateKey("A\\BC"));

    EXPECT_TRUE(reg.DeleteKey("a\\b"));
    EXPECT_FALSE(reg.KeyExists("A\\B\\C"));
    EXPECT_TRUE(reg.KeyExists("A\\BC"));
    // The accessor's key is gone: writes fail instead of resurrecting it.
    EXPECT_FALSE(reg.WriteInteger("x", 2));
    EXPECT_FALSE(reg.KeyExists("A\\B"));
    EXPECT_FALSE(reg.DeleteKey("A\\B"));
}

TEST_F(RegistryTest, TextsWithSpecialCharactersRoundTripThroughTheFile)
{
    const QString keyName = "Sender\\Weird \"[name]\"";
    const QStringList texts = {"", "C:\\Program Files\\x\\", "quote \" inside",
                               "line1\r\nline2\ttab", QString::fromUtf8("Größe Ä € 日本")};
    {
        TRegistry reg(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.OpenKey(keyName, true));
        for (int i = 0; i < texts.size(); ++i)
            ASSERT_TRUE(reg.WriteString(QString("v\"%1\n").arg(i), texts[i]));
        ASSERT_TRUE(reg.WriteInteger("neg", -2));
    }
    // Force a fresh read by a second process.
    const pid_t child = fork();
    if (child == 0) {
        TRegistry reg(HKEY_LOCAL_MACHINE);
        bool ok = reg.OpenKey(keyName, false) && reg.ReadInteger("neg") == -2;
        for (int i = 0; i < texts.size(); ++i)
            ok = ok && reg.ReadString(QString("v\"%1\n").arg(i)) == texts[i];
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(RegistryTest, ChangesOfAnotherProcessAreSeenAndNotLost)
{
    TRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("Shared", true));
    ASSERT_TRUE(reg.WriteInteger("parent", 1));

    constexpr int Writers = 4;
    constexpr int ValuesEach = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < Writers; ++w) {
        const pid_t child = fork();
        if (child == 0) {
            TRegistry mine(HKEY_LOCAL_MACHINE);
            bool ok = mine.OpenKey("Shared", false);
            for (int i = 0; i < ValuesEach && ok; ++i)
                ok = mine.WriteInteger(QString("w%1_%2").arg(w).arg(i), i);
            _exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(reg.GetValueNames().size(), 1 + Writers * ValuesEach);
    EXPECT_EQ(reg.ReadInteger("w3_24"), 24);
    EXPECT_EQ(reg.ReadInteger("parent"), 1);
}

TEST_F(RegistryTest, CorruptFileIsReportedAndNeverOverwritten)
{
    const QByteArray garbage = "TIDEWELL REGISTRY 1\n[Software]\n\"Broken\"=dword:zz\n";
    WriteFile(RootFile("HKEY_LOCAL_MACHINE.registry"), garbage);

    TRegistry reg(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.OpenKey("Software", false));
    EXPECT_FALSE(reg.OpenKey("Software", true));
    EXPECT_FALSE(reg.CreateKey("Other"));
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_TRUE(reports.first().contains("HKEY_LOCAL_MACHINE.registry"));
    EXPECT_TRUE(reports.first().contains("Zeile 3"));
    EXPECT_EQ(ReadFile(RootFile("HKEY_LOCAL_MACHINE.registry")), garbage);

    // Once the user repairs the file it is used again.
    WriteFile(RootFile("HKEY_LOCAL_MACHINE.registry"),
              "TIDEWELL REGISTRY 1\n[Software]\n\"Fixed\"=dword:00000001\n");
    ASSERT_TRUE(reg.OpenKey("software", false));
    EXPECT_EQ(reg.ReadBool("fixed"), true);
}

TEST_F(RegistryTest, MalformedFilesOfEveryKindAreRejected)
{
    const QByteArray cases[] = {
        "not a registry\n",
        "TIDEWELL REGISTRY 1\n\"value\"=\"outside a key\"\n",
        "TIDEWELL REGISTRY 1\n[Key\n",
        "TIDEWELL REGISTRY 1\n[Key]\n\"unterminated=\"x\"\n",
        "TIDEWELL REGISTRY 1\n[Key]\n\"bad escape\"=\"\\q\"\n",
        "TIDEWELL REGISTRY 1\n[Key]\n\"short\"=dword:1\n",
        "TIDEWELL REGISTRY 1\n[Key]\n\"trailing\"=\"x\" junk\n",
    };
    for (const QByteArray &bytes : cases) {
        SCOPED_TRACE(bytes.constData());
        reports.clear();
        WriteFile(RootFile("HKEY_CLASSES_ROOT.registry"), bytes);
        TRegistry reg(HKEY_CLASSES_ROOT);
        EXPECT_FALSE(reg.KeyExists("Key"));
        EXPECT_EQ(reports.size(), 1);
        EXPECT_EQ(ReadFile(RootFile("HKEY_CLASSES_ROOT.registry")), bytes);
    }
}

TEST_F(RegistryTest, UnwritableFolderMakesWritesFail)
{
    // A regular file where the folder should be.
    WriteFile(RootFile("blocker"), "x");
    qputenv("TIDEWELL_REGISTRY_DIR", RootFile("blocker").toLocal8Bit() + "/sub");
    TRegistry reg(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.OpenKey("Software", true));
    EXPECT_FALSE(reports.isEmpty());
}

} // namespace
