#include "eventlog/LogWriter.h"

#include "platform/registry/Registry.h"
#include "platform/system/Exception.h"
#include "platform/system/Windows1252.h"
#include "settings/xCommon.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace {
const QString CrLf = QStringLiteral("\r\n");
const QString Separator = QStringLiteral(" \t");

// Formats the wall-clock fields of a local date-time. Going through UTC keeps times that fall
// into a daylight-saving gap from becoming invalid (and formatting as empty text).
QString FormatWallClock(const QString &pattern, TDateTime value)
{
    return QDateTime(DateOf(value), TimeOf(value), Qt::UTC).toString(pattern);
}

QString Hex(quint64 value, int minDigits)
{
    return QString::number(value, 16).toUpper().rightJustified(minDigits, u'0');
}

// Also true for a dangling symbolic link, which would make creating the file fail.
bool Occupied(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

std::int32_t ClampToInt32(qint64 value)
{
    return static_cast<std::int32_t>(std::clamp<qint64>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

QByteArray Header()
{
    const QString rule(88, u'=');
    const TAppInfo &info = AppInfo();
    const QString text = rule + CrLf + QStringLiteral("Product         : ") + info.ProductName +
                         CrLf + QStringLiteral("Version         : ") + info.ProductVersion + CrLf +
                         QStringLiteral("File version    : ") + info.FileVersion + CrLf +
                         QStringLiteral("Operating system: ") + info.OSName + CrLf +
                         QStringLiteral("Computer name   : ") + info.ComputerName + CrLf + rule +
                         CrLf + CrLf;
    return EncodeWindows1252(text);
}

QByteArray EventLine(TEventType eventType, const QString &message, TDateTime timeStamp,
                     const void *sender, const QString &senderName)
{
    return EncodeWindows1252(
        FormatEventLine(eventType, message, timeStamp, sender, senderName, CurrentThreadID()) +
        CrLf);
}
} // namespace

QString FormatEventLine(TEventType eventType, const QString &message, TDateTime timeStamp,
                        const void *sender, const QString &senderName, quint32 threadID)
{
    QString line = FormatWallClock(QStringLiteral("yyyy-MM-dd hh:mm:ss,zzz"), timeStamp) +
                   Separator + EventTypeName(eventType) + Separator + message + Separator;
    if (AppInfo().DebugEnabled && !senderName.isEmpty()) {
        // All digits of the address: on 64-bit systems eight would cut it.
        line += u'[' + senderName + QStringLiteral(" at $") +
                Hex(reinterpret_cast<quintptr>(sender), 8) + u']' + Separator +
                QStringLiteral("[Thread $") + Hex(threadID, 4) + u']';
    }
    return line;
}

TLogWriter::TLogWriter(const QString &baseKey, TEventLogger *logger)
    : m_BaseKey(baseKey), m_Logger(logger), m_Directory(DefaultDirectory())
{
    LoadSettings();
}

TLogWriter::~TLogWriter()
{
    Close(true);
}

QString TLogWriter::DefaultDirectory()
{
    const QString exePath = AppInfo().ExePath;
    if (!exePath.isEmpty()) {
        const QFileInfo logDir(exePath + QStringLiteral("Log"));
        const bool usable = logDir.exists() ? logDir.isDir() && logDir.isWritable()
                                            : QFileInfo(exePath).isWritable();
        if (usable)
            return exePath + QStringLiteral("Log/");
    }
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateHome.isEmpty() || QDir::isRelativePath(stateHome))
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    return stateHome + QStringLiteral("/tidewell/Log/");
}

void TLogWriter::Write(TEventType eventType, const QString &message, TDateTime timeStamp,
                       const void *sender, const QString &senderName)
{
    std::lock_guard lock(m_Lock);
    QString error;
    try {
        if (!m_File.isOpen())
            OpenFile(timeStamp);
        const QByteArray line = EventLine(eventType, message, timeStamp, sender, senderName);
        if (m_File.write(line) != line.size())
            throw Exception(QStringLiteral("In die Datei \"%1\" kann nicht geschrieben werden: %2")
                                .arg(m_File.fileName(), m_File.errorString()));
    } catch (const Exception &e) {
        error = e.Message();
    } catch (const std::exception &e) {
        error = QString::fromLocal8Bit(e.what());
    }
    if (!error.isEmpty() && m_File.isOpen())
        m_File.close(); // the file stays started: the next event reopens it and appends
    Close(false);
    if (!error.isEmpty())
        ReportError(error);
}

void TLogWriter::OpenFile(TDateTime timeStamp)
{
    if (m_Started) {
        const QString path = m_FileStem + WritingExtension;
        if (QFileInfo::exists(path)) {
            m_File.setFileName(path);
            if (!m_File.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::ExistingOnly |
                             QIODevice::Unbuffered))
                throw Exception(QStringLiteral("Die Datei \"%1\" kann nicht geöffnet werden: %2")
                                    .arg(path, m_File.errorString()));
            return;
        }
        // Removed meanwhile: start a new file rather than failing at every event.
        m_Started = false;
    }

    if (!QDir().mkpath(m_Directory))
        throw Exception(
            QStringLiteral("Das Verzeichnis \"%1\" kann nicht angelegt werden").arg(m_Directory));

    const QString stamp = u'/' + FormatWallClock(QStringLiteral("yy-MM-dd_hh-mm-ss_"), timeStamp);
    QString directory = m_Directory;
    if (directory.endsWith(u'/') && directory.size() > 1)
        directory.chop(1);
    for (int n = 0;; ++n) {
        const QString stem = directory + stamp + QString::number(n);
        // A leftover ".~og" of a crashed run is skipped at every number: replacing it would
        // destroy the only record of that run's last events.
        if (Occupied(stem + FinalExtension) || Occupied(stem + WritingExtension))
            continue;
        m_File.setFileName(stem + WritingExtension);
        if (m_File.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_FileStem = stem;
            break;
        }
        if (!Occupied(stem + WritingExtension)) // not merely taken by another process meanwhile
            throw Exception(QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden: %2")
                                .arg(m_File.fileName(), m_File.errorString()));
    }
    m_Started = true;
    const QByteArray header = Header();
    if (m_File.write(header) != header.size())
        throw Exception(QStringLiteral("In die Datei \"%1\" kann nicht geschrieben werden: %2")
                            .arg(m_File.fileName(), m_File.errorString()));
}

