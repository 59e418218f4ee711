// The database access layer the writer talks to: connections, parameterised commands, a
// read-only recordset and a catalog of tables and columns, in the shape of the classic data
// access objects, built on ODBC (unixODBC). Data types are the ADO DataTypeEnum codes, derived
// from the ODBC SQL types, so rules written in ADO terms keep their meaning on every driver.
#pragma once

#include "platform/com/Variant.h"
#include "platform/system/Exception.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// ADO DataTypeEnum
using DataTypeEnum = std::int32_t;
inline constexpr DataTypeEnum adEmpty = 0;
inline constexpr DataTypeEnum adSmallInt = 2;
inline constexpr DataTypeEnum adInteger = 3;
inline constexpr DataTypeEnum adSingle = 4;
inline constexpr DataTypeEnum adDouble = 5;
inline constexpr DataTypeEnum adCurrency = 6;
inline constexpr DataTypeEnum adDate = 7;
inline constexpr DataTypeEnum adBSTR = 8;
inline constexpr DataTypeEnum adBoolean = 11;
inline constexpr DataTypeEnum adDecimal = 14;
inline constexpr DataTypeEnum adTinyInt = 16;
inline constexpr DataTypeEnum adUnsignedTinyInt = 17;
inline constexpr DataTypeEnum adUnsignedSmallInt = 18;
inline constexpr DataTypeEnum adUnsignedInt = 19;
inline constexpr DataTypeEnum adBigInt = 20;
inline constexpr DataTypeEnum adUnsignedBigInt = 21;
inline constexpr DataTypeEnum adGUID = 72;
inline constexpr DataTypeEnum adBinary = 128;
inline constexpr DataTypeEnum adChar = 129;
inline constexpr DataTypeEnum adWChar = 130;
inline constexpr DataTypeEnum adNumeric = 131;
inline constexpr DataTypeEnum adDBDate = 133;
inline constexpr DataTypeEnum adDBTime = 134;
inline constexpr DataTypeEnum adDBTimeStamp = 135;
inline constexpr DataTypeEnum adVarNumeric = 139;
inline constexpr DataTypeEnum adVarChar = 200;
inline constexpr DataTypeEnum adLongVarChar = 201;
inline constexpr DataTypeEnum adVarWChar = 202;
inline constexpr DataTypeEnum adLongVarWChar = 203;
inline constexpr DataTypeEnum adVarBinary = 204;
inline constexpr DataTypeEnum adLongVarBinary = 205;

// Option and state codes, as ADO numbers them.
inline constexpr std::int32_t adUseServer = 2;
inline constexpr std::int32_t adOptionUnspecified = -1;
inline constexpr std::int32_t adCmdText = 1;
inline constexpr std::int32_t adParamInput = 1;
inline constexpr std::int32_t adExecuteNoRecords = 128;
inline constexpr std::int32_t adOpenUnspecified = -1;
inline constexpr std::int32_t adLockReadOnly = 1;
inline constexpr std::int32_t adStateClosed = 0;
inline constexpr std::int32_t adStateOpen = 1;

// A failure reported by the driver manager or the driver; the message is the driver's own text
// (diagnostic records joined, with their SQLSTATE).
class EADOError : public Exception
{
public:
    EADOError(const QString &message, const QString &sqlState = QString(),
              std::int32_t nativeError = 0);
    // The SQLSTATE of the first diagnostic record, empty when there was none.
    const QString &SQLState() const { return m_SQLState; }
    // The driver's native error code of the first diagnostic record, 0 when there was none.
    std::int32_t NativeError() const { return m_NativeError; }

private:
    QString m_SQLState;
    std::int32_t m_NativeError = 0;
};

class TADOConnection;

// Turns a connection string as documents keep it (Key=Value pairs separated by ";") into the ODBC
// connection string for SQLDriverConnect; user and password become UID and PWD when not empty.
//   Provider=SQLite;Data Source=<file>                       -> Driver=SQLite3;Database=<file>
//   Provider=PostgreSQL;Data Source=<host>[:<port>];Initial Catalog=<db>
//                                                            -> Driver=PostgreSQL Unicode;...
//   Data Source=<name> (no provider) or Provider=MSDASQL;... -> DSN=<name>
//   a string with Driver= or DSN=                            -> passed on as it is
// Other keys of the first three forms are passed on. Values containing ";" are braced; values
// may be given in double or single quotes or braces. "User ID" and "Password" in the string are
// used when userID or password is empty. Provider=MSDASQL with "Extended Properties" passes
// those on as the ODBC string. A version suffix of the provider ("MSDASQL.1") is ignored.
// Raises EADOError with a German message for a provider it does not know or a string that names
// neither a provider nor a data source.
QString TranslateConnectionString(const QString &connectionString, const QString &userID,
                                  const QString &password);

class TADOConnection
{
public:
    TADOConnection();
    ~TADOConnection(); // closes
    TADOConnection(const TADOConnection &) = delete;
    TADOConnection &operator=(const TADOConnection &) = delete;

    // Seconds; 0 waits as long as the driver does.
    std::int32_t ConnectionTimeout = 15;
    // Kept for the callers that set it; ODBC cursors are always the driver's own.
    std::int32_t CursorLocation = adUseServer;

    // Raises EADOError when already open or when the driver refuses.
    void Open(const QString &connectionString, const QString &userID, const QString &password,
              std::int32_t options = adOptionUnspecified);
    // Rolls back an open transaction first. Closing a closed connection does nothing.
    void Close();
    std::int32_t State() const; // adStateOpen or adStateClosed

