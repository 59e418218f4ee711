// Helpers shared by the test executables.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <optional>

// Points an environment variable at a fresh temporary folder for the lifetime of the object and
// restores the previous value afterwards.
class ScopedTempEnvDir
{
public:
    explicit ScopedTempEnvDir(const char *variable);
    ~ScopedTempEnvDir();
    ScopedTempEnvDir(const ScopedTempEnvDir &) = delete;
    ScopedTempEnvDir &operator=(const ScopedTempEnvDir &) = delete;

    QString Path() const { return m_Dir.path(); }

private:
    QByteArray m_Variable;
    QByteArray m_Previous;
    bool m_HadPrevious;
    QTemporaryDir m_Dir;
};

// The PostgreSQL server that the ctest fixture tw_postgres starts for a test run.
struct TPostgresTestServer
{
    QString Host;
    int Port = 0;
    QString User;
    QString Password;
    QString Database;

    // "Provider=PostgreSQL;Data Source=<host>:<port>;Initial Catalog=<database>"
    QString ConnectionString() const;
};

// Reads the file named by TIDEWELL_PG_ENV. When the variable or the file is missing the current
// test fails (it is not skipped: a database test that silently does not run proves nothing)
// and the result is empty.
std::optional<TPostgresTestServer> PostgresTestServer();

// A path for a new SQLite database file in a temporary folder removed with the object.
class TempSQLiteDatabase
{
public:
    QString Path() const { return m_Dir.filePath(QStringLiteral("test.sqlite")); }
    // "Provider=SQLite;Data Source=<path>"
    QString ConnectionString() const;

private:
    QTemporaryDir m_Dir;
};
