#include "database/xDBCom.h"

#include <utility>

namespace {

void CheckConnectionString(const QString &connectionString)
{
    if (connectionString.isEmpty())
        throw Exception(QStringLiteral("Es wurde kein ConnectionString angegeben."));
}

// Blanks and control characters, as connection strings from files may carry tabs or line ends.
QString TrimControl(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

TPromptConnectionStringHook &PromptHook()
{
    static TPromptConnectionStringHook hook;
    return hook;
}

const QString NotConnectedMessage = QStringLiteral("Es besteht keine Verbindung zur Datenbank");

} // namespace

bool ContainsConnectionParameter(const QString &key, const QString &connectionString)
{
    CheckConnectionString(connectionString);
    return connectionString.contains(key, Qt::CaseSensitive);
}

QString ExtractConnectionParameter(const QString &key, const QString &connectionString)
{
    CheckConnectionString(connectionString);
    const qsizetype keyPos = connectionString.indexOf(key, 0, Qt::CaseSensitive);
    if (keyPos < 0)
        return QString();
    const qsizetype equalsPos = connectionString.indexOf(u'=', keyPos + key.size());
    if (equalsPos < 0)
        return QString();
    const qsizetype endPos = connectionString.indexOf(u';', equalsPos + 1);
    const qsizetype length = (endPos < 0 ? connectionString.size() : endPos) - equalsPos - 1;
    return TrimControl(connectionString.mid(equalsPos + 1, length));
}

void DeleteConnectionParameter(const QString &key, QString &connectionString)
{
    CheckConnectionString(connectionString);
    const qsizetype keyPos = connectionString.indexOf(key, 0, Qt::CaseSensitive);
    if (keyPos < 0)
        return;
    const qsizetype endPos = connectionString.indexOf(u';', keyPos + key.size());
    connectionString.remove(keyPos,
                            endPos < 0 ? connectionString.size() - keyPos : endPos - keyPos + 1);
}

void SetPromptConnectionStringHook(TPromptConnectionStringHook hook)
{
    PromptHook() = std::move(hook);
}

QString PromptConnectionString(QObject *owner, const QString &initialConnectionString)
{
    if (!PromptHook())
        return initialConnectionString;
    const std::optional<QString> result = PromptHook()(owner, initialConnectionString);
    return result ? *result : initialConnectionString;
}

// TDataBaseController

TDataBaseController::TDataBaseController() = default;

TDataBaseController::~TDataBaseController()
{
    try {
        Close();
    } catch (...) {
        // the connection object is gone either way
    }
}

void TDataBaseController::CheckChangeable() const
{
    if (m_Connected)
        throw Exception(QStringLiteral(
            "Die Datenbankverbindung kann nicht geändert werden, solange Sie noch geöffnet ist."));
}

void TDataBaseController::CheckConnected() const
{
    if (!m_Connected || !m_Connection)
        throw Exception(NotConnectedMessage);
}

void TDataBaseController::SetConnectionString(const QString &text)
{
    CheckChangeable();
    m_ConnectionString = text;
    const QString userKey = QStringLiteral("User ID");
    const QString passwordKey = QStringLiteral("Password");
    if (!m_ConnectionString.isEmpty() && ContainsConnectionParameter(userKey, m_ConnectionString)) {
        m_UserID = ExtractConnectionParameter(userKey, m_ConnectionString);
        DeleteConnectionParameter(userKey, m_ConnectionString);
    }
    // Removing the user part may leave nothing to look at.
    if (!m_ConnectionString.isEmpty() &&
        ContainsConnectionParameter(passwordKey, m_ConnectionString)) {
        m_Password = ExtractConnectionParameter(passwordKey, m_ConnectionString);
        DeleteConnectionParameter(passwordKey, m_ConnectionString);
    }
}

void TDataBaseController::SetUserID(const QString &text)
{
    CheckChangeable();
    m_UserID = text;
}

void TDataBaseController::SetPassword(const QString &text)
{
    CheckChangeable();
    m_Password = text;
}

void TDataBaseController::Open()
{
    if (m_Connected)
        throw Exception(QStringLiteral("Die Verbindung zur Datenbank besteht bereits."));
    auto connection = std::make_unique<TADOConnection>();
    connection->CursorLocation = adUseServer;
    connection->ConnectionTimeout = 15;
    connection->Open(m_ConnectionString, m_UserID, m_Password, adOptionUnspecified);
    m_Connection = std::move(connection);
    m_Connected = true;
}

void TDataBaseController::Close()
{
    // Dropped and marked closed even when closing raises.
    std::unique_ptr<TADOConnection> connection = std::move(m_Connection);
    const bool wasConnected = std::exchange(m_Connected, false);
    if (wasConnected && connection)
        connection->Close();
}

void TDataBaseController::BeginTrans()
{
    CheckConnected();
    m_Connection->BeginTrans();
}

void TDataBaseController::CommitTrans()
{
    CheckConnected();
    m_Connection->CommitTrans();
}

void TDataBaseController::RollbackTrans()
{
    if (m_Connected && m_Connection && m_Connection->InTransaction())
        m_Connection->RollbackTrans();
}

std::unique_ptr<TADOXCatalog> TDataBaseController::GetCatalog() const
{
    CheckConnected();
    return std::make_unique<TADOXCatalog>(m_Connection.get());
}

QString TDataBaseController::GetDataSource() const
{
    // A string that held nothing but user and password is empty now.
    if (m_ConnectionString.isEmpty())
        return QString();
    return ExtractConnectionParameter(QStringLiteral("Data Source"), m_ConnectionString);
}