    // Manual commit from BeginTrans until CommitTrans or RollbackTrans, then autocommit again.
    // A statement that fails inside a transaction leaves the transaction usable (on PostgreSQL
    // through psqlODBC's statement-level rollback). Raise EADOError when closed, BeginTrans
    // inside a transaction, Commit/Rollback outside one. A commit the database refuses rolls
    // back, ends the transaction and raises, so the next BeginTrans starts afresh.
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool InTransaction() const;

    // Internal: the ODBC handles live in the implementation.
    struct Impl;
    Impl &Handles() const { return *m_Impl; }

private:
    std::unique_ptr<Impl> m_Impl;
};

class TADOParameter
{
public:
    QString Name;
    DataTypeEnum Type = adEmpty;
    std::int32_t Direction = adParamInput;
    std::int32_t Size = 0; // characters for string types, else ignored
    // Empty and Null are sent as SQL NULL. Text is sent as text and converted by the driver or
    // the database (a time stamp text into a TIMESTAMP column; a text it refuses makes Execute
    // raise with the database's message). Other values are converted to Type on execution,
    // numbers without locale (a decimal point, never a comma), dates into text as
    // "yyyy-MM-dd hh:mm:ss"; a value that cannot be converted makes Execute raise before anything
    // is sent. With Type adEmpty the value's own type decides.
    TVariant Value;
};

// A statement with "?" markers bound to named parameters in their order. Prepared on the first
// Execute and reused until CommandText, the parameters' SQL types or the connection change (also
// after the connection was closed and opened again).
class TADOCommand
{
public:
    TADOCommand();
    ~TADOCommand();
    TADOCommand(const TADOCommand &) = delete;
    TADOCommand &operator=(const TADOCommand &) = delete;

    // Not owned; the connection must outlive the command or be detached with nullptr first.
    // Executing after the connection was closed raises EADOError.
    void SetActiveConnection(TADOConnection *connection);
    TADOConnection *ActiveConnection() const { return m_Connection; }
    void SetCommandText(const QString &text);
    const QString &CommandText() const { return m_CommandText; }
    std::int32_t CommandType = adCmdText;

    // Appends; names need not be unique, ParamByName finds the first.
    TADOParameter &CreateParameter(const QString &name, DataTypeEnum type, std::int32_t direction,
                                   std::int32_t size);
    int ParameterCount() const;
    // EListError outside 0..ParameterCount-1.
    TADOParameter &Parameters(int index);
    const TADOParameter &Parameters(int index) const;
    // Case-insensitive; raises EADOError (German message naming the parameter) when absent.
    TADOParameter &ParamByName(const QString &name);

    // Runs the statement with the current parameter values. With adExecuteNoRecords no result
    // set is kept. Returns the number of rows affected (-1 when the driver does not know).
    std::int64_t Execute(std::int32_t options = adExecuteNoRecords);

    struct Impl;

private:
    TADOConnection *m_Connection = nullptr;
    QString m_CommandText;
    std::vector<std::unique_ptr<TADOParameter>> m_Parameters;
    std::unique_ptr<Impl> m_Impl;
};

// Forward-only, read-only rows of one SELECT.
class TADORecordset
{
public:
    TADORecordset();
    ~TADORecordset();
    TADORecordset(const TADORecordset &) = delete;
    TADORecordset &operator=(const TADORecordset &) = delete;

    // Raises EADOError when already open, when the connection is closed or the statement fails.
    void Open(const QString &source, TADOConnection *connection,
              std::int32_t cursorType = adOpenUnspecified, std::int32_t lockType = adLockReadOnly,
              std::int32_t options = adCmdText);
    void Close(); // closing a closed recordset does nothing
    std::int32_t State() const;

    bool Eof() const;
    void MoveNext();
    int FieldCount() const;
    // The value of a column of the current row; Null for SQL NULL. Integers are VT_I2/VT_I4/VT_I8
    // by column type, floats VT_R4/VT_R8, decimals VT_R8, dates and times VT_DATE, text VT_BSTR,
    // binaries arrays of VT_UI1. Raises EADOError at the end, when closed (also by closing the
    // connection) or outside 0..FieldCount-1.
    TVariant Fields(int index) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_Impl;
};

struct TADOXColumn
{
    QString Name;
    DataTypeEnum Type = adEmpty;
    // Characters for string types, bytes of the value for fixed-size types.
    std::int32_t DefinedSize = 0;
};

struct TADOXTable
{
    QString Name;
    // The driver's type text: "TABLE", "VIEW", "SYSTEM TABLE", ...
    QString Type;
    // The schema that holds the table, empty when the driver has none.
    QString Schema;
};

// The tables and columns the connection can see, read through the ODBC catalog functions. On
// PostgreSQL only the schemas of the search path count (public by default); a name in an earlier
// schema hides the same name in later ones.
class TADOXCatalog
{
public:
    // Raises EADOError when connection is null or closed.
    explicit TADOXCatalog(TADOConnection *connection);
    ~TADOXCatalog();
    TADOXCatalog(const TADOXCatalog &) = delete;
    TADOXCatalog &operator=(const TADOXCatalog &) = delete;

    // Read on first use, then kept.
    int TableCount();
    const TADOXTable &Tables(int index); // EListError outside the range
    // The columns of a table of this catalog in their ordinal order, read on first use.
    const std::vector<TADOXColumn> &Columns(int tableIndex);

private:
    TADOConnection *m_Connection;
    bool m_TablesRead = false;
    std::vector<TADOXTable> m_Tables;
    std::vector<std::unique_ptr<std::vector<TADOXColumn>>> m_Columns;
};