void TLogWriter::Close(bool force)
{
    std::lock_guard lock(m_Lock);
    if (!m_Started)
        return;
    if (m_File.isOpen()) {
        if (!force && m_File.size() <= m_MaxFileSize)
            return;
        m_File.close();
    } else if (!force) {
        return;
    }
    // A file left closed by a write error still gets its final name, or it would stay a
    // ".~og" that is never counted or pruned.
    QFile::rename(m_FileStem + WritingExtension, m_FileStem + FinalExtension);
    m_Started = false;
    m_FileStem.clear();
    PruneDirectory();
}

void TLogWriter::PruneDirectory()
{
    const QFileInfoList files = QDir(m_Directory).entryInfoList(QDir::Files, QDir::Name);
    qint64 total = 0;
    const QFileInfo *oldest = nullptr;
    const QFileInfo *secondOldest = nullptr;
    const auto modified = [](const QFileInfo *file) {
        return file->fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
    };
    for (const QFileInfo &file : files) {
        if (!file.fileName().endsWith(FinalExtension))
            continue;
        total += file.size();
        if (!oldest || modified(&file) < modified(oldest)) {
            secondOldest = oldest;
            oldest = &file;
        } else if (!secondOldest || modified(&file) < modified(secondOldest)) {
            secondOldest = &file;
        }
    }
    if (!oldest || total <= m_MaxDirSize)
        return;
    QFile::remove(oldest->absoluteFilePath());
    if (secondOldest && total - oldest->size() > m_MaxDirSize)
        QFile::remove(secondOldest->absoluteFilePath());
}

void TLogWriter::ReportError(const QString &message)
{
    const TDateTime now = Now();
    const double sinceLastReport = (now - m_LastErrorReport) * SecsPerDay;
    // A clock set back (or the end of daylight saving) must not silence reports for that long.
    if (sinceLastReport <= ErrorReportIntervalSecs && sinceLastReport >= 0)
        return;
    // Set before logging: the report comes back here through the logger.
    m_LastErrorReport = now;
    if (m_Logger)
        m_Logger->Log(
            etWarning, 1, this,
            QStringLiteral("Fehler beim Schreiben des Ereignisprotokolls (%1)").arg(message));
}

QString TLogWriter::Directory() const
{
    std::lock_guard lock(m_Lock);
    return m_Directory;
}

void TLogWriter::SetDirectory(const QString &directory)
{
    std::lock_guard lock(m_Lock);
    // An empty directory would put the files into the file system's root.
    const QString newDirectory = directory.isEmpty() ? DefaultDirectory() : directory;
    if (newDirectory == m_Directory)
        return;
    Close(true);
    m_Directory = newDirectory;
}

qint64 TLogWriter::MaxFileSize() const
{
    std::lock_guard lock(m_Lock);
    return m_MaxFileSize;
}

void TLogWriter::SetMaxFileSize(qint64 bytes)
{
    std::lock_guard lock(m_Lock);
    m_MaxFileSize = bytes;
}

qint64 TLogWriter::MaxDirSize() const
{
    std::lock_guard lock(m_Lock);
    return m_MaxDirSize;
}

void TLogWriter::SetMaxDirSize(qint64 bytes)
{
    std::lock_guard lock(m_Lock);
    m_MaxDirSize = bytes;
}

TDateTime TLogWriter::LastErrorReport() const
{
    std::lock_guard lock(m_Lock);
    return m_LastErrorReport;
}

void TLogWriter::SetLastErrorReport(TDateTime value)
{
    std::lock_guard lock(m_Lock);
    m_LastErrorReport = value;
}

QString TLogWriter::CurrentFilePath() const
{
    std::lock_guard lock(m_Lock);
    return m_Started ? m_FileStem + WritingExtension : QString();
}

void TLogWriter::LoadSettings()
{
    std::lock_guard lock(m_Lock);
    TRegistry registry(HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(EventLogSettingsKey(m_BaseKey), false))
        return;
    // Negative sizes cannot have been saved by us; they would close or prune at every event.
    if (const auto value = registry.ReadInteger(QStringLiteral("MaxFileSize"));
        value && *value >= 0)
        m_MaxFileSize = qint64(*value) * 1024;
    if (const auto value = registry.ReadInteger(QStringLiteral("MaxDirSize")); value && *value >= 0)
        m_MaxDirSize = qint64(*value) * 1048576;
    if (const auto value = registry.ReadString(QStringLiteral("EventLogPath"));
        value && !value->isEmpty())
        SetDirectory(*value);
}

void TLogWriter::SaveSettings()
{
    std::lock_guard lock(m_Lock);
    TRegistry registry(HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(EventLogSettingsKey(m_BaseKey), true))
        return;
    registry.WriteInteger(QStringLiteral("MaxFileSize"), ClampToInt32(m_MaxFileSize / 1024));
    registry.WriteInteger(QStringLiteral("MaxDirSize"), ClampToInt32(m_MaxDirSize / 1048576));
    registry.WriteString(QStringLiteral("EventLogPath"), m_Directory);
}
