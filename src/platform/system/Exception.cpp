#include "platform/system/Exception.h"

Exception::Exception(QString message) : m_Message(std::move(message)), m_Utf8(m_Message.toUtf8()) {}

EListError::EListError(qsizetype index)
    : Exception(QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(index))
{
}

void RaiseMissingParameter(const QString &where, const QString &parameter)
{
    throw Exception(
        QStringLiteral("Interner Fehler in %1. Dem Parameter %2 wurde kein Wert zugewiesen.")
            .arg(where, parameter));
}

void RaiseInternalError(const QString &where, const QString &message)
{
    throw Exception(QStringLiteral("Interner Fehler in %1. Meldung: %2").arg(where, message));
}
