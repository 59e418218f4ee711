// The process-wide event logger: filters, rate-limits and distributes the events of every part of
// the program to the log file, the system log and the queue the main window drains.
#pragma once

#include "platform/system/DateTime.h"
#include "platform/system/SystemEventLog.h"

#include <QPointer>
#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <vector>

class QObject;
class TLogWriter;

enum TEventType : quint8 {
    etGeneric = 0,
    etError = 1,
    etWarning = 2,
    etInformation = 3,
    etAuditSuccess = 4,
    etAuditFailure = 5,
    etDebug = 6,
    etSilentError = 7,
    etSilentWarning = 8,
};

inline constexpr std::size_t EventTypeCount = 9;

// Display names, indexed by TEventType. Views of literals, so usable before any static
// initialisation has run.
inline constexpr std::array<QStringView, EventTypeCount> EventTypeNames = {u"Generisch",
                                                                           u"Fehler",
                                                                           u"Warnung",
                                                                           u"Information",
                                                                           u"Audit erfolgreich",
                                                                           u"Audit fehlgeschlagen",
                                                                           u"Debug",
                                                                           u"Fehler",
                                                                           u"Warnung"};

// The display name of type; empty for a value outside the enumeration.
QString EventTypeName(TEventType type);

// One queued event; immutable once queued.
struct TEventLogEntry
{
    TEventType EventType = etGeneric;
    QString Message;
    quint32 EventID = 0;
    quint16 Category = 0;
    QString SenderName;
    const void *Sender = nullptr; // only its address is ever shown; not owned
    quint32 ThreadID = 0;
    TDateTime TimeStamp = 0;
};

using TEventLogEntryList = std::vector<std::unique_ptr<const TEventLogEntry>>;

// A debug sender and whether its debug events are recorded.
struct TEventLogSender
{
    QString Name;
    bool Enabled = true;
};

// The class name of a dynamic type without namespaces: "TOPCClientBridge" for
// "tidewell::TOPCClientBridge".
QString ClassNameOf(const std::type_info &type);

// The "EventLog\" settings key below baseKey (HKEY_LOCAL_MACHINE).
QString EventLogSettingsKey(const QString &baseKey);

// The id of the calling thread as the system shows it.
quint32 CurrentThreadID();

class TEventLogger
{
public:
    static constexpr qsizetype MaxQueuedEntries = 300;
    static constexpr int RateRingSize = 50;
    static constexpr int MaxSenderNameLength = 255;

    // baseKey is the installation's settings key below HKEY_LOCAL_MACHINE; the event-log values
    // live in its "EventLog\" subkey. Without systemLog, events go to syslog under the product
    // name. Loads the settings.
    explicit TEventLogger(const QString &baseKey,
                          std::unique_ptr<TSystemEventSource> systemLog = nullptr);
    // Drops the queue unseen, closes the log file and saves the settings.
    ~TEventLogger();
    TEventLogger(const TEventLogger &) = delete;
    TEventLogger &operator=(const TEventLogger &) = delete;

    // Records an event of an object; the sender name is the object's class name.
    template <typename T>
    requires(!std::is_void_v<T>) void Log(TEventType eventType, quint8 level, const T *sender,
                                          const QString &message, quint16 category = 0,
                                          quint32 eventID = 0, TDateTime timeStamp = 0,
                                          bool reportToWindowsLog = false)
    {
        Record(eventType, level, sender ? &typeid(*sender) : nullptr, QString(), sender, message,
               category, eventID, timeStamp, reportToWindowsLog);
    }
    void Log(TEventType eventType, quint8 level, std::nullptr_t, const QString &message,
             quint16 category = 0, quint32 eventID = 0, TDateTime timeStamp = 0,
             bool reportToWindowsLog = false)
    {
        Record(eventType, level, nullptr, QString(), nullptr, message, category, eventID, timeStamp,
               reportToWindowsLog);
    }
    void LogNamed(TEventType eventType, quint8 level, const QString &senderName, const void *sender,
                  const QString &message, quint16 category = 0, quint32 eventID = 0,
                  TDateTime timeStamp = 0, bool reportToWindowsLog = false)
    {
        Record(eventType, level, nullptr, senderName, sender, message, category, eventID, timeStamp,
               reportToWindowsLog);
    }

    // The receiver of WM_EVENTLOGNOTIFY (nullptr: none); notified at once when entries wait.
    // Once this returns, nothing more is posted to a previous receiver.
    void SetNotifyWindow(QObject *receiver);
    // The waiting entries; the queue is left empty.
    TEventLogEntryList TakeEntries();

    // Debug-sender filter: unknown names are added as enabled.
    bool IsSenderEnabled(const QString &senderName);
    std::vector<TEventLogSender> Senders() const;
    // False when no sender of that name is listed.
    bool SetSenderEnabled(const QString &senderName, bool enabled);
    void ClearSenders();

    // Closes the current log file so that the next event starts a new one.
    void CloseLogFile();

    quint8 LoggingLevel() const;
    void SetLoggingLevel(quint8 level);
    bool LimitMessageRate() const;
    void SetLimitMessageRate(bool limit);
    bool SaveLog() const;
    // A new value closes the current log file first.
    void SetSaveLog(bool save);
    bool GenerateWindowsEventLogEntries() const;
    void SetGenerateWindowsEventLogEntries(bool generate);

    TLogWriter &Writer() { return *m_Writer; }

    void LoadSettings();
    // Also saves the writer's settings.
    void SaveSettings();

    const QString &BaseKey() const { return m_BaseKey; }

private:
    void Record(TEventType eventType, quint8 level, const std::type_info *senderType,
                const QString &senderName, const void *sender, const QString &message,
                quint16 category, quint32 eventID, TDateTime timeStamp, bool reportToWindowsLog);
    QString CachedClassName(const std::type_info &type);
    bool PassesRateLimit(TEventType eventType, TDateTime timeStamp);
    void ReportToSystemLog(TEventType eventType, quint32 eventID, const QString &message,
                           bool reportToWindowsLog);
    void Notify();

    mutable std::recursive_mutex m_Lock;
    const QString m_BaseKey;
    std::unique_ptr<TSystemEventSource> m_SystemLog;
    std::unique_ptr<TLogWriter> m_Writer;
    TEventLogEntryList m_Queue;
    // The gap marker is queued once per overflow, even when errors pushed the queue past the
    // limit before a non-error had to be dropped.
    bool m_OverflowMarked = false;
    std::unordered_map<std::type_index, QString> m_ClassNames;

    // Posting happens under it, so a receiver can unregister safely; recursive in case a Qt
    // message handler logs from inside the post.
    std::recursive_mutex m_NotifyLock;
    QPointer<QObject> m_NotifyWindow;

    mutable std::mutex m_SenderLock;
    std::vector<TEventLogSender> m_Senders;

    quint32 m_SuppressedCount = 0;
    std::array<TDateTime, RateRingSize> m_RateRing{};
    int m_RateOldest = 0;
    int m_RateNewest = RateRingSize - 1;

    quint8 m_LoggingLevel = 3;
    bool m_LimitMessageRate = true;
    bool m_SaveLog = false;
    bool m_GenerateWindowsEventLogEntries = true;
};

// The process-wide logger, created at the first call on the settings' base key (or the product's
// registry key when no settings exist yet).
TEventLogger &EventLogger();
// Creates the process-wide logger on baseKey, finishing any earlier one first.
TEventLogger &CreateEventLogger(const QString &baseKey);
// Finishes and frees the process-wide logger: at the end of the process, when no thread logs.
void FreeEventLogger();
