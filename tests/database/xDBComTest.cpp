#include "database/xDBCom.h"

#include "DatabaseTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

template <class F> QString MessageOf(F &&call)
{
    try {
        call();
    } catch (const Exception &e) {
        return e.Message();
    }
    return QStringLiteral("<no exception>");
}

const QString NoConnectionString = QStringLiteral("Es wurde kein ConnectionString angegeben.");

} // namespace

TEST(ConnectionString, ExtractTakesTrimmedValueUpToSemicolon)
{
    const struct
    {
        const char *Key;
        const char *Text;
        const char *Value;
    } cases[] = {
        {"Data Source", "Provider=SQLite;Data Source= plant.db ", "plant.db"},
        {"Data Source", "Provider=SQLite;Data Source=\tplant.db\r\n;X=1", "plant.db"},
        {"User ID", "User ID=max;Password=geheim", "max"},
        {"Password", "User ID=max;Password=geheim", "geheim"},
        {"Password", "User ID=max;Password=", ""},
        {"Password", "User ID=max", ""},
        {"Password", "Password", ""},
        // the first "=" after the key, even a value's own
        {"Extended", "Extended Properties=\"a=b\";", "\"a=b\""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExtractConnectionParameter(QString::fromUtf8(c.Key), QString::fromUtf8(c.Text)),
                  QString::fromUtf8(c.Value))
            << c.Key << " in " << c.Text;
}

TEST(ConnectionString, DeleteRemovesKeyThroughSemicolon)
{
    const struct
    {
        const char *Key;
        const char *Text;
        const char *Result;
    } cases[] = {
        {"User ID", "Provider=X;User ID=max;Password=p;Data Source=d",
         "Provider=X;Password=p;Data Source=d"},
        {"Password", "Provider=X;Password=p", "Provider=X;"},
        {"Password", "Provider=X", "Provider=X"},
        {"password", "Provider=X;Password=p", "Provider=X;Password=p"}, // case-sensitive
    };
    for (const auto &c : cases) {
        QString text = QString::fromUtf8(c.Text);
        DeleteConnectionParameter(QString::fromUtf8(c.Key), text);
        EXPECT_EQ(text, QString::fromUtf8(c.Result)) << c.Key << " in " << c.Text;
    }
    EXPECT_TRUE(ContainsConnectionParameter(QStringLiteral("User ID"), QStringLiteral("User ID=")));
    EXPECT_FALSE(
        ContainsConnectionParameter(QStringLiteral("user id"), QStringLiteral("User ID=")));
}

TEST(ConnectionString, EmptyStringIsRefusedByEveryFunction)
{
    QString empty;
    EXPECT_EQ(MessageOf([] { ContainsConnectionParameter(QStringLiteral("A"), QString()); }),
              NoConnectionString);
    EXPECT_EQ(MessageOf([] { ExtractConnectionParameter(QStringLiteral("A"), QString()); }),
              NoConnectionString);
    EXPECT_EQ(MessageOf([&] { DeleteConnectionParameter(QStringLiteral("A"), empty); }),
              NoConnectionString);
}

TEST(ConnectionString, PromptUsesInstalledHookAndKeepsInitialOnCancel)
{
    const QString initial = QStringLiteral("Provider=SQLite;Data Source=a.db");
    SetPromptConnectionStringHook(nullptr);
    EXPECT_EQ(PromptConnectionString(nullptr, initial), initial);

    QString seen;
    SetPromptConnectionStringHook([&](QObject *, const QString &start) -> std::optional<QString> {
        seen = start;
        return QStringLiteral("Provider=SQLite;Data Source=b.db");
    });
    EXPECT_EQ(PromptConnectionString(nullptr, initial),
              QStringLiteral("Provider=SQLite;Data Source=b.db"));
    EXPECT_EQ(seen, initial);

    SetPromptConnectionStringHook([](QObject *, const QString &) { return std::nullopt; });
    EXPECT_EQ(PromptConnectionString(nullptr, initial), initial);
    SetPromptConnectionStringHook(nullptr);
}

TEST(DataBaseController, ConnectionStringGivesUpUserAndPassword)
{
    TDataBaseController controller;
    controller.SetConnectionString(
        QStringLiteral("Provider=SQLite;User ID=max;Password=geheim;Data Source= x.db "));
    EXPECT_EQ(controller.ConnectionString(), QStringLiteral("Provider=SQLite;Data Source= x.db "));
    EXPECT_EQ(controller.UserID(), QStringLiteral("max"));
    EXPECT_EQ(controller.Password(), QStringLiteral("geheim"));
    EXPECT_EQ(controller.GetDataSource(), QStringLiteral("x.db"));

    // Nothing but user and password: no error for the empty rest.
    controller.SetConnectionString(QStringLiteral("User ID=a;"));
    EXPECT_EQ(controller.ConnectionString(), QString());
    EXPECT_EQ(controller.UserID(), QStringLiteral("a"));
    EXPECT_EQ(controller.GetDataSource(), QString());
}

TEST(DataBaseController, ClosedControllerRefusesTransactionsAndCatalog)
{
    TDataBaseController controller;
    const QString notConnected = QStringLiteral("Es besteht keine Verbindung zur Datenbank");
    EXPECT_EQ(MessageOf([&] { controller.BeginTrans(); }), notConnected);
    EXPECT_EQ(MessageOf([&] { controller.CommitTrans(); }), notConnected);
    EXPECT_EQ(MessageOf([&] { controller.GetCatalog(); }), notConnected);
    EXPECT_NO_THROW(controller.Close());
    EXPECT_FALSE(controller.Connected());
}

TEST(DataBaseController, OpenControllerRefusesChangesAndSecondOpen)
{
    TempSQLiteDatabase database;
    TDataBaseController controller;
    controller.SetConnectionString(database.ConnectionString());
    controller.Open();
    ASSERT_TRUE(controller.Connected());
    ASSERT_NE(controller.Connection(), nullptr);
    EXPECT_EQ(controller.Connection()->State(), adStateOpen);

    const QString locked = QStringLiteral(
        "Die Datenbankverbindung kann nicht geändert werden, solange Sie noch geöffnet ist.");
    EXPECT_EQ(MessageOf([&] { controller.SetConnectionString(QStringLiteral("X=1")); }), locked);
    EXPECT_EQ(MessageOf([&] { controller.SetUserID(QStringLiteral("u")); }), locked);
    EXPECT_EQ(MessageOf([&] { controller.SetPassword(QStringLiteral("p")); }), locked);
    EXPECT_EQ(MessageOf([&] { controller.Open(); }),
              QStringLiteral("Die Verbindung zur Datenbank besteht bereits."));

    controller.BeginTrans();
    controller.CommitTrans();
    EXPECT_NE(controller.GetCatalog(), nullptr);
    controller.Close();
    EXPECT_FALSE(controller.Connected());
    EXPECT_EQ(controller.Connection(), nullptr);
}

TEST(DataBaseController, FailedOpenLeavesControllerClosed)
{
    TDataBaseController controller;
    controller.SetConnectionString(QStringLiteral("Provider=NoSuchProvider;Data Source=x"));
    EXPECT_THROW(controller.Open(), Exception);
    EXPECT_FALSE(controller.Connected());
    EXPECT_EQ(controller.Connection(), nullptr);
    // and it can be changed and opened again
    TempSQLiteDatabase database;
    controller.SetConnectionString(database.ConnectionString());
    EXPECT_NO_THROW(controller.Open());
}
