// Tests of the database layer written once and run against each backend: the SQLite executable
// and the PostgreSQL executable each include this file once and instantiate it for their backend.
#pragma once

#include "platform/ado/Ado.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

enum class TBackendKind { SQLite, PostgreSQL };

inline void PrintTo(TBackendKind kind, std::ostream *out)
{
    *out << (kind == TBackendKind::SQLite ? "SQLite" : "PostgreSQL");
}

inline std::string BackendName(const ::testing::TestParamInfo<TBackendKind> &info)
{
    return info.param == TBackendKind::SQLite ? "SQLite" : "PostgreSQL";
}

class AdoBackendTest : public ::testing::TestWithParam<TBackendKind>
{
protected:
    void SetUp() override
    {
        if (IsPostgres()) {
            const auto server = PostgresTestServer();
            ASSERT_TRUE(server.has_value());
            m_ConnectionString = server->ConnectionString();
            m_User = server->User;
            m_Password = server->Password;
        } else {
            m_ConnectionString = m_SQLite.ConnectionString();
        }
        ASSERT_NO_THROW(Open(Connection));
    }

    void TearDown() override
    {
        // The PostgreSQL database is shared by the whole run: leave nothing behind.
        if (m_ConnectionString.isEmpty() || m_Created.empty())
            return;
        try {
            if (Connection.State() != adStateOpen)
                Open(Connection);
            if (Connection.InTransaction())
                Connection.RollbackTrans();
            for (auto it = m_Created.rbegin(); it != m_Created.rend(); ++it)
                Exec(QStringLiteral("DROP %1 IF EXISTS %2").arg(it->first, it->second));
        } catch (const Exception &error) {
            ADD_FAILURE() << "cleaning up: " << error.what();
        }
    }

    bool IsPostgres() const { return GetParam() == TBackendKind::PostgreSQL; }

    void Open(TADOConnection &connection)
    {
        connection.Open(m_ConnectionString, m_User, m_Password);
    }

    // Table and view names of this process, so that test processes sharing a database never
    // meet; dropped when the test ends.
    // quoted: the name is used in double quotes, so it keeps its case on PostgreSQL.
    QString Table(const QString &base, const char *kind = "TABLE", bool quoted = false)
    {
        const QString name = QStringLiteral("%1_%2").arg(base).arg(getpid());
        m_Created.emplace_back(QString::fromLatin1(kind),
                               quoted ? QLatin1Char('"') + name + QLatin1Char('"') : name);
        return name;
    }

    void Exec(const QString &sql)
    {
        TADOCommand command;
        command.SetActiveConnection(&Connection);
        command.SetCommandText(sql);
        command.Execute(adExecuteNoRecords);
    }

    std::int64_t Count(const QString &table, const QString &where = QString())
    {
        TADORecordset recordset;
        recordset.Open(
            QStringLiteral("SELECT COUNT(*) FROM %1%2")
                .arg(table, where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where),
            &Connection, adOpenUnspecified, adLockReadOnly, adCmdText);
        bool ok = false;
        const std::int64_t count = recordset.Fields(0).ToInt64(&ok);
        EXPECT_TRUE(ok);
        return count;
    }

    TADOConnection Connection;
    QString m_ConnectionString;
    QString m_User;
    QString m_Password;

private:
    TempSQLiteDatabase m_SQLite;
    std::vector<std::pair<QString, QString>> m_Created;
};

