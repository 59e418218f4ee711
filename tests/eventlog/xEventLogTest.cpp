#include "EventLogTestSupport.h"

#include "platform/registry/Registry.h"
#include "platform/system/WindowMessages.h"

#include <QCoreApplication>
#include <QObject>
#include <atomic>
#include <map>
#include <set>
#include <thread>

namespace probe {
class TBase
{
public:
    virtual ~TBase() = default;
};
class TOPCClientBridge : public TBase
{
};
template <typename T> class TBox
{
};
} // namespace probe

namespace {
class TAnonymous
{
};

class TNotifyCounter : public QObject
{
public:
    int Count = 0;
    bool event(QEvent *event) override
    {
        if (event->type() != WM_EVENTLOGNOTIFY)
            return QObject::event(event);
        ++Count;
        return true;
    }
    int Deliver()
    {
        QCoreApplication::sendPostedEvents(this, WM_EVENTLOGNOTIFY);
        return Count;
    }
};

QString Marker()
{
    return QStringLiteral("Zuviele Ereignisse in der Warteschlange. Es gingen Ereignisse verloren");
}
} // namespace

TEST_F(EventLogTest, LevelFilterKeepsEventsAboveLoggingLevelFromEveryOutput)
{
    Logger->SetSaveLog(true);
    ASSERT_EQ(Logger->LoggingLevel(), 3);
    for (int level = 1; level <= 5; ++level)
        Logger->Log(etError, level, nullptr, QStringLiteral("Stufe %1").arg(level));

    const std::vector<QString> passed = {QStringLiteral("Stufe 1"), QStringLiteral("Stufe 2"),
                                         QStringLiteral("Stufe 3")};
    EXPECT_EQ(Messages(Logger->TakeEntries()), passed);
    ASSERT_EQ(Reports.size(), 3u);
    EXPECT_EQ(Reports.back().Message, QStringLiteral("Stufe 3"));
    const QByteArray text = AllLogText();
    EXPECT_TRUE(text.contains("Stufe 3 \t"));
    EXPECT_FALSE(text.contains("Stufe 4"));

    // Level 0 ("Aus") lets nothing through, not even errors.
    Logger->CloseLogFile();
    const QStringList filesBefore = Files();
    Logger->SetLoggingLevel(0);
    Logger->Log(etError, 1, nullptr, QStringLiteral("aus"));
    EXPECT_TRUE(Logger->TakeEntries().empty());
    EXPECT_EQ(Reports.size(), 3u);
    EXPECT_EQ(Files(), filesBefore);
}

TEST_F(EventLogTest, DebugEventsNeedDebugEnabledAndAnEnabledSender)
{
    AppInfo().DebugEnabled = false;
    Logger->LogNamed(etDebug, 1, QStringLiteral("TProbe"), nullptr, QStringLiteral("aus"));
    EXPECT_TRUE(Logger->TakeEntries().empty());
    EXPECT_TRUE(Logger->Senders().empty()) << "a dropped debug event must not list its sender";

    AppInfo().DebugEnabled = true;
    Logger->LogNamed(etDebug, 1, QStringLiteral("TProbe"), nullptr, QStringLiteral("an"));
    EXPECT_EQ(Messages(Logger->TakeEntries()), std::vector<QString>{QStringLiteral("an")});
    ASSERT_EQ(Logger->Senders().size(), 1u);
    EXPECT_EQ(Logger->Senders()[0].Name, QStringLiteral("TProbe"));
    EXPECT_TRUE(Logger->Senders()[0].Enabled);

    // Switched off under another spelling: names compare without regard to case.
    ASSERT_TRUE(Logger->SetSenderEnabled(QStringLiteral("tprobe"), false));
    Logger->LogNamed(etDebug, 1, QStringLiteral("TPROBE"), nullptr, QStringLiteral("gesperrt"));
    Logger->LogNamed(etWarning, 2, QStringLiteral("TProbe"), nullptr, QStringLiteral("Warnung"));
    EXPECT_EQ(Messages(Logger->TakeEntries()), std::vector<QString>{QStringLiteral("Warnung")});
    EXPECT_EQ(Logger->Senders().size(), 1u);
}

TEST_F(EventLogTest, OverlongSenderNamesAreListedOnceCutTo255Characters)
{
    const QString name(300, u'x');
    EXPECT_TRUE(Logger->IsSenderEnabled(name));
    EXPECT_TRUE(Logger->IsSenderEnabled(name));
    ASSERT_EQ(Logger->Senders().size(), 1u);
    EXPECT_EQ(Logger->Senders()[0].Name, name.left(255));
}

