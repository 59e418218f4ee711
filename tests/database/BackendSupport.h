// The databases the writer tests run against. Every scenario test runs once per backend; each
// test gets an empty database of its own.
#pragma once

#include "DatabaseTestSupport.h"
#include "support/TestSupport.h"

#include <memory>
#include <ostream>

class TScratchDatabase
{
public:
    virtual ~TScratchDatabase() = default;
    virtual TTestDatabase Database() const = 0;
    // A database the bridge cannot open (a missing folder, a wrong password).
    virtual TTestDatabase Unreachable() const = 0;
};

struct TBackend
{
    const char *Name;
    std::unique_ptr<TScratchDatabase> (*Create)();
};

inline void PrintTo(const TBackend &backend, std::ostream *out)
{
    *out << backend.Name;
}

class TSQLiteScratch : public TScratchDatabase
{
public:
    TTestDatabase Database() const override
    {
        // No busy wait inside the driver: a locked database fails at once, and the writer's
        // own retries take over.
        return {QStringLiteral("SQLite"), m_File.ConnectionString() + QStringLiteral(";Timeout=1"),
                QString(), QString(), false};
    }
    TTestDatabase Unreachable() const override
    {
        return {
            QStringLiteral("SQLite"),
            QStringLiteral("Provider=SQLite;Data Source=%1/no/such/folder/x.db").arg(m_Dir.path()),
            QString(), QString(), false};
    }

private:
    TempSQLiteDatabase m_File;
    QTemporaryDir m_Dir;
};

inline std::unique_ptr<TScratchDatabase> NewSQLiteScratch()
{
    return std::make_unique<TSQLiteScratch>();
}

// Defined by the PostgreSQL test executable: a schema of its own on the fixture's server.
std::unique_ptr<TScratchDatabase> NewPostgresScratch();