TEST_P(AdoBackendTest, PreparedInsertSendsChangingValuesOfEveryKind)
{
    const QString t = Table(QStringLiteral("ado_values"));
    Exec(QStringLiteral("CREATE TABLE %1 (id INTEGER, name VARCHAR(40), amount DOUBLE PRECISION, "
                        "stamp TIMESTAMP, price NUMERIC(10,2))")
             .arg(t));

    TADOCommand command;
    command.SetActiveConnection(&Connection);
    command.SetCommandText(
        QStringLiteral("INSERT INTO %1 (id, name, amount, stamp, price) VALUES (?, ?, ?, ?, ?)")
            .arg(t));
    command.CreateParameter(QStringLiteral("id"), adInteger, adParamInput, 0);
    command.CreateParameter(QStringLiteral("name"), adVarChar, adParamInput, 40);
    command.CreateParameter(QStringLiteral("amount"), adDouble, adParamInput, 0);
    command.CreateParameter(QStringLiteral("stamp"), adDBTimeStamp, adParamInput, 0);
    command.CreateParameter(QStringLiteral("price"), adNumeric, adParamInput, 0);

    const TDateTime halfPast = EncodeDateTime(QDate(2026, 12, 11), QTime(10, 30, 15));
    struct TRow
    {
        TVariant Id, Name, Amount, Stamp, Price;
        // What reading the row back gives for name and amount, and which stamp text it has.
        TVariant ExpectedName;
        double ExpectedAmount;
        const char *StampText;
        std::optional<double> ExpectedPrice;
    };
    const TRow rows[] = {
        // Umlauts and a dash outside Latin-1; a time stamp given as text.
        {TVariant::FromI4(1), TVariant::FromString(QStringLiteral("Grüße aus Köln – Öl")),
         TVariant::FromR8(1.5), TVariant::FromString(QStringLiteral("2026-12-11 10:00:00")),
         TVariant::FromR8(1.25), TVariant::FromString(QStringLiteral("Grüße aus Köln – Öl")), 1.5,
         "2026-12-11 10:00:00", 1.25},
        // Null and Empty are SQL NULL; a number as text is the database's to convert.
        {TVariant::FromString(QStringLiteral("2")), TVariant::Null(), TVariant::FromR8(-0.25),
         TVariant(), TVariant::FromCY(-5000), TVariant::Null(), -0.25, nullptr, -0.5},
        // A double into a text column and a text into a double column, with the German locale
        // active: neither may travel with a decimal comma.
        {TVariant::FromI8(3), TVariant::FromR8(2.5), TVariant::FromString(QStringLiteral("3.75")),
         TVariant::FromDate(halfPast), TVariant(), TVariant::FromString(QStringLiteral("2.5")),
         3.75, "2026-12-11 10:30:15", std::nullopt},
    };
    for (const TRow &row : rows) {
        command.ParamByName(QStringLiteral("ID")).Value = row.Id;
        command.Parameters(1).Value = row.Name;
        command.Parameters(2).Value = row.Amount;
        command.Parameters(3).Value = row.Stamp;
        command.Parameters(4).Value = row.Price;
        EXPECT_EQ(command.Execute(adExecuteNoRecords), 1);
    }

    TADORecordset recordset;
    recordset.Open(
        QStringLiteral("SELECT id, name, amount, stamp, price FROM %1 ORDER BY id").arg(t),
        &Connection);
    ASSERT_EQ(recordset.FieldCount(), 5);
    int id = 1;
    for (const TRow &row : rows) {
        SCOPED_TRACE(id);
        ASSERT_FALSE(recordset.Eof());
        EXPECT_EQ(recordset.Fields(0).ToInt64(), id);
        EXPECT_EQ(recordset.Fields(1), row.ExpectedName);
        EXPECT_DOUBLE_EQ(recordset.Fields(2).ToDouble(), row.ExpectedAmount);
        if (row.StampText) {
            EXPECT_EQ(recordset.Fields(3).Type(), VT_DATE);
            EXPECT_EQ(FormatDateTime(QStringLiteral("yyyy-MM-dd hh:mm:ss"),
                                     recordset.Fields(3).AsDouble()),
                      QString::fromLatin1(row.StampText));
        } else {
            EXPECT_TRUE(recordset.Fields(3).IsNull());
        }
        if (row.ExpectedPrice)
            EXPECT_DOUBLE_EQ(recordset.Fields(4).ToDouble(), *row.ExpectedPrice);
        else
            EXPECT_TRUE(recordset.Fields(4).IsNull());
        recordset.MoveNext();
        ++id;
    }
    EXPECT_TRUE(recordset.Eof());
    recordset.Close();

    TADOCommand update;
    update.SetActiveConnection(&Connection);
    update.SetCommandText(QStringLiteral("UPDATE %1 SET amount = ? WHERE id > ?").arg(t));
    update.CreateParameter(QStringLiteral("amount"), adDouble, adParamInput, 0).Value =
        TVariant::FromR8(0.5);
    TADOParameter &limit = update.CreateParameter(QStringLiteral("id"), adInteger, adParamInput, 0);
    limit.Value = TVariant::FromI4(1);
    EXPECT_EQ(update.Execute(), 2);
    limit.Value = TVariant::FromI4(100);
    EXPECT_EQ(update.Execute(), 0);
    EXPECT_EQ(Count(t, QStringLiteral("amount = 0.5")), 2);
}