TEST_F(EventLogTest, SenderNameIsTheDynamicClassNameWithoutNamespaces)
{
    probe::TOPCClientBridge bridge;
    const probe::TBase *asBase = &bridge;
    Logger->Log(etInformation, 1, asBase, QStringLiteral("mit"));
    Logger->Log(etInformation, 1, nullptr, QStringLiteral("ohne"));
    const TEventLogEntryList entries = Logger->TakeEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]->SenderName, QStringLiteral("TOPCClientBridge"));
    EXPECT_EQ(entries[0]->Sender, &bridge);
    EXPECT_EQ(entries[0]->ThreadID, CurrentThreadID());
    EXPECT_EQ(entries[1]->SenderName, QString());
    EXPECT_EQ(entries[1]->Sender, nullptr);

    EXPECT_EQ(ClassNameOf(typeid(TAnonymous)), QStringLiteral("TAnonymous"));
    EXPECT_EQ(ClassNameOf(typeid(probe::TBox<probe::TBase>)), QStringLiteral("TBox<probe::TBase>"));
}

TEST_F(EventLogTest, RateLimitPassesFiftyPerSecondThenOnePerFifthOfASecond)
{
    Logger->SetSaveLog(true);
    ASSERT_TRUE(Logger->LimitMessageRate());
    std::vector<QString> expected;
    for (int i = 0; i < 50; ++i) { // 0..245 ms: the ring fills
        Logger->Log(etWarning, 2, nullptr, QStringLiteral("w%1").arg(i), 0, 0, At(i * 5));
        expected.push_back(QStringLiteral("w%1").arg(i));
    }
    for (int i = 0; i < 10; ++i) // within 0.2 s of the newest and 1 s of the oldest
        Logger->Log(etWarning, 2, nullptr, QStringLiteral("weg"), 0, 0, At(250 + i * 5));
    // Errors are never held back; they carry the count and enter the ring.
    Logger->Log(etError, 1, nullptr, QStringLiteral("Fehler"), 0, 0, At(300));
    expected.push_back(QStringLiteral("[.10.] Fehler"));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("weg"), 0, 0, At(460));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("spaet"), 0, 0, At(550));
    expected.push_back(QStringLiteral("[.1.] spaet"));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("frisch"), 0, 0, At(2000));
    expected.push_back(QStringLiteral("frisch"));

    EXPECT_EQ(Messages(Logger->TakeEntries()), expected);
    ASSERT_EQ(Reports.size(), expected.size());
    EXPECT_EQ(Reports[51].Message, QStringLiteral("[.1.] spaet"));
    EXPECT_TRUE(AllLogText().contains("\tWarnung \t[.1.] spaet \t"));

    Logger->SetLimitMessageRate(false);
    for (int i = 0; i < 60; ++i)
        Logger->Log(etWarning, 2, nullptr, QStringLiteral("x"), 0, 0, At(3000));
    EXPECT_EQ(Logger->TakeEntries().size(), 60u);
}

TEST_F(EventLogTest, FullQueueIsMarkedOnceAndStillTakesErrors)
{
    Logger->SetSaveLog(true);
    Logger->SetLimitMessageRate(false);
    for (int i = 0; i < 300; ++i)
        Logger->Log(etWarning, 2, nullptr, QStringLiteral("w%1").arg(i));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("verdrängt 1"));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("verdrängt 2"));
    Logger->Log(etSilentError, 1, nullptr, QStringLiteral("Fehler danach"));

    TEventLogEntryList entries = Logger->TakeEntries();
    ASSERT_EQ(entries.size(), 302u);
    const TEventLogEntry &marker = *entries[300];
    EXPECT_EQ(marker.Message, Marker());
    EXPECT_EQ(marker.EventType, etInformation);
    EXPECT_EQ(marker.SenderName, QStringLiteral("TEventLogger"));
    EXPECT_EQ(marker.Sender, Logger.get());
    EXPECT_EQ(entries[301]->Message, QStringLiteral("Fehler danach"));
    // Not queued, yet written and reported.
    EXPECT_TRUE(AllLogText().contains("verdr\xE4ngt 2 \t"));
    EXPECT_EQ(Reports[301].Message, QStringLiteral("verdrängt 2"));

    // Taking the queue opens it again.
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("wieder"));
    EXPECT_EQ(Messages(Logger->TakeEntries()), std::vector<QString>{QStringLiteral("wieder")});
}

