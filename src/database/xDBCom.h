// The connection holder of the database writer and the small connection-string helpers that the
// document reader, the configuration import and the editor share.
#pragma once

#include "platform/ado/Ado.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QObject;

// All three raise "Es wurde kein ConnectionString angegeben." for an empty connection string.
// Keys are matched case-sensitively anywhere in the string.
bool ContainsConnectionParameter(const QString &key, const QString &connectionString);
// The text after the first "=" behind the key up to the next ";", trimmed; empty when the key or
// the "=" is missing.
QString ExtractConnectionParameter(const QString &key, const QString &connectionString);
// Removes the key and everything up to and including the next ";".
void DeleteConnectionParameter(const QString &key, QString &connectionString);

// The data-link dialog lives in the GUI: it installs this hook. The hook returns the new
// connection string, or nothing when the user cancelled.
using TPromptConnectionStringHook =
    std::function<std::optional<QString>(QObject *owner, const QString &initialConnectionString)>;
void SetPromptConnectionStringHook(TPromptConnectionStringHook hook);
// Lets the user build a connection string; the initial string when cancelled or when no dialog
// is installed (headless).
QString PromptConnectionString(QObject *owner, const QString &initialConnectionString);

// Owns the one connection of a database bridge. User and password are kept apart from the
// connection string, so documents never need to store them inside it.
class TDataBaseController
{
public:
    TDataBaseController();
    ~TDataBaseController();
    TDataBaseController(const TDataBaseController &) = delete;
    TDataBaseController &operator=(const TDataBaseController &) = delete;

    // Null while closed.
    TADOConnection *Connection() const { return m_Connection.get(); }
    const QString &ConnectionString() const { return m_ConnectionString; }
    const QString &UserID() const { return m_UserID; }
    const QString &Password() const { return m_Password; }
    bool Connected() const { return m_Connected; }

    // Moves a "User ID" and a "Password" part of the text into UserID and Password.
    void SetConnectionString(const QString &text);
    void SetUserID(const QString &text);
    void SetPassword(const QString &text);

    void Open();
    // Drops the connection in every case; an error of closing propagates.
    void Close();
    void BeginTrans();
    void CommitTrans();
    // Ends a transaction without keeping its writes; does nothing while closed.
    void RollbackTrans();
    // A catalog of the open connection.
    std::unique_ptr<TADOXCatalog> GetCatalog() const;
    QString GetDataSource() const;

private:
    void CheckChangeable() const;
    void CheckConnected() const;

    std::unique_ptr<TADOConnection> m_Connection;
    QString m_ConnectionString;
    QString m_UserID;
    QString m_Password;
    bool m_Connected = false;
};
