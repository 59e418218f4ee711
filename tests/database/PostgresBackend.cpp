#include "BackendSupport.h"

#include <QUuid>

namespace {

// Each test works in a schema of its own, so tests may run in parallel on the one server.
class TPostgresScratch : public TScratchDatabase
{
public:
    explicit TPostgresScratch(const TPostgresTestServer &server)
        : m_Server(server), m_Schema(QStringLiteral("tw_") +
                                     QUuid::createUuid().toString(QUuid::Id128).left(16).toLower())
    {
        TSqlSession(Base()).Exec(QStringLiteral("CREATE SCHEMA %1").arg(m_Schema));
    }
    ~TPostgresScratch() override
    {
        try {
            TSqlSession(Base()).Exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(m_Schema));
        } catch (const Exception &e) {
            ADD_FAILURE() << "dropping the test schema failed: " << e.what();
        }
    }
    TTestDatabase Database() const override
    {
        TTestDatabase database = Base();
        database.ConnectionString +=
            QStringLiteral(";ConnSettings=SET search_path TO %1").arg(m_Schema);
        return database;
    }
    TTestDatabase Unreachable() const override
    {
        TTestDatabase database = Database();
        database.Password += QStringLiteral("x");
        return database;
    }

private:
    TTestDatabase Base() const
    {
        return {QStringLiteral("PostgreSQL"), m_Server.ConnectionString(), m_Server.User,
                m_Server.Password, true};
    }

    TPostgresTestServer m_Server;
    QString m_Schema;
};

} // namespace

std::unique_ptr<TScratchDatabase> NewPostgresScratch()
{
    const std::optional<TPostgresTestServer> server = PostgresTestServer();
    if (!server)
        return nullptr;
    return std::make_unique<TPostgresScratch>(*server);
}