TEST_F(EventLogTest, GapIsMarkedAlsoWhenErrorsFilledTheQueue)
{
    Logger->SetLimitMessageRate(false);
    for (int i = 0; i < 299; ++i)
        Logger->Log(etWarning, 2, nullptr, QStringLiteral("w"));
    Logger->Log(etError, 1, nullptr, QStringLiteral("f1"));
    Logger->Log(etError, 1, nullptr, QStringLiteral("f2"));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("verloren"));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("verloren"));

    const TEventLogEntryList entries = Logger->TakeEntries();
    ASSERT_EQ(entries.size(), 302u);
    EXPECT_EQ(entries[301]->Message, Marker());
}

TEST_F(EventLogTest, SystemLogGetsErrorsAndWarningsAlwaysAndOthersOnRequest)
{
    AppInfo().DebugEnabled = true;
    struct Row
    {
        TEventType Type;
        bool Requested;
        std::optional<TSystemEventKind> Expected;
    };
    const Row rows[] = {
        {etError, false, TSystemEventKind::Error},
        {etSilentError, false, TSystemEventKind::Error},
        {etWarning, false, TSystemEventKind::Warning},
        {etSilentWarning, false, TSystemEventKind::Warning},
        {etInformation, false, std::nullopt},
        {etInformation, true, TSystemEventKind::Information},
        {etGeneric, false, std::nullopt},
        {etGeneric, true, TSystemEventKind::Information},
        {etAuditSuccess, true, TSystemEventKind::Information},
        {etAuditFailure, false, std::nullopt},
        {etDebug, true, TSystemEventKind::Information},
    };
    Logger->SetLimitMessageRate(false);
    for (const Row &row : rows) {
        SCOPED_TRACE(EventTypeName(row.Type).toStdString() + (row.Requested ? " requested" : ""));
        Reports.clear();
        Logger->LogNamed(row.Type, 1, QStringLiteral("TProbe"), nullptr, QStringLiteral("m"), 1, 77,
                         0, row.Requested);
        ASSERT_EQ(Reports.size(), row.Expected ? 1u : 0u);
        if (row.Expected) {
            EXPECT_EQ(Reports[0].Kind, *row.Expected);
            EXPECT_EQ(Reports[0].Category, 0u);
            EXPECT_EQ(Reports[0].EventID, 77u);
        }
    }

    Reports.clear();
    Logger->SetGenerateWindowsEventLogEntries(false);
    Logger->Log(etError, 1, nullptr, QStringLiteral("still"), 0, 0, 0, true);
    EXPECT_TRUE(Reports.empty());
    EXPECT_EQ(Logger->TakeEntries().size(), std::size(rows) + 1);
}

TEST_F(EventLogTest, SetSaveLogClosesTheFileOnlyWhenTheValueChanges)
{
    Logger->SetSaveLog(true);
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("eins"));
    const QString current = Logger->Writer().CurrentFilePath();
    ASSERT_FALSE(current.isEmpty());

    Logger->SetSaveLog(true);
    EXPECT_EQ(Logger->Writer().CurrentFilePath(), current);
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("zwei"));
    EXPECT_TRUE(ReadFile(current).contains("zwei"));

    Logger->SetSaveLog(false);
    EXPECT_TRUE(Logger->Writer().CurrentFilePath().isEmpty());
    const QStringList closed = Files();
    ASSERT_EQ(closed.size(), 1);
    EXPECT_TRUE(closed[0].endsWith(QStringLiteral(".log")));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("drei"));
    EXPECT_EQ(Files(), closed);
    EXPECT_FALSE(AllLogText().contains("drei"));
}

TEST_F(EventLogTest, NotifyWindowGetsOneMessagePerQueuedEvent)
{
    TNotifyCounter receiver;
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("vorher 1"));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("vorher 2"));
    Logger->SetNotifyWindow(&receiver);
    EXPECT_EQ(receiver.Deliver(), 1) << "waiting entries are announced once at registration";

    Logger->Log(etWarning, 2, nullptr, QStringLiteral("a"));
    Logger->Log(etWarning, 5, nullptr, QStringLiteral("gefiltert"));
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("b"));
    EXPECT_EQ(receiver.Deliver(), 3);
    EXPECT_EQ(Logger->TakeEntries().size(), 4u);

    Logger->SetNotifyWindow(nullptr);
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("c"));
    Logger->TakeEntries();
    Logger->SetNotifyWindow(&receiver);
    EXPECT_EQ(receiver.Deliver(), 3) << "nothing is posted without receiver or waiting entries";

    // A receiver that goes away without unregistering is not posted to.
    auto gone = std::make_unique<TNotifyCounter>();
    Logger->SetNotifyWindow(gone.get());
    gone.reset();
    Logger->Log(etWarning, 2, nullptr, QStringLiteral("d"));
    QCoreApplication::sendPostedEvents();
}