TEST_P(AdoBackendTest, CommandFollowsChangedTextAndParameters)
{
    const QString a = Table(QStringLiteral("ado_text_a"));
    const QString b = Table(QStringLiteral("ado_text_b"));
    Exec(QStringLiteral("CREATE TABLE %1 (v INTEGER)").arg(a));
    Exec(QStringLiteral("CREATE TABLE %1 (v INTEGER, w VARCHAR(10))").arg(b));

    TADOCommand command;
    command.SetActiveConnection(&Connection);
    command.SetCommandText(QStringLiteral("INSERT INTO %1 (v) VALUES (?)").arg(a));
    command.CreateParameter(QStringLiteral("v"), adInteger, adParamInput, 0).Value =
        TVariant::FromI4(7);
    command.Execute();
    command.SetCommandText(QStringLiteral("INSERT INTO %1 (v, w) VALUES (?, ?)").arg(b));
    command.CreateParameter(QStringLiteral("w"), adVarWChar, adParamInput, 10).Value =
        TVariant::FromString(QStringLiteral("ä"));
    command.Execute();

    EXPECT_EQ(Count(a, QStringLiteral("v = 7")), 1);
    EXPECT_EQ(Count(b, QStringLiteral("v = 7 AND w = 'ä'")), 1);

    // A new connection behind the same command: the statement is prepared again there.
    Connection.Close();
    Open(Connection);
    command.Execute();
    EXPECT_EQ(Count(b), 2);
}

TEST_P(AdoBackendTest, RecordsetReadsCountAndProbeCommandTellsMissingTables)
{
    const QString t = Table(QStringLiteral("ado_count"));
    Exec(QStringLiteral("CREATE TABLE %1 (k VARCHAR(10))").arg(t));
    EXPECT_EQ(Count(t), 0);
    Exec(QStringLiteral("INSERT INTO %1 (k) VALUES ('a')").arg(t));
    Exec(QStringLiteral("INSERT INTO %1 (k) VALUES ('a')").arg(t));
    Exec(QStringLiteral("INSERT INTO %1 (k) VALUES ('b')").arg(t));
    EXPECT_EQ(Count(t, QStringLiteral(" (k = 'a')")), 2);

    TADORecordset recordset;
    recordset.Open(QStringLiteral("SELECT COUNT(*) FROM %1").arg(t), &Connection);
    EXPECT_EQ(recordset.State(), adStateOpen);
    EXPECT_EQ(recordset.FieldCount(), 1);
    EXPECT_THROW(recordset.Open(QStringLiteral("SELECT 1"), &Connection), EADOError);
    EXPECT_THROW(recordset.Fields(1), EADOError);
    recordset.MoveNext();
    EXPECT_TRUE(recordset.Eof());
    EXPECT_THROW(recordset.Fields(0), EADOError);
    recordset.Close();
    recordset.Close();
    EXPECT_EQ(recordset.State(), adStateClosed);

    TADOCommand probe;
    probe.SetActiveConnection(&Connection);
    probe.SetCommandText(QStringLiteral("SELECT COUNT(*) FROM %1").arg(t));
    EXPECT_NO_THROW(probe.Execute(adExecuteNoRecords));
    probe.SetCommandText(QStringLiteral("SELECT COUNT(*) FROM ado_missing_table"));
    try {
        probe.Execute(adExecuteNoRecords);
        ADD_FAILURE() << "no error for a missing table";
    } catch (const EADOError &error) {
        EXPECT_FALSE(error.SQLState().isEmpty());
        EXPECT_TRUE(error.Message().contains(QLatin1String("ado_missing_table"))) << error.what();
    }
    // The failure leaves the connection usable.
    EXPECT_EQ(Count(t), 3);
}

