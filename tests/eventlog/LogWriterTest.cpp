#include "EventLogTestSupport.h"

#include <QDateTime>
#include <QFileInfo>
#include <sys/resource.h>

#include <csignal>

namespace {
const QByteArray CrLf = "\r\n";

class LogWriterTest : public EventLogTest
{
protected:
    void SetUp() override
    {
        EventLogTest::SetUp();
        TAppInfo &info = AppInfo();
        info.ProductName = QStringLiteral("Tidewell");
        info.ProductVersion = QStringLiteral("1.2.3.4");
        info.FileVersion = QStringLiteral("1.2.3.5");
        info.OSName = QStringLiteral("Debian GNU/Linux 12 (bookworm), Linux 6.1.0");
        info.ComputerName = QStringLiteral("Müllstation-7");
        info.DebugEnabled = false;
    }

    TLogWriter &Writer() { return Logger->Writer(); }

    void WriteAt(double ms, const QString &message = QStringLiteral("m"))
    {
        Writer().Write(etInformation, message, At(ms), nullptr, QString());
    }

    static void MakeFile(const QString &path, qint64 size, int hoursAgo)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        file.flush(); // or the write at closing sets the time again
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600 * hoursAgo),
                                     QFileDevice::FileModificationTime));
    }

    int Warnings(const TEventLogEntryList &entries) const
    {
        int count = 0;
        for (const auto &entry : entries)
            if (entry->Message.startsWith(
                    QStringLiteral("Fehler beim Schreiben des Ereignisprotokolls ("))) {
                EXPECT_EQ(entry->EventType, etWarning);
                EXPECT_EQ(entry->SenderName, QStringLiteral("TLogWriter"));
                ++count;
            }
        return count;
    }
};

const QByteArray ExpectedHeader =
    QByteArray(88, '=') + CrLf + "Product         : Tidewell" + CrLf + "Version         : 1.2.3.4" +
    CrLf + "File version    : 1.2.3.5" + CrLf +
    "Operating system: Debian GNU/Linux 12 (bookworm), Linux 6.1.0" + CrLf +
    "Computer name   : M\xFCllstation-7" + CrLf + QByteArray(88, '=') + CrLf + CrLf;
} // namespace

TEST_F(LogWriterTest, FileIsWindows1252WithHeaderAndExactLines)
{
    const int sender = 0;
    const QString message = QStringLiteral("Ölstand im Türmchen: Maß 5 €");
    Writer().Write(etWarning, message, At(0), &sender, QStringLiteral("TProbe"));
    Writer().Close(true);
    ASSERT_EQ(Files(), QStringList{QStringLiteral("26-03-04_05-06-07_0.log")});
    EXPECT_EQ(
        ReadFile(LogDir.filePath(Files()[0])),
        ExpectedHeader +
            "2026-03-04 05:06:07,089 \tWarnung \t\xD6lstand im T\xFCrmchen: Ma\xDF 5 \x80 \t\r\n");

    // With debug information: sender, its full address and the writing thread.
    AppInfo().DebugEnabled = true;
    Writer().Write(etSilentError, QStringLiteral("a"), At(1000), &sender, QStringLiteral("TProbe"));
    Writer().Write(etDebug, QStringLiteral("b"), At(1001), nullptr, QString());
    Writer().Close(true);
    const QString address =
        QString::number(reinterpret_cast<quintptr>(&sender), 16).toUpper().rightJustified(8, u'0');
    const QString thread = QString::number(CurrentThreadID(), 16).toUpper().rightJustified(4, u'0');
    EXPECT_EQ(ReadFile(LogDir.filePath(QStringLiteral("26-03-04_05-06-08_0.log"))),
              ExpectedHeader + "2026-03-04 05:06:08,089 \tFehler \ta \t[TProbe at $" +
                  address.toLatin1() + "] \t[Thread $" + thread.toLatin1() + "]\r\n" +
                  "2026-03-04 05:06:08,090 \tDebug \tb \t\r\n");
}

TEST_F(LogWriterTest, FilesOfTheSameSecondAreNumberedSkippingLeftovers)
{
    WriteAt(0);
    Writer().Close(true);
    WriteAt(300);
    EXPECT_EQ(Files(), (QStringList{QStringLiteral("26-03-04_05-06-07_0.log"),
                                    QStringLiteral("26-03-04_05-06-07_1.~og")}));
    Writer().Close(true);

    // A crashed run's file keeps its number and its content.
    const QString leftover = LogDir.filePath(QStringLiteral("26-03-04_05-06-07_2.~og"));
    MakeFile(leftover, 5, 0);
    WriteAt(600);
    EXPECT_EQ(QFileInfo(Writer().CurrentFilePath()).fileName(),
              QStringLiteral("26-03-04_05-06-07_3.~og"));
    EXPECT_EQ(ReadFile(leftover), QByteArray(5, 'x'));

    // Also beyond the ninth file of a second.
    Writer().Close(true);
    for (int n = 4; n <= 8; ++n)
        MakeFile(LogDir.filePath(QStringLiteral("26-03-04_05-06-07_%1.log").arg(n)), 1, 0);
    const QString late = LogDir.filePath(QStringLiteral("26-03-04_05-06-07_9.~og"));
    MakeFile(late, 5, 0);
    WriteAt(900);
    EXPECT_EQ(QFileInfo(Writer().CurrentFilePath()).fileName(),
              QStringLiteral("26-03-04_05-06-07_10.~og"));
    EXPECT_EQ(ReadFile(late), QByteArray(5, 'x'));
}