TEST_F(EventLogTest, ConcurrentProducersLoseAndDuplicateNothing)
{
    constexpr int Threads = 8;
    constexpr int PerThread = 30;
    AppInfo().DebugEnabled = true;
    Logger->SetLimitMessageRate(false);
    Logger->SetSaveLog(true);

    std::atomic<bool> producing{true};
    TEventLogEntryList taken;
    std::thread consumer([&] {
        while (producing.load()) {
            for (auto &entry : Logger->TakeEntries())
                taken.push_back(std::move(entry));
            Logger->Senders();
        }
    });
    std::vector<std::thread> producers;
    for (int t = 0; t < Threads; ++t)
        producers.emplace_back([this, t] {
            const QString sender = QStringLiteral("TWorker%1").arg(t);
            for (int i = 0; i < PerThread; ++i)
                Logger->LogNamed(i % 2 ? etDebug : etInformation, 3, sender, nullptr,
                                 QStringLiteral("T%1-%2").arg(t).arg(i));
        });
    for (std::thread &producer : producers)
        producer.join();
    producing = false;
    consumer.join();
    for (auto &entry : Logger->TakeEntries())
        taken.push_back(std::move(entry));

    ASSERT_EQ(taken.size(), size_t(Threads * PerThread));
    std::set<QString> messages;
    std::map<QString, std::set<quint32>> threadsOfSender;
    for (const auto &entry : taken) {
        messages.insert(entry->Message);
        threadsOfSender[entry->SenderName].insert(entry->ThreadID);
    }
    EXPECT_EQ(messages.size(), size_t(Threads * PerThread));
    EXPECT_EQ(threadsOfSender.size(), size_t(Threads));
    std::set<quint32> threadIDs;
    for (const auto &[sender, ids] : threadsOfSender) {
        EXPECT_EQ(ids.size(), 1u) << qPrintable(sender);
        threadIDs.insert(*ids.begin());
    }
    EXPECT_EQ(threadIDs.size(), size_t(Threads));
    EXPECT_EQ(Logger->Senders().size(), size_t(Threads));

    const QByteArray text = AllLogText();
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i)
            EXPECT_EQ(text.count(QStringLiteral("\tT%1-%2 \t").arg(t).arg(i).toLatin1()), 1);
}

TEST_F(EventLogTest, SettingsRoundTripThroughTheRegistry)
{
    TRegistry registry(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(BaseKey + QStringLiteral("EventLog\\Sender"), true));
    ASSERT_TRUE(registry.WriteBool(QStringLiteral("TVeraltet"), true));

    Logger->SetLoggingLevel(5);
    Logger->SetLimitMessageRate(false);
    Logger->SetSaveLog(true);
    Logger->SetGenerateWindowsEventLogEntries(false);
    Logger->IsSenderEnabled(QStringLiteral("TAlpha"));
    Logger->IsSenderEnabled(QStringLiteral("TBeta"));
    Logger->SetSenderEnabled(QStringLiteral("TBeta"), false);
    Logger->Writer().SetMaxFileSize(150000);          // 146 KB
    Logger->Writer().SetMaxDirSize(3 * 1048576 + 17); // 3 MB
    Logger->SaveSettings();

    // The stored values under their own names.
    ASSERT_TRUE(registry.OpenKey(BaseKey + QStringLiteral("EventLog"), false));
    EXPECT_EQ(registry.ReadInteger(QStringLiteral("LoggingLevel")), 5);
    EXPECT_EQ(registry.ReadBool(QStringLiteral("LimitMessageRate")), false);
    EXPECT_EQ(registry.ReadBool(QStringLiteral("SaveLog")), true);
    EXPECT_EQ(registry.ReadBool(QStringLiteral("GenerateWindowsEventLogEntries")), false);
    EXPECT_EQ(registry.ReadInteger(QStringLiteral("MaxFileSize")), 146);
    EXPECT_EQ(registry.ReadInteger(QStringLiteral("MaxDirSize")), 3);
    EXPECT_EQ(registry.ReadString(QStringLiteral("EventLogPath")), LogDir.path());
    ASSERT_TRUE(registry.OpenKey(BaseKey + QStringLiteral("EventLog\\Sender"), false));
    EXPECT_EQ(registry.GetValueNames(),
              (QStringList{QStringLiteral("TAlpha"), QStringLiteral("TBeta")}));

    const auto loaded = NewLogger();
    EXPECT_EQ(loaded->LoggingLevel(), 5);
    EXPECT_FALSE(loaded->LimitMessageRate());
    EXPECT_TRUE(loaded->SaveLog());
    EXPECT_FALSE(loaded->GenerateWindowsEventLogEntries());
    EXPECT_EQ(loaded->Writer().MaxFileSize(), 146 * 1024);
    EXPECT_EQ(loaded->Writer().MaxDirSize(), 3 * 1048576);
    EXPECT_EQ(loaded->Writer().Directory(), LogDir.path());
    const auto senders = loaded->Senders();
    ASSERT_EQ(senders.size(), 2u);
    EXPECT_EQ(senders[0].Name, QStringLiteral("TAlpha"));
    EXPECT_TRUE(senders[0].Enabled);
    EXPECT_EQ(senders[1].Name, QStringLiteral("TBeta"));
    EXPECT_FALSE(senders[1].Enabled);

    // Loading again does not list a sender twice.
    loaded->LoadSettings();
    EXPECT_EQ(loaded->Senders().size(), 2u);
}

