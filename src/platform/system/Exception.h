// The one exception family: every error the system raises carries a German message.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

class Exception : public std::exception
{
public:
    explicit Exception(QString message);

    const QString &Message() const noexcept { return m_Message; }
    const char *what() const noexcept override { return m_Utf8.constData(); }

private:
    QString m_Message;
    QByteArray m_Utf8;
};

// A list position outside 0..Count-1.
class EListError : public Exception
{
public:
    explicit EListError(qsizetype index);
};

// "Interner Fehler in <where>. Dem Parameter <parameter> wurde kein Wert zugewiesen."
[[noreturn]] void RaiseMissingParameter(const QString &where, const QString &parameter);
// "Interner Fehler in <where>. Meldung: <message>"
[[noreturn]] void RaiseInternalError(const QString &where, const QString &message);
