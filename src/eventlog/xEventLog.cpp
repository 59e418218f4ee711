#include "eventlog/xEventLog.h"

#include "eventlog/LogWriter.h"
#include "platform/registry/Registry.h"
#include "platform/system/WindowMessages.h"
#include "settings/xCommon.h"

#include <QObject>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <unistd.h>

namespace {
const QString OverflowMessage =
    QStringLiteral("Zuviele Ereignisse in der Warteschlange. Es gingen Ereignisse verloren");

QString SenderKey(const QString &baseKey)
{
    return EventLogSettingsKey(baseKey) + QStringLiteral("Sender\\");
}

bool IsError(TEventType eventType)
{
    return eventType == etError || eventType == etSilentError;
}

// Drops "ns::" and "(anonymous namespace)::" qualifiers outside template arguments.
QString StripNamespaces(const QString &name)
{
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c == u'<' || c == u'(')
            ++depth;
        else if (c == u'>' || c == u')')
            --depth;
        else if (depth == 0 && c == u':' && i + 1 < name.size() && name[i + 1] == u':')
            start = i + 2;
    }
    return name.mid(start);
}

// Set only under the lock, read without it: every part of the program logs, and most calls would
// otherwise contend for one mutex. Deliberately not destroyed by a static destructor, which could
// run after the registry it saves to is gone; FreeEventLogger finishes it at the end of the run.
std::mutex g_InstanceLock;
std::atomic<TEventLogger *> g_Instance{nullptr};

// Both under g_InstanceLock. The old logger is finished before a new one loads the settings it
// saved.
void FreeInstance()
{
    std::unique_ptr<TEventLogger> old(g_Instance.exchange(nullptr, std::memory_order_acq_rel));
}

TEventLogger &CreateInstance(const QString &baseKey)
{
    FreeInstance();
    auto logger = std::make_unique<TEventLogger>(baseKey);
    g_Instance.store(logger.get(), std::memory_order_release);
    return *logger.release();
}
} // namespace

QString EventTypeName(TEventType eventType)
{
    const auto index = static_cast<std::size_t>(eventType);
    return index < EventTypeNames.size() ? EventTypeNames[index].toString() : QString();
}

QString ClassNameOf(const std::type_info &type)
{
    int status = 0;
    char *demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    const QString name = QString::fromUtf8(status == 0 && demangled ? demangled : type.name());
    std::free(demangled);
    return StripNamespaces(name);
}

QString EventLogSettingsKey(const QString &baseKey)
{
    // The registry ignores doubled backslashes, so a base key with or without one joins cleanly.
    return baseKey + QStringLiteral("\\EventLog\\");
}

quint32 CurrentThreadID()
{
    return static_cast<quint32>(::gettid());
}

TEventLogger::TEventLogger(const QString &baseKey, std::unique_ptr<TSystemEventSource> systemLog)
    : m_BaseKey(baseKey), m_SystemLog(std::move(systemLog))
{
    m_Writer = std::make_unique<TLogWriter>(m_BaseKey, this);
    if (!m_SystemLog) {
        const QString &product = AppInfo().ProductName;
        m_SystemLog =
            std::make_unique<TSyslogEventSource>(product.isEmpty() ? AppInfo().ExeName : product);
    }
    LoadSettings();
}

TEventLogger::~TEventLogger()
{
    TakeEntries();
    CloseLogFile();
    SaveSettings();
    m_Writer.reset(); // while the queue and the system log it may report to still exist
}

void TEventLogger::Record(TEventType eventType, quint8 level, const std::type_info *senderType,
                          const QString &senderName, const void *sender, const QString &message,
                          quint16 category, quint32 eventID, TDateTime timeStamp,
                          bool reportToWindowsLog)
{
    bool queued = false;
    {
        std::lock_guard lock(m_Lock);
        if (level > m_LoggingLevel)
            return;
        // The class name is only worked out for events that pass the level filter.
        const QString name = senderType ? CachedClassName(*senderType) : senderName;
        if (eventType == etDebug && !(AppInfo().DebugEnabled && IsSenderEnabled(name)))
            return;
        if (timeStamp == 0)
            timeStamp = Now();
        if (!PassesRateLimit(eventType, timeStamp))
            return;

        QString text = message;
        if (m_SuppressedCount > 0) {
            text = QStringLiteral("[.%1.] ").arg(m_SuppressedCount) + message;
            m_SuppressedCount = 0;
        }

        if (m_SaveLog)
            m_Writer->Write(eventType, text, timeStamp, sender, name);
        if (m_GenerateWindowsEventLogEntries)
            ReportToSystemLog(eventType, eventID, text, reportToWindowsLog);

        if (m_Queue.size() < MaxQueuedEntries || IsError(eventType)) {
            m_Queue.push_back(std::make_unique<const TEventLogEntry>(TEventLogEntry{
                eventType, text, eventID, category, name, sender, CurrentThreadID(), timeStamp}));
            queued = true;
        } else if (!m_OverflowMarked) {
            m_Queue.push_back(std::make_unique<const TEventLogEntry>(
                TEventLogEntry{etInformation, OverflowMessage, 0, 0, QStringLiteral("TEventLogger"),
                               this, CurrentThreadID(), Now()}));
            m_OverflowMarked = true;
            queued = true;
        }
    }
    if (queued)
        Notify();
}