TEST_F(EventLogTest, UnreadableSettingsKeepTheirDefaultsWithoutStoppingTheOthers)
{
    TRegistry registry(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(BaseKey + QStringLiteral("EventLog"), true));
    registry.WriteString(QStringLiteral("LoggingLevel"), QStringLiteral("5"));
    registry.WriteInteger(QStringLiteral("GenerateWindowsEventLogEntries"), 0);
    registry.WriteString(QStringLiteral("MaxFileSize"), QStringLiteral("viel"));
    registry.WriteInteger(QStringLiteral("MaxDirSize"), -1);
    registry.WriteString(QStringLiteral("EventLogPath"), QString());
    ASSERT_TRUE(registry.OpenKey(BaseKey + QStringLiteral("EventLog\\Sender"), true));
    registry.WriteString(QStringLiteral("TText"), QStringLiteral("ja"));
    registry.WriteBool(QStringLiteral("TAus"), false);

    const auto loaded = NewLogger();
    EXPECT_EQ(loaded->LoggingLevel(), 3);
    EXPECT_TRUE(loaded->LimitMessageRate());
    EXPECT_FALSE(loaded->SaveLog());
    EXPECT_FALSE(loaded->GenerateWindowsEventLogEntries());
    EXPECT_EQ(loaded->Writer().MaxFileSize(), TLogWriter::DefaultMaxFileSize);
    EXPECT_EQ(loaded->Writer().MaxDirSize(), TLogWriter::DefaultMaxDirSize);
    EXPECT_EQ(loaded->Writer().Directory(), TLogWriter::DefaultDirectory());
    const auto senders = loaded->Senders();
    ASSERT_EQ(senders.size(), 1u);
    EXPECT_EQ(senders[0].Name, QStringLiteral("TAus"));
    EXPECT_FALSE(senders[0].Enabled);
}

TEST_F(EventLogTest, ProcessWideLoggerIsFinishedByFreeEventLogger)
{
    TEventLogger &created = CreateEventLogger(BaseKey);
    EXPECT_EQ(&EventLogger(), &created);
    created.SetGenerateWindowsEventLogEntries(false);
    created.Writer().SetDirectory(LogDir.path());
    created.SetSaveLog(true);
    created.Log(etInformation, 3, nullptr, QStringLiteral("zum Schluss"));
    ASSERT_TRUE(Files()[0].endsWith(QStringLiteral(".~og")));

    FreeEventLogger();
    ASSERT_EQ(Files().size(), 1);
    EXPECT_TRUE(Files()[0].endsWith(QStringLiteral(".log")));
    TRegistry registry(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(BaseKey + QStringLiteral("EventLog"), false));
    EXPECT_EQ(registry.ReadBool(QStringLiteral("SaveLog")), true);

    // Without settings the first use creates one on the product's key.
    ASSERT_EQ(Configuration(), nullptr);
    EXPECT_EQ(EventLogger().BaseKey(), AppInfo().RegistryKey);
    FreeEventLogger();
}