TEST_P(AdoBackendTest, FailedStatementInTransactionLeavesTheOthersToCommit)
{
    const QString t = Table(QStringLiteral("ado_trans"));
    Exec(QStringLiteral("CREATE TABLE %1 (v INTEGER NOT NULL)").arg(t));
    TADOCommand insert;
    insert.SetActiveConnection(&Connection);
    insert.SetCommandText(QStringLiteral("INSERT INTO %1 (v) VALUES (?)").arg(t));
    TADOParameter &v = insert.CreateParameter(QStringLiteral("v"), adInteger, adParamInput, 0);

    Connection.BeginTrans();
    EXPECT_TRUE(Connection.InTransaction());
    EXPECT_THROW(Connection.BeginTrans(), EADOError);
    v.Value = TVariant::FromI4(1);
    insert.Execute();
    EXPECT_THROW(Exec(QStringLiteral("INSERT INTO ado_missing_table (v) VALUES (1)")), EADOError);
    v.Value = TVariant::Null(); // refused by NOT NULL
    EXPECT_THROW(insert.Execute(), EADOError);
    v.Value = TVariant::FromI4(2);
    insert.Execute();
    Connection.CommitTrans();
    EXPECT_FALSE(Connection.InTransaction());
    EXPECT_EQ(Count(t), 2);

    // Rolled back explicitly and by closing, nothing stays.
    Connection.BeginTrans();
    insert.Execute();
    Connection.RollbackTrans();
    Connection.BeginTrans();
    insert.Execute();
    Connection.Close();
    Open(Connection);
    EXPECT_EQ(Count(t), 2);
    EXPECT_THROW(Connection.CommitTrans(), EADOError);

    // Autocommit is back after the transaction: a second connection sees the row at once.
    insert.Execute();
    TADOConnection other;
    Open(other);
    TADORecordset recordset;
    recordset.Open(QStringLiteral("SELECT COUNT(*) FROM %1").arg(t), &other);
    EXPECT_EQ(recordset.Fields(0).ToInt64(), 3);
}

TEST_P(AdoBackendTest, ClosedConnectionRaisesForEveryUse)
{
    const QString t = Table(QStringLiteral("ado_closed"));
    Exec(QStringLiteral("CREATE TABLE %1 (v INTEGER)").arg(t));
    TADOCommand command;
    command.SetActiveConnection(&Connection);
    command.SetCommandText(QStringLiteral("INSERT INTO %1 (v) VALUES (1)").arg(t));
    command.Execute();
    TADORecordset recordset;
    recordset.Open(QStringLiteral("SELECT v FROM %1").arg(t), &Connection);

    EXPECT_THROW(Open(Connection), EADOError); // already open
    Connection.Close();
    Connection.Close();
    EXPECT_EQ(Connection.State(), adStateClosed);
    EXPECT_EQ(recordset.State(), adStateClosed); // its statement went with the connection

    TADOCommand detached;
    detached.SetCommandText(QStringLiteral("SELECT 1"));
    const std::pair<const char *, std::function<void()>> uses[] = {
        {"BeginTrans", [&] { Connection.BeginTrans(); }},
        {"CommitTrans", [&] { Connection.CommitTrans(); }},
        {"RollbackTrans", [&] { Connection.RollbackTrans(); }},
        {"Execute", [&] { command.Execute(); }},
        {"Execute without connection", [&] { detached.Execute(); }},
        {"Recordset.Open", [&] { TADORecordset().Open(QStringLiteral("SELECT 1"), &Connection); }},
        {"Recordset.MoveNext", [&] { recordset.MoveNext(); }},
        {"Recordset.Fields", [&] { recordset.Fields(0); }},
        {"Catalog", [&] { TADOXCatalog catalog(&Connection); }},
        {"Catalog without connection", [&] { TADOXCatalog catalog(nullptr); }},
    };
    for (const auto &[name, use] : uses)
        EXPECT_THROW(use(), EADOError) << name;
}

TEST_P(AdoBackendTest, ValueThatCannotBeConvertedRaisesBeforeAnythingIsSent)
{
    const QString t = Table(QStringLiteral("ado_convert"));
    Exec(QStringLiteral("CREATE TABLE %1 (v INTEGER)").arg(t));
    TADOCommand command;
    command.SetActiveConnection(&Connection);
    command.SetCommandText(QStringLiteral("INSERT INTO %1 (v) VALUES (?)").arg(t));
    TADOParameter &v = command.CreateParameter(QStringLiteral("Wert"), adInteger, adParamInput, 0);
    const TVariant refused[] = {TVariant::FromR8(1e300), TVariant::FromUI8(~0ull),
                                TVariant::FromError(-1)};
    for (const TVariant &value : refused) {
        v.Value = value;
        try {
            command.Execute();
            ADD_FAILURE() << "accepted " << value.ToString().toStdString();
        } catch (const EADOError &error) {
            EXPECT_TRUE(error.Message().contains(QLatin1String("\"Wert\""))) << error.what();
        }
    }
    EXPECT_EQ(Count(t), 0);
}

