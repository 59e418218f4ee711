// The catalog of tables and columns, read through SQLTables and SQLColumns.
#include "platform/ado/Ado.h"

#include "platform/ado/OdbcSupport.h"

#include <algorithm>

using namespace ado_detail;

namespace {

DataTypeEnum AdoType(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_CHAR: return adChar;
    case SQL_VARCHAR: return adVarChar;
    case SQL_LONGVARCHAR: return adLongVarChar;
    case SQL_WCHAR: return adWChar;
    case SQL_WVARCHAR: return adVarWChar;
    case SQL_WLONGVARCHAR: return adLongVarWChar;
    case SQL_SMALLINT: return adSmallInt;
    case SQL_INTEGER: return adInteger;
    case SQL_BIGINT: return adBigInt;
    case SQL_TINYINT: return adTinyInt;
    case SQL_BIT: return adBoolean;
    case SQL_REAL: return adSingle;
    case SQL_FLOAT:
    case SQL_DOUBLE: return adDouble;
    case SQL_DECIMAL: return adDecimal;
    case SQL_NUMERIC: return adNumeric;
    case SQL_TYPE_DATE:
    case SQL_DATE: return adDBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME: return adDBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return adDBTimeStamp;
    case SQL_GUID: return adGUID;
    case SQL_BINARY: return adBinary;
    case SQL_VARBINARY: return adVarBinary;
    case SQL_LONGVARBINARY: return adLongVarBinary;
    default: return adEmpty;
    }
}

// Bytes of a value of a fixed-size type, as the classic providers report them; 0 for sized
// types, whose size comes from the driver.
std::int32_t FixedSize(DataTypeEnum type)
{
    switch (type) {
    case adTinyInt: return 1;
    case adSmallInt:
    case adBoolean: return 2;
    case adInteger:
    case adSingle: return 4;
    case adBigInt:
    case adDouble:
    case adCurrency:
    case adDate: return 8;
    case adDBDate:
    case adDBTime: return 6;
    case adDBTimeStamp:
    case adGUID:
    case adDecimal: return 16;
    case adNumeric: return 19;
    default: return 0;
    }
}

// The schemas an unqualified name finds on PostgreSQL, in search order; empty for other
// databases, whose catalog lists only what the connection sees anyway.
std::vector<QString> VisibleSchemas(TADOConnection::Impl &connection)
{
    const SQLHDBC dbc = connection.OpenDbc();
    SQLWCHAR name[128] = {};
    SQLSMALLINT length = 0;
    Check(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &length), SQL_HANDLE_DBC, dbc,
          "SQLGetInfo");
    const QString dbms = FromWide(name, std::min<qsizetype>(length / 2, 127));
    std::vector<QString> schemas;
    if (dbms.compare(QLatin1String("PostgreSQL"), Qt::CaseInsensitive) != 0)
        return schemas;
    Statement statement;
    const SQLHSTMT handle = statement.Acquire(connection);
    Check(SQLExecDirectW(
              handle,
              const_cast<SQLWCHAR *>(Wide(QStringLiteral("SELECT unnest(current_schemas(false))"))),
              SQL_NTS),
          SQL_HANDLE_STMT, handle, "SQLExecDirect");
    for (;;) {
        const SQLRETURN rc = SQLFetch(handle);
        if (rc == SQL_NO_DATA)
            break;
        Check(rc, SQL_HANDLE_STMT, handle, "SQLFetch");
        if (const auto schema = GetText(handle, 1))
            schemas.push_back(*schema);
    }
    return schemas;
}

TADOConnection::Impl &OpenConnection(TADOConnection *connection)
{
    if (!connection || connection->State() != adStateOpen)
        RaiseClosed();
    return connection->Handles();
}

const SQLWCHAR *OrNull(const QString &text)
{
    return text.isEmpty() ? nullptr : Wide(text);
}

} // namespace

TADOXCatalog::TADOXCatalog(TADOConnection *connection) : m_Connection(connection)
{
    OpenConnection(connection);
}

TADOXCatalog::~TADOXCatalog() = default;

