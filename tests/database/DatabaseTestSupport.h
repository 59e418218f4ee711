// Shared pieces of the database writer tests: event capture, direct SQL on a second connection,
// and the description of the database a test runs against.
#pragma once

#include "database/xADOBridge.h"
#include "eventlog/xEventLog.h"
#include "platform/ado/Ado.h"
#include "settings/xCommon.h"

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

struct TLoggedEvent
{
    TEventType Type;
    QString Message;
    QString Sender;
};

// Records every event, debug traces included, for the lifetime of the object.
class TEventCapture
{
public:
    TEventCapture()
        : m_DebugEnabled(AppInfo().DebugEnabled), m_Level(EventLogger().LoggingLevel()),
          m_LimitRate(EventLogger().LimitMessageRate())
    {
        AppInfo().DebugEnabled = true;
        EventLogger().SetLoggingLevel(5);
        EventLogger().SetLimitMessageRate(false);
        EventLogger().TakeEntries();
    }
    ~TEventCapture()
    {
        EventLogger().TakeEntries();
        EventLogger().SetLoggingLevel(m_Level);
        EventLogger().SetLimitMessageRate(m_LimitRate);
        AppInfo().DebugEnabled = m_DebugEnabled;
    }
    TEventCapture(const TEventCapture &) = delete;
    TEventCapture &operator=(const TEventCapture &) = delete;

    std::vector<TLoggedEvent> Take()
    {
        std::vector<TLoggedEvent> events;
        for (const auto &entry : EventLogger().TakeEntries())
            events.push_back({entry->EventType, entry->Message, entry->SenderName});
        return events;
    }
    QStringList TakeMessages()
    {
        QStringList messages;
        for (const auto &event : Take())
            messages << event.Message;
        return messages;
    }

private:
    bool m_DebugEnabled;
    quint8 m_Level;
    bool m_LimitRate;
};

inline int CountOf(const QStringList &messages, const QString &text)
{
    return int(messages.count(text));
}

inline int CountStartingWith(const QStringList &messages, const QString &prefix)
{
    int count = 0;
    for (const QString &message : messages)
        count += message.startsWith(prefix) ? 1 : 0;
    return count;
}

inline const TLoggedEvent *FindEvent(const std::vector<TLoggedEvent> &events, const QString &text)
{
    for (const auto &event : events)
        if (event.Message == text)
            return &event;
    return nullptr;
}

// Where a test's tables live.
struct TTestDatabase
{
    QString Name;             // for test names: "SQLite", "PostgreSQL"
    QString ConnectionString; // as documents keep it
    QString UserID;
    QString Password;
    // PostgreSQL folds unquoted names to lower case; the quoted insert table must be created
    // with the name it is configured with.
    bool FoldsNames = false;
};

// A second connection for setting up and checking tables behind the bridge's back.
class TSqlSession
{
public:
    explicit TSqlSession(const TTestDatabase &database)
    {
        m_Connection.Open(database.ConnectionString, database.UserID, database.Password);
    }
    TADOConnection &Connection() { return m_Connection; }

    void Exec(const QString &sql)
    {
        TADOCommand command;
        command.SetActiveConnection(&m_Connection);
        command.SetCommandText(sql);
        command.Execute(adExecuteNoRecords);
    }
    // The first column of every row, as text.
    QStringList Column(const QString &sql)
    {
        TADORecordset recordset;
        recordset.Open(sql, &m_Connection);
        QStringList values;
        while (!recordset.Eof()) {
            values << recordset.Fields(0).ToString(QLocale::c());
            recordset.MoveNext();
        }
        recordset.Close();
        return values;
    }
    // Every row, columns joined by "|", as text in the C locale.
    QStringList Rows(const QString &sql)
    {
        TADORecordset recordset;
        recordset.Open(sql, &m_Connection);
        QStringList rows;
        while (!recordset.Eof()) {
            QStringList cells;
            for (int i = 0; i < recordset.FieldCount(); ++i)
                cells << recordset.Fields(i).ToString(QLocale::c());
            rows << cells.join(u'|');
            recordset.MoveNext();
        }
        recordset.Close();
        return rows;
    }
    TVariant Value(const QString &sql)
    {
        TADORecordset recordset;
        recordset.Open(sql, &m_Connection);
        TVariant value = recordset.Eof() ? TVariant() : recordset.Fields(0);
        recordset.Close();
        return value;
    }
    int Count(const QString &table)
    {
        return Column(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).value(0).toInt();
    }

private:
    TADOConnection m_Connection;
};