QString TEventLogger::CachedClassName(const std::type_info &type)
{
    auto it = m_ClassNames.find(type);
    if (it == m_ClassNames.end())
        it = m_ClassNames.emplace(type, ClassNameOf(type)).first;
    return it->second;
}

bool TEventLogger::PassesRateLimit(TEventType eventType, TDateTime timeStamp)
{
    if (m_LimitMessageRate && !IsError(eventType)) {
        const double sinceOldest = (timeStamp - m_RateRing[m_RateOldest]) * SecsPerDay;
        const double sinceNewest = (timeStamp - m_RateRing[m_RateNewest]) * SecsPerDay;
        if (sinceOldest <= 1.0 && sinceNewest <= 0.2) {
            ++m_SuppressedCount;
            return false;
        }
    }
    m_RateOldest = (m_RateOldest + 1) % RateRingSize;
    m_RateNewest = (m_RateNewest + 1) % RateRingSize;
    m_RateRing[m_RateNewest] = timeStamp;
    return true;
}

void TEventLogger::ReportToSystemLog(TEventType eventType, quint32 eventID, const QString &message,
                                     bool reportToWindowsLog)
{
    if (!m_SystemLog)
        return;
    switch (eventType) {
    case etError:
    case etSilentError: m_SystemLog->Report(TSystemEventKind::Error, 0, eventID, message); break;
    case etWarning:
    case etSilentWarning:
        m_SystemLog->Report(TSystemEventKind::Warning, 0, eventID, message);
        break;
    default:
        if (reportToWindowsLog)
            m_SystemLog->Report(TSystemEventKind::Information, 0, eventID, message);
        break;
    }
}

void TEventLogger::Notify()
{
    std::lock_guard lock(m_NotifyLock);
    if (m_NotifyWindow)
        PostMessage(m_NotifyWindow.data(), WM_EVENTLOGNOTIFY);
}

void TEventLogger::SetNotifyWindow(QObject *receiver)
{
    {
        std::lock_guard lock(m_NotifyLock);
        m_NotifyWindow = receiver;
    }
    bool waiting = false;
    {
        std::lock_guard lock(m_Lock);
        waiting = !m_Queue.empty();
    }
    if (waiting)
        Notify();
}

TEventLogEntryList TEventLogger::TakeEntries()
{
    TEventLogEntryList entries;
    std::lock_guard lock(m_Lock);
    entries.swap(m_Queue);
    m_OverflowMarked = false;
    return entries;
}

bool TEventLogger::IsSenderEnabled(const QString &senderName)
{
    // Names are stored cut to length, so look them up cut as well or long names pile up.
    const QString name = senderName.left(MaxSenderNameLength);
    std::lock_guard lock(m_SenderLock);
    for (const TEventLogSender &sender : m_Senders)
        if (sender.Name.compare(name, Qt::CaseInsensitive) == 0)
            return sender.Enabled;
    m_Senders.push_back(TEventLogSender{name, true});
    return true;
}

std::vector<TEventLogSender> TEventLogger::Senders() const
{
    std::lock_guard lock(m_SenderLock);
    return m_Senders;
}

bool TEventLogger::SetSenderEnabled(const QString &senderName, bool enabled)
{
    const QString name = senderName.left(MaxSenderNameLength);
    std::lock_guard lock(m_SenderLock);
    for (TEventLogSender &sender : m_Senders)
        if (sender.Name.compare(name, Qt::CaseInsensitive) == 0) {
            sender.Enabled = enabled;
            return true;
        }
    return false;
}

void TEventLogger::ClearSenders()
{
    std::lock_guard lock(m_SenderLock);
    m_Senders.clear();
}

void TEventLogger::CloseLogFile()
{
    std::lock_guard lock(m_Lock);
    m_Writer->Close(true);
}

quint8 TEventLogger::LoggingLevel() const
{
    std::lock_guard lock(m_Lock);
    return m_LoggingLevel;
}

