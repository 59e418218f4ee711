// Inserting rows into SQLite through one prepared TADOCommand in one transaction, against the
// same work done with plain ODBC calls: the price of the layer per row.
#include "RawOdbc.h"
#include "platform/ado/Ado.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <stdexcept>

namespace {

constexpr int RowsPerTransaction = 10000;

void ExecDirect(TADOConnection &connection, const QString &sql)
{
    TADOCommand command;
    command.SetActiveConnection(&connection);
    command.SetCommandText(sql);
    command.Execute(adExecuteNoRecords);
}

void BM_InsertThroughCommand(benchmark::State &state)
{
    QTemporaryDir dir;
    TADOConnection connection;
    connection.Open(QStringLiteral("Provider=SQLite;Data Source=%1/bench.db").arg(dir.path()),
                    QString(), QString());
    ExecDirect(connection, QStringLiteral("CREATE TABLE t (id INTEGER, name VARCHAR(40), "
                                          "amount DOUBLE PRECISION)"));
    TADOCommand insert;
    insert.SetActiveConnection(&connection);
    insert.SetCommandText(QStringLiteral("INSERT INTO t (id, name, amount) VALUES (?, ?, ?)"));
    TADOParameter &id = insert.CreateParameter(QStringLiteral("id"), adInteger, adParamInput, 0);
    TADOParameter &name =
        insert.CreateParameter(QStringLiteral("name"), adVarChar, adParamInput, 40);
    TADOParameter &amount =
        insert.CreateParameter(QStringLiteral("amount"), adDouble, adParamInput, 0);
    const int rows = int(state.range(0));
    for (auto _ : state) {
        connection.BeginTrans();
        for (int i = 0; i < rows; ++i) {
            id.Value = TVariant::FromI4(i);
            name.Value = TVariant::FromString(QStringLiteral("Zähler %1").arg(i));
            amount.Value = TVariant::FromR8(i * 0.5);
            insert.Execute(adExecuteNoRecords);
        }
        connection.CommitTrans();
        state.PauseTiming();
        ExecDirect(connection, QStringLiteral("DELETE FROM t"));
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_InsertThroughCommand)->Arg(RowsPerTransaction)->Unit(benchmark::kMillisecond);

void BM_InsertThroughRawOdbc(benchmark::State &state)
{
    QTemporaryDir dir;
    TRawOdbcConnection connection(
        QStringLiteral("Driver=SQLite3;Database=%1/raw.db").arg(dir.path()));
    const SQLHDBC dbc = connection.Dbc();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), "stmt");
    const QString create =
        QStringLiteral("CREATE TABLE t (id INTEGER, name VARCHAR(40), amount DOUBLE PRECISION)");
    Ok(SQLExecDirectW(stmt, const_cast<SQLWCHAR *>(ado_detail::Wide(create)), SQL_NTS), "create");
    const QString insert = QStringLiteral("INSERT INTO t (id, name, amount) VALUES (?, ?, ?)");
    Ok(SQLPrepareW(stmt, const_cast<SQLWCHAR *>(ado_detail::Wide(insert)), SQL_NTS), "prepare");

    SQLBIGINT id = 0;
    SQLWCHAR name[41] = {};
    double amount = 0;
    SQLLEN idLength = 0, nameLength = 0, amountLength = 0;
    Ok(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_INTEGER, 0, 0, &id, 0,
                        &idLength),
       "bind id");
    Ok(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_VARCHAR, 40, 0, name,
                        sizeof name, &nameLength),
       "bind name");
    Ok(SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &amount, 0,
                        &amountLength),
       "bind amount");

    const QString wipe = QStringLiteral("DELETE FROM t");
    SQLHSTMT wipeStmt = SQL_NULL_HSTMT;
    Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &wipeStmt), "stmt");
    const int rows = int(state.range(0));
    for (auto _ : state) {
        connection.SetAutoCommit(false);
        for (int i = 0; i < rows; ++i) {
            id = i;
            // The same text work as the layer does, so only the layer's own cost differs.
            const QString text = QStringLiteral("Zähler %1").arg(i);
            const qsizetype length = std::min<qsizetype>(text.size(), 40);
            std::copy_n(text.utf16(), length, name);
            nameLength = SQLLEN(length * sizeof(SQLWCHAR));
            amount = i * 0.5;
            Ok(SQLExecute(stmt), "execute");
        }
        connection.Commit();
        connection.SetAutoCommit(true);
        state.PauseTiming();
        Ok(SQLExecDirectW(wipeStmt, const_cast<SQLWCHAR *>(ado_detail::Wide(wipe)), SQL_NTS),
           "delete");
        SQLFreeStmt(wipeStmt, SQL_CLOSE);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rows);
    SQLFreeHandle(SQL_HANDLE_STMT, wipeStmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}
BENCHMARK(BM_InsertThroughRawOdbc)->Arg(RowsPerTransaction)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
