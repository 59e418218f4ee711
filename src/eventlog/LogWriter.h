// Writes recorded events as lines to rotating log files (Windows-1252, CR LF), named by the time
// of their first event, and keeps the log directory below a size limit.
#pragma once

#include "eventlog/xEventLog.h"
#include "platform/system/DateTime.h"

#include <QFile>
#include <QString>
#include <QtGlobal>
#include <mutex>

// One log-file line without its line end.
QString FormatEventLine(TEventType eventType, const QString &message, TDateTime timeStamp,
                        const void *sender, const QString &senderName, quint32 threadID);

class TLogWriter
{
public:
    static inline const QString WritingExtension = QStringLiteral(".~og");
    static inline const QString FinalExtension = QStringLiteral(".log");
    static constexpr qint64 DefaultMaxFileSize = 102400;
    static constexpr qint64 DefaultMaxDirSize = 10485760;
    static constexpr double ErrorReportIntervalSecs = 30.0;

    // Reads the settings below baseKey's "EventLog\" subkey. Write errors are reported through
    // logger, which may be null (then they are only swallowed).
    TLogWriter(const QString &baseKey, TEventLogger *logger);
    // Closes the current file, giving it its final name.
    ~TLogWriter();
    TLogWriter(const TLogWriter &) = delete;
    TLogWriter &operator=(const TLogWriter &) = delete;

    // Appends one event line, opening a file first when none is open. Never throws: failures
    // are reported through the logger as a warning at most every 30 seconds. The report takes
    // the logger's lock inside this writer's lock, so only the logger (holding its lock already)
    // may call this.
    void Write(TEventType eventType, const QString &message, TDateTime timeStamp,
               const void *sender, const QString &senderName);
    // Without force, closes only a file that has grown past MaxFileSize.
    void Close(bool force);

    QString Directory() const;
    // A different directory closes the current file first; an empty one means the default.
    void SetDirectory(const QString &directory);
    qint64 MaxFileSize() const;
    void SetMaxFileSize(qint64 bytes);
    qint64 MaxDirSize() const;
    void SetMaxDirSize(qint64 bytes);
    TDateTime LastErrorReport() const;
    void SetLastErrorReport(TDateTime value);

    // Path of the file being written (with the writing extension); empty when none is started.
    QString CurrentFilePath() const;

    void LoadSettings();
    void SaveSettings();

    // ExePath + "Log/", or the user's state directory when the executable's folder is not
    // writable (an installed program).
    static QString DefaultDirectory();

private:
    void OpenFile(TDateTime timeStamp);
    void PruneDirectory();
    void ReportError(const QString &message);

    mutable std::recursive_mutex m_Lock;
    const QString m_BaseKey;
    TEventLogger *m_Logger;
    QFile m_File;
    QString m_FileStem; // Directory + "/YY-MM-DD_HH-NN-SS_n", without extension
    bool m_Started = false;
    TDateTime m_LastErrorReport = 0;
    qint64 m_MaxDirSize = DefaultMaxDirSize;
    qint64 m_MaxFileSize = DefaultMaxFileSize;
    QString m_Directory;
};