void TEventLogger::SetLoggingLevel(quint8 level)
{
    std::lock_guard lock(m_Lock);
    m_LoggingLevel = level;
}

bool TEventLogger::LimitMessageRate() const
{
    std::lock_guard lock(m_Lock);
    return m_LimitMessageRate;
}

void TEventLogger::SetLimitMessageRate(bool limit)
{
    std::lock_guard lock(m_Lock);
    m_LimitMessageRate = limit;
}

bool TEventLogger::SaveLog() const
{
    std::lock_guard lock(m_Lock);
    return m_SaveLog;
}

void TEventLogger::SetSaveLog(bool save)
{
    std::lock_guard lock(m_Lock);
    if (save == m_SaveLog)
        return;
    m_Writer->Close(true);
    m_SaveLog = save;
}

bool TEventLogger::GenerateWindowsEventLogEntries() const
{
    std::lock_guard lock(m_Lock);
    return m_GenerateWindowsEventLogEntries;
}

void TEventLogger::SetGenerateWindowsEventLogEntries(bool generate)
{
    std::lock_guard lock(m_Lock);
    m_GenerateWindowsEventLogEntries = generate;
}

void TEventLogger::LoadSettings()
{
    std::lock_guard lock(m_Lock);
    TRegistry registry(HKEY_LOCAL_MACHINE);
    if (registry.OpenKey(EventLogSettingsKey(m_BaseKey), false)) {
        if (const auto value = registry.ReadBool(QStringLiteral("LimitMessageRate")))
            m_LimitMessageRate = *value;
        if (const auto value = registry.ReadBool(QStringLiteral("GenerateWindowsEventLogEntries")))
            m_GenerateWindowsEventLogEntries = *value;
        // A level outside a byte would wrap to an unrelated one.
        if (const auto value = registry.ReadInteger(QStringLiteral("LoggingLevel"));
            value && *value >= 0 && *value <= 255)
            m_LoggingLevel = static_cast<quint8>(*value);
        if (const auto value = registry.ReadBool(QStringLiteral("SaveLog")))
            m_SaveLog = *value;
    }
    if (registry.OpenKey(SenderKey(m_BaseKey), false)) {
        const QStringList names = registry.GetValueNames();
        std::lock_guard senderLock(m_SenderLock);
        for (const QString &valueName : names) {
            const auto enabled = registry.ReadBool(valueName);
            if (!enabled)
                continue;
            // A sender already listed takes the stored flag instead of appearing twice.
            const QString name = valueName.left(MaxSenderNameLength);
            auto it = std::find_if(m_Senders.begin(), m_Senders.end(), [&](const auto &sender) {
                return sender.Name.compare(name, Qt::CaseInsensitive) == 0;
            });
            if (it != m_Senders.end())
                it->Enabled = *enabled;
            else
                m_Senders.push_back(TEventLogSender{name, *enabled});
        }
    }
}

void TEventLogger::SaveSettings()
{
    {
        std::lock_guard lock(m_Lock);
        TRegistry registry(HKEY_LOCAL_MACHINE);
        if (registry.OpenKey(EventLogSettingsKey(m_BaseKey), true)) {
            registry.WriteBool(QStringLiteral("LimitMessageRate"), m_LimitMessageRate);
            registry.WriteBool(QStringLiteral("GenerateWindowsEventLogEntries"),
                               m_GenerateWindowsEventLogEntries);
            registry.WriteInteger(QStringLiteral("LoggingLevel"), m_LoggingLevel);
            registry.WriteBool(QStringLiteral("SaveLog"), m_SaveLog);
        }
        if (registry.OpenKey(SenderKey(m_BaseKey), true)) {
            for (const QString &name : registry.GetValueNames())
                registry.DeleteValue(name);
            std::lock_guard senderLock(m_SenderLock);
            for (const TEventLogSender &sender : m_Senders)
                registry.WriteBool(sender.Name, sender.Enabled);
        }
    }
    m_Writer->SaveSettings();
}

TEventLogger &EventLogger()
{
    if (TEventLogger *logger = g_Instance.load(std::memory_order_acquire))
        return *logger;
    std::lock_guard lock(g_InstanceLock);
    if (TEventLogger *logger = g_Instance.load(std::memory_order_acquire))
        return *logger;
    const TConfiguration *configuration = Configuration();
    return CreateInstance(configuration ? configuration->BaseKey() : AppInfo().RegistryKey);
}

TEventLogger &CreateEventLogger(const QString &baseKey)
{
    std::lock_guard lock(g_InstanceLock);
    return CreateInstance(baseKey);
}

void FreeEventLogger()
{
    std::lock_guard lock(g_InstanceLock);
    FreeInstance();
}
