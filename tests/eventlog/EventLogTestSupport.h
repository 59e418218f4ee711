// A logger on a private registry and log directory whose system-log reports are recorded.
#pragma once

#include "eventlog/LogWriter.h"
#include "eventlog/xEventLog.h"
#include "settings/xCommon.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Readable failure messages for QString values.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

struct TRecordedReport
{
    TSystemEventKind Kind;
    std::uint16_t Category;
    std::uint32_t EventID;
    QString Message;
};

class TRecordingEventSource : public TSystemEventSource
{
public:
    explicit TRecordingEventSource(std::vector<TRecordedReport> &reports) : m_Reports(reports) {}
    void Report(TSystemEventKind kind, std::uint16_t category, std::uint32_t eventID,
                const QString &message) override
    {
        m_Reports.push_back({kind, category, eventID, message});
    }

private:
    std::vector<TRecordedReport> &m_Reports;
};

class EventLogTest : public ::testing::Test
{
protected:
    static inline const QString BaseKey =
        QStringLiteral("Software\\Kestrom Software GmbH\\Tidewell\\{TEST}\\");

    void SetUp() override
    {
        ASSERT_TRUE(LogDir.isValid());
        Logger = NewLogger();
        Logger->Writer().SetDirectory(LogDir.path());
    }

    void TearDown() override
    {
        Logger.reset();
        AppInfo() = SavedAppInfo;
    }

    std::unique_ptr<TEventLogger> NewLogger()
    {
        return std::make_unique<TEventLogger>(BaseKey,
                                              std::make_unique<TRecordingEventSource>(Reports));
    }

    std::vector<QString> Messages(const TEventLogEntryList &entries) const
    {
        std::vector<QString> messages;
        for (const auto &entry : entries)
            messages.push_back(entry->Message);
        return messages;
    }

    QStringList Files(const QString &directory) const
    {
        return QDir(directory).entryList(QDir::Files, QDir::Name);
    }
    QStringList Files() const { return Files(LogDir.path()); }

    static QByteArray ReadFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // All bytes of the log files in the log directory, in name order.
    QByteArray AllLogText() const
    {
        QByteArray text;
        for (const QString &name : Files())
            text += ReadFile(LogDir.filePath(name));
        return text;
    }

    // 2026-03-04 05:06:07,089 plus ms milliseconds.
    static TDateTime At(double ms)
    {
        return EncodeDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89)) + ms / MSecsPerDay;
    }

    // Declared first: the logger saves into the registry and closes its file when it goes.
    ScopedTempEnvDir Registry{"TIDEWELL_REGISTRY_DIR"};
    QTemporaryDir LogDir;
    const TAppInfo SavedAppInfo = AppInfo();
    std::vector<TRecordedReport> Reports;
    std::unique_ptr<TEventLogger> Logger;
};
