// The database layer on the SQLite ODBC driver, and what needs no database at all.
#include "AdoBackendTests.h"

INSTANTIATE_TEST_SUITE_P(Ado, AdoBackendTest, ::testing::Values(TBackendKind::SQLite), BackendName);

TEST(AdoConnectionString, TranslatesProvidersToOdbc)
{
    struct TCase
    {
        const char *Given;
        const char *User;
        const char *Password;
        const char *Expected;
    };
    const TCase cases[] = {
        {"Provider=SQLite;Data Source=/tmp/a.db", "", "", "Driver=SQLite3;Database=/tmp/a.db"},
        {"provider=sqlite; data source = /tmp/b c.db ;Timeout=5000", "", "",
         "Driver=SQLite3;Database=/tmp/b c.db;Timeout=5000"},
        {"Provider=PostgreSQL;Data Source=db.example:5433;Initial Catalog=plant", "writer",
         "geheim",
         "Driver=PostgreSQL Unicode;Server=db.example;Port=5433;Database=plant;"
         "UID=writer;PWD=geheim"},
        {"Provider=PostgreSQL;Data Source=localhost;Initial Catalog=plant", "", "",
         "Driver=PostgreSQL Unicode;Server=localhost;Database=plant"},
        {"Provider=PostgreSQL;Data Source=[::1]:5432;Initial Catalog=x;CommLog=1", "", "",
         "Driver=PostgreSQL Unicode;Server=::1;Port=5432;Database=x;CommLog=1"},
        // Separately given credentials win over those in the string; a password with ";" is
        // braced, a "}" in it doubled.
        {"Provider=PostgreSQL;Data Source=h;Initial Catalog=d;User ID=old;Password=old", "new",
         "a;b}c", "Driver=PostgreSQL Unicode;Server=h;Database=d;UID=new;PWD={a;b}}c}"},
        {"Provider=PostgreSQL;Data Source=h;User ID=kept;Password=\"x;y\"", "", "",
         "Driver=PostgreSQL Unicode;Server=h;UID=kept;PWD={x;y}"},
        {"Data Source=Werk 1", "u", "", "DSN=Werk 1;UID=u"},
        {"Provider=MSDASQL.1;Persist Security Info=False;Data Source=Werk", "", "",
         "DSN=Werk;Persist Security Info=False"},
        {"Provider=MSDASQL;Extended Properties=\"DSN=Werk;Port=1\"", "", "", "DSN=Werk;Port=1"},
        {"Driver={PostgreSQL Unicode};Server=h;Database=d", "u", "p",
         "Driver={PostgreSQL Unicode};Server=h;Database=d;UID=u;PWD=p"},
        {"DSN=Werk;", "", "", "DSN=Werk;"},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(TranslateConnectionString(QString::fromUtf8(c.Given), QString::fromUtf8(c.User),
                                            QString::fromUtf8(c.Password)),
                  QString::fromUtf8(c.Expected))
            << c.Given;
}

TEST(AdoConnectionString, UnknownProviderOrNoSourceRaisesInGerman)
{
    const char *refused[] = {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=c:\\a.mdb",
                             "Provider=MSDASQL", ""};
    for (const char *given : refused) {
        try {
            TranslateConnectionString(QString::fromUtf8(given), QString(), QString());
            ADD_FAILURE() << "accepted " << given;
        } catch (const EADOError &error) {
            EXPECT_TRUE(error.Message().startsWith(QLatin1String("Der Provider \"Microsoft.Jet")) ||
                        error.Message().startsWith(QLatin1String("Die Verbindungszeichenfolge")))
                << error.what();
        }
    }
}

TEST(AdoConnection, DriverRefusalCarriesDriverTextAndClosedState)
{
    TADOConnection connection;
    try {
        connection.Open(QStringLiteral("Driver=Tidewell No Such Driver"), QString(), QString());
        ADD_FAILURE() << "opened";
    } catch (const EADOError &error) {
        EXPECT_EQ(error.SQLState(), QStringLiteral("01000")) << error.what();
        EXPECT_TRUE(error.Message().contains(QLatin1String("Tidewell No Such Driver")) ||
                    error.Message().contains(QLatin1String("SQLSTATE")))
            << error.what();
    }
    EXPECT_EQ(connection.State(), adStateClosed);
}

TEST(AdoCommand, ParametersAreFoundByPositionAndNameIgnoringCase)
{
    TADOCommand command;
    TADOParameter &first =
        command.CreateParameter(QStringLiteral("Wert"), adInteger, adParamInput, 0);
    command.CreateParameter(QStringLiteral("wert"), adVarChar, adParamInput, 10);
    EXPECT_EQ(command.ParameterCount(), 2);
    EXPECT_EQ(&command.ParamByName(QStringLiteral("WERT")), &first);
    EXPECT_EQ(command.Parameters(1).Type, adVarChar);
    EXPECT_THROW(command.Parameters(2), EListError);
    EXPECT_THROW(command.Parameters(-1), EListError);
    try {
        command.ParamByName(QStringLiteral("Zeit"));
        ADD_FAILURE();
    } catch (const EADOError &error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Der Parameter \"Zeit\" wurde nicht gefunden."));
    }
}