TEST_F(LogWriterTest, LineThatPassesMaxFileSizeIsWrittenAndTheFileClosed)
{
    WriteAt(0, QStringLiteral("eins"));
    const QString first = Writer().CurrentFilePath();
    Writer().SetMaxFileSize(QFileInfo(first).size()); // not greater: stays open
    WriteAt(10, QStringLiteral("zwei"));
    EXPECT_TRUE(Writer().CurrentFilePath().isEmpty());
    const QByteArray closed = ReadFile(LogDir.filePath(QStringLiteral("26-03-04_05-06-07_0.log")));
    EXPECT_TRUE(closed.endsWith("\tzwei \t\r\n"));
    EXPECT_TRUE(closed.contains("\teins \t"));

    WriteAt(20, QStringLiteral("drei"));
    EXPECT_EQ(QFileInfo(Writer().CurrentFilePath()).fileName(),
              QStringLiteral("26-03-04_05-06-07_1.~og"));
}

TEST_F(LogWriterTest, ClosingPrunesAtMostTheTwoOldestLogFiles)
{
    struct Row
    {
        const char *Case;
        qint64 MaxDirSize;
        QStringList Remaining;
    };
    // Three 10000-byte files, oldest first c, b, a; the closed file adds a few hundred bytes.
    const Row rows[] = {
        {"under the limit", 40000, {"a.log", "b.log", "c.log"}},
        {"oldest is enough", 25000, {"a.log", "b.log"}},
        {"two oldest", 15000, {"a.log"}},
        {"never more than two", 100, {"a.log"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Case);
        QTemporaryDir dir;
        MakeFile(dir.filePath(QStringLiteral("a.log")), 10000, 1);
        MakeFile(dir.filePath(QStringLiteral("b.log")), 10000, 2);
        MakeFile(dir.filePath(QStringLiteral("c.log")), 10000, 3);
        MakeFile(dir.filePath(QStringLiteral("crashed.~og")), 1000000, 9);
        MakeFile(dir.filePath(QStringLiteral("notes.txt")), 1000000, 9);
        Writer().SetDirectory(dir.path());
        Writer().SetMaxDirSize(row.MaxDirSize);
        WriteAt(0);
        Writer().Close(true);

        QStringList expected = row.Remaining;
        expected << QStringLiteral("26-03-04_05-06-07_0.log") << QStringLiteral("crashed.~og")
                 << QStringLiteral("notes.txt");
        expected.sort();
        EXPECT_EQ(Files(dir.path()), expected);
    }
}

TEST_F(LogWriterTest, ChangingTheDirectoryClosesTheCurrentFile)
{
    WriteAt(0);
    const QString current = Writer().CurrentFilePath();
    Writer().SetDirectory(LogDir.path());
    EXPECT_EQ(Writer().CurrentFilePath(), current);

    QTemporaryDir other;
    Writer().SetDirectory(other.path());
    EXPECT_EQ(Files(), QStringList{QStringLiteral("26-03-04_05-06-07_0.log")});
    WriteAt(10);
    EXPECT_EQ(Files(other.path()), QStringList{QStringLiteral("26-03-04_05-06-07_0.~og")});
}

TEST_F(LogWriterTest, WriteErrorsAreReportedEveryThirtySecondsAndTheWriterRecovers)
{
    QFile blocker(LogDir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Logger->SetSaveLog(true);
    Logger->SetLimitMessageRate(false);
    Writer().SetDirectory(blocker.fileName() + QStringLiteral("/Log"));

    Logger->Log(etInformation, 3, nullptr, QStringLiteral("eins"));
    Logger->Log(etInformation, 3, nullptr, QStringLiteral("zwei"));
    TEventLogEntryList entries = Logger->TakeEntries();
    EXPECT_EQ(Warnings(entries), 1);
    EXPECT_EQ(entries.size(), 3u) << "the events themselves still reach the queue";
    EXPECT_NE(Writer().LastErrorReport(), 0);
    ASSERT_FALSE(Reports.empty());
    EXPECT_EQ(Reports[0].Kind, TSystemEventKind::Warning);

    Writer().SetLastErrorReport(Now() - 31 / SecsPerDay);
    Logger->Log(etInformation, 3, nullptr, QStringLiteral("drei"));
    EXPECT_EQ(Warnings(Logger->TakeEntries()), 1);

    Writer().SetDirectory(LogDir.filePath(QStringLiteral("neu")));
    Logger->Log(etInformation, 3, nullptr, QStringLiteral("vier"));
    EXPECT_EQ(Warnings(Logger->TakeEntries()), 0);
    EXPECT_TRUE(ReadFile(Writer().CurrentFilePath()).contains("\tvier \t"));
}

TEST_F(LogWriterTest, FileLeftByAFailedWriteIsReopenedAndAppendedTo)
{
    Logger->SetSaveLog(true);
    Logger->SetLimitMessageRate(false);
    Logger->Log(etInformation, 3, nullptr, QStringLiteral("eins"));
    const QString file = Writer().CurrentFilePath();
    const qint64 size = QFileInfo(file).size();

    // A file size limit makes the next write fail as a full disk would.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(size);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Logger->Log(etInformation, 3, nullptr, QStringLiteral("zwei"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(Warnings(Logger->TakeEntries()), 1);

    Logger->Log(etInformation, 3, nullptr, QStringLiteral("drei"));
    EXPECT_EQ(Writer().CurrentFilePath(), file);
    const QByteArray text = ReadFile(file);
    EXPECT_TRUE(text.contains("\teins \t"));
    EXPECT_TRUE(text.endsWith("\tdrei \t\r\n"));
    EXPECT_EQ(Files().size(), 1);
}
