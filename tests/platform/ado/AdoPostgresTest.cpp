// The database layer on psqlODBC, against the server of the ctest fixture tw_postgres.
#include "AdoBackendTests.h"

INSTANTIATE_TEST_SUITE_P(Ado, AdoBackendTest, ::testing::Values(TBackendKind::PostgreSQL),
                         BackendName);

using AdoPostgresTest = AdoBackendTest;
INSTANTIATE_TEST_SUITE_P(Ado, AdoPostgresTest, ::testing::Values(TBackendKind::PostgreSQL),
                         BackendName);

TEST_P(AdoPostgresTest, WrongPasswordRaisesTheServerText)
{
    TADOConnection connection;
    try {
        connection.Open(m_ConnectionString, m_User, QStringLiteral("falsch"));
        ADD_FAILURE() << "opened with a wrong password";
    } catch (const EADOError &error) {
        EXPECT_TRUE(error.Message().contains(QLatin1String("password authentication failed")))
            << error.what();
        EXPECT_FALSE(error.SQLState().isEmpty());
    }
    EXPECT_EQ(connection.State(), adStateClosed);
}

TEST_P(AdoPostgresTest, RefusedValueRaisesTheServerMessageAndKeepsTheTransaction)
{
    const QString t = Table(QStringLiteral("ado_refused"));
    Exec(QStringLiteral("CREATE TABLE %1 (v INTEGER, at TIMESTAMP)").arg(t));
    TADOCommand command;
    command.SetActiveConnection(&Connection);
    command.SetCommandText(QStringLiteral("INSERT INTO %1 (v, at) VALUES (?, ?)").arg(t));
    TADOParameter &v = command.CreateParameter(QStringLiteral("v"), adInteger, adParamInput, 0);
    TADOParameter &at =
        command.CreateParameter(QStringLiteral("at"), adDBTimeStamp, adParamInput, 0);

    Connection.BeginTrans();
    v.Value = TVariant::FromI4(1);
    at.Value = TVariant::FromString(QStringLiteral("2026-12-11 10:00:00"));
    command.Execute();
    struct TRefused
    {
        TVariant Value, Stamp;
        // Part of the server's message; psqlODBC turns a time stamp text it cannot read into
        // a zero date before the server sees it.
        const char *Says;
    };
    const TRefused refused[] = {
        {TVariant::FromString(QStringLiteral("abc")), at.Value, "\"abc\""},
        {TVariant::FromI4(2), TVariant::FromString(QStringLiteral("kein Datum")), "date/time"},
    };
    for (const auto &[value, stamp, says] : refused) {
        v.Value = value;
        at.Value = stamp;
        try {
            command.Execute();
            ADD_FAILURE() << "accepted " << value.ToString().toStdString();
        } catch (const EADOError &error) {
            // Class 22, data exception: the server refused the value.
            EXPECT_TRUE(error.SQLState().startsWith(QLatin1String("22"))) << error.what();
            EXPECT_TRUE(error.Message().contains(QLatin1String(says))) << error.what();
        }
    }
    v.Value = TVariant::FromI4(3);
    at.Value = TVariant::FromString(QStringLiteral("2026-12-11 11:00:00"));
    command.Execute();
    Connection.CommitTrans();
    EXPECT_EQ(Count(t), 2);
    EXPECT_EQ(Count(t, QStringLiteral("at = '2026-12-11 10:00:00'")), 1);
}