int TADOXCatalog::TableCount()
{
    if (m_TablesRead)
        return int(m_Tables.size());
    TADOConnection::Impl &connection = OpenConnection(m_Connection);
    const std::vector<QString> schemas = VisibleSchemas(connection);

    Statement statement;
    const SQLHSTMT handle = statement.Acquire(connection);
    Check(SQLTablesW(handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_HANDLE_STMT,
          handle, "SQLTables");
    struct TRow
    {
        TADOXTable Table;
        std::size_t Rank;
    };
    std::vector<TRow> rows;
    for (;;) {
        const SQLRETURN rc = SQLFetch(handle);
        if (rc == SQL_NO_DATA)
            break;
        Check(rc, SQL_HANDLE_STMT, handle, "SQLFetch");
        TADOXTable table;
        table.Schema = GetText(handle, 2).value_or(QString());
        table.Name = GetText(handle, 3).value_or(QString());
        table.Type = GetText(handle, 4).value_or(QString());
        std::size_t rank = 0;
        if (!schemas.empty()) {
            const auto it = std::find(schemas.begin(), schemas.end(), table.Schema);
            if (it == schemas.end())
                continue;
            rank = std::size_t(it - schemas.begin());
        }
        rows.push_back({std::move(table), rank});
    }
    // A name in an earlier schema of the search path hides the same name in later ones.
    std::vector<TADOXTable> tables;
    for (TRow &row : rows) {
        const bool hidden = std::any_of(rows.begin(), rows.end(), [&](const TRow &other) {
            return other.Rank < row.Rank && other.Table.Name == row.Table.Name;
        });
        if (!hidden)
            tables.push_back(std::move(row.Table));
    }
    m_Tables = std::move(tables);
    m_Columns.clear();
    m_Columns.resize(m_Tables.size());
    m_TablesRead = true;
    return int(m_Tables.size());
}

const TADOXTable &TADOXCatalog::Tables(int index)
{
    if (index < 0 || index >= TableCount())
        throw EListError(index);
    return m_Tables[std::size_t(index)];
}

const std::vector<TADOXColumn> &TADOXCatalog::Columns(int tableIndex)
{
    const TADOXTable &table = Tables(tableIndex);
    auto &cached = m_Columns[std::size_t(tableIndex)];
    if (cached)
        return *cached;

    TADOConnection::Impl &connection = OpenConnection(m_Connection);
    Statement statement;
    const SQLHSTMT handle = statement.Acquire(connection);
    // The name is a search pattern ("_" matches any character): the rows are filtered below.
    Check(SQLColumnsW(handle, nullptr, 0, const_cast<SQLWCHAR *>(OrNull(table.Schema)),
                      table.Schema.isEmpty() ? 0 : SQL_NTS,
                      const_cast<SQLWCHAR *>(Wide(table.Name)), SQL_NTS, nullptr, 0),
          SQL_HANDLE_STMT, handle, "SQLColumns");
    std::vector<std::pair<std::int64_t, TADOXColumn>> columns;
    for (;;) {
        const SQLRETURN rc = SQLFetch(handle);
        if (rc == SQL_NO_DATA)
            break;
        Check(rc, SQL_HANDLE_STMT, handle, "SQLFetch");
        const QString schema = GetText(handle, 2).value_or(QString());
        const QString name = GetText(handle, 3).value_or(QString());
        if (name != table.Name || (!table.Schema.isEmpty() && schema != table.Schema))
            continue;
        TADOXColumn column;
        column.Name = GetText(handle, 4).value_or(QString());
        const SQLSMALLINT sqlType = SQLSMALLINT(GetInteger(handle, 5).value_or(0));
        const std::int64_t columnSize = GetInteger(handle, 7).value_or(0);
        const std::int64_t ordinal = GetInteger(handle, 17).value_or(0);
        column.Type = AdoType(sqlType);
        const std::int32_t fixed = FixedSize(column.Type);
        // Only the sizes of strings and binaries are trustworthy across drivers.
        column.DefinedSize =
            fixed ? fixed : std::int32_t(std::clamp<std::int64_t>(columnSize, 0, INT32_MAX));
        columns.emplace_back(ordinal, std::move(column));
    }
    std::stable_sort(columns.begin(), columns.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    cached = std::make_unique<std::vector<TADOXColumn>>();
    for (auto &column : columns)
        cached->push_back(std::move(column.second));
    return *cached;
}