TEST_P(AdoBackendTest, CatalogListsTablesAndViewsWithColumnTypesAndSizes)
{
    const QString plain = Table(QStringLiteral("ado_Cat"));
    const QString quoted = Table(QStringLiteral("Ado_Quoted"), "TABLE", true);
    const QString view = Table(QStringLiteral("ado_cat_view"), "VIEW");
    Exec(QStringLiteral("CREATE TABLE %1 (c_int INTEGER, c_small SMALLINT, c_big BIGINT, "
                        "c_vc VARCHAR(20), c_ch CHAR(5), c_dbl DOUBLE PRECISION, c_real REAL, "
                        "c_num NUMERIC(10,2), c_ts TIMESTAMP, c_date DATE, Mixed_Case INTEGER)")
             .arg(plain));
    Exec(QStringLiteral("CREATE TABLE \"%1\" (\"Quoted\" VARCHAR(7))").arg(quoted));
    Exec(QStringLiteral("CREATE VIEW %1 AS SELECT c_int FROM %2").arg(view, plain));

    TADOXCatalog catalog(&Connection);
    // Unquoted names fold to lower case on PostgreSQL; SQLite keeps them as written.
    const QString plainName = IsPostgres() ? plain.toLower() : plain;
    const auto find = [&](const QString &name) {
        for (int i = 0; i < catalog.TableCount(); ++i)
            if (catalog.Tables(i).Name == name)
                return i;
        return -1;
    };
    const int plainIndex = find(plainName);
    const int quotedIndex = find(quoted);
    const int viewIndex = find(IsPostgres() ? view.toLower() : view);
    ASSERT_GE(plainIndex, 0);
    ASSERT_GE(quotedIndex, 0);
    ASSERT_GE(viewIndex, 0);
    EXPECT_EQ(catalog.Tables(plainIndex).Type, QStringLiteral("TABLE"));
    EXPECT_EQ(catalog.Tables(quotedIndex).Type, QStringLiteral("TABLE"));
    EXPECT_EQ(catalog.Tables(viewIndex).Type, QStringLiteral("VIEW"));
    EXPECT_THROW(catalog.Tables(catalog.TableCount()), EListError);
    // Only what an unqualified name reaches: no tables of the system schemas.
    for (int i = 0; i < catalog.TableCount(); ++i) {
        const TADOXTable &table = catalog.Tables(i);
        EXPECT_NE(table.Schema, QStringLiteral("pg_catalog")) << table.Name.toStdString();
        EXPECT_NE(table.Schema, QStringLiteral("information_schema")) << table.Name.toStdString();
    }

    struct TExpected
    {
        const char *Name;
        DataTypeEnum Type;
        std::int32_t Size;
    };
    // psqlODBC's Unicode driver reports text columns as wide and DOUBLE PRECISION as SQL_FLOAT;
    // the SQLite driver reports narrow text, CHAR as VARCHAR and REAL and NUMERIC as DOUBLE,
    // the storage classes SQLite keeps them in.
    const bool pg = IsPostgres();
    const TExpected expected[] = {
        {"c_int", adInteger, 4},
        {"c_small", adSmallInt, 2},
        {"c_big", adBigInt, 8},
        {"c_vc", pg ? adVarWChar : adVarChar, 20},
        {"c_ch", pg ? adWChar : adVarChar, 5},
        {"c_dbl", adDouble, 8},
        {"c_real", pg ? adSingle : adDouble, pg ? 4 : 8},
        {"c_num", pg ? adNumeric : adDouble, pg ? 19 : 8},
        {"c_ts", adDBTimeStamp, 16},
        {"c_date", adDBDate, 6},
        {IsPostgres() ? "mixed_case" : "Mixed_Case", adInteger, 4},
    };
    const std::vector<TADOXColumn> &columns = catalog.Columns(plainIndex);
    ASSERT_EQ(columns.size(), std::size(expected));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(expected[i].Name);
        EXPECT_EQ(columns[i].Name, QString::fromLatin1(expected[i].Name));
        EXPECT_EQ(columns[i].Type, expected[i].Type);
        EXPECT_EQ(columns[i].DefinedSize, expected[i].Size);
    }
    const std::vector<TADOXColumn> &quotedColumns = catalog.Columns(quotedIndex);
    ASSERT_EQ(quotedColumns.size(), 1u);
    EXPECT_EQ(quotedColumns[0].Name, QStringLiteral("Quoted"));
    EXPECT_EQ(quotedColumns[0].DefinedSize, 7);
    ASSERT_EQ(catalog.Columns(viewIndex).size(), 1u);
    EXPECT_EQ(catalog.Columns(viewIndex)[0].Name, QStringLiteral("c_int"));
}
