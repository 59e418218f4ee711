// Commands with bound parameters and the read-only recordset.
#include "platform/ado/Ado.h"

#include "platform/ado/OdbcSupport.h"

#include <QHash>
#include <algorithm>
#include <cmath>

using namespace ado_detail;

namespace {

// How a parameter travels: its ODBC SQL type and the C buffer that carries its value.
enum class TKind {
    Integer,
    Unsigned,
    Float,
    Decimal,
    Boolean,
    TimeStamp,
    Date,
    Time,
    Text,
    Binary
};

struct TBinding
{
    TKind Kind = TKind::Text;
    SQLSMALLINT SqlType = SQL_WVARCHAR;
};

TBinding BindingOf(DataTypeEnum type, const TVariant &value)
{
    switch (type) {
    case adTinyInt: return {TKind::Integer, SQL_TINYINT};
    case adUnsignedTinyInt:
    case adSmallInt: return {TKind::Integer, SQL_SMALLINT};
    case adUnsignedSmallInt:
    case adInteger: return {TKind::Integer, SQL_INTEGER};
    case adUnsignedInt:
    case adBigInt: return {TKind::Integer, SQL_BIGINT};
    case adUnsignedBigInt: return {TKind::Unsigned, SQL_BIGINT};
    case adSingle: return {TKind::Float, SQL_REAL};
    case adDouble: return {TKind::Float, SQL_DOUBLE};
    case adCurrency:
    case adDecimal: return {TKind::Decimal, SQL_DECIMAL};
    case adNumeric:
    case adVarNumeric: return {TKind::Decimal, SQL_NUMERIC};
    case adBoolean: return {TKind::Boolean, SQL_BIT};
    case adDate:
    case adDBTimeStamp: return {TKind::TimeStamp, SQL_TYPE_TIMESTAMP};
    case adDBDate: return {TKind::Date, SQL_TYPE_DATE};
    case adDBTime: return {TKind::Time, SQL_TYPE_TIME};
    case adGUID: return {TKind::Text, SQL_GUID};
    case adChar: return {TKind::Text, SQL_CHAR};
    case adVarChar: return {TKind::Text, SQL_VARCHAR};
    case adLongVarChar: return {TKind::Text, SQL_LONGVARCHAR};
    case adWChar: return {TKind::Text, SQL_WCHAR};
    case adBSTR:
    case adVarWChar: return {TKind::Text, SQL_WVARCHAR};
    case adLongVarWChar: return {TKind::Text, SQL_WLONGVARCHAR};
    case adBinary: return {TKind::Binary, SQL_BINARY};
    case adVarBinary: return {TKind::Binary, SQL_VARBINARY};
    case adLongVarBinary: return {TKind::Binary, SQL_LONGVARBINARY};
    default: break;
    }
    // No column type known: let the value decide.
    switch (value.Type()) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4: return {TKind::Integer, SQL_BIGINT};
    case VT_UI8: return {TKind::Unsigned, SQL_BIGINT};
    case VT_R4:
    case VT_R8: return {TKind::Float, SQL_DOUBLE};
    case VT_CY: return {TKind::Decimal, SQL_DECIMAL};
    case VT_BOOL: return {TKind::Boolean, SQL_BIT};
    case VT_DATE: return {TKind::TimeStamp, SQL_TYPE_TIMESTAMP};
    case VT_ARRAY | VT_UI1: return {TKind::Binary, SQL_VARBINARY};
    default: return {TKind::Text, SQL_WVARCHAR};
    }
}

// One parameter's value in the form SQLBindParameter points at; lives until the execution ends.
struct TBoundValue
{
    SQLSMALLINT CType = SQL_C_WCHAR;
    SQLSMALLINT SqlType = SQL_WVARCHAR;
    SQLULEN ColumnSize = 0;
    SQLSMALLINT Digits = 0;
    SQLLEN Indicator = 0;
    SQLBIGINT Integer = 0;
    SQLUBIGINT Unsigned = 0;
    double Float = 0;
    unsigned char Bit = 0;
    SQL_TIMESTAMP_STRUCT TimeStamp{};
    SQL_DATE_STRUCT Date{};
    SQL_TIME_STRUCT Time{};
    QString Text;
    QByteArray Bytes;

    SQLPOINTER Pointer()
    {
        switch (CType) {
        case SQL_C_SBIGINT: return &Integer;
        case SQL_C_UBIGINT: return &Unsigned;
        case SQL_C_DOUBLE: return &Float;
        case SQL_C_BIT: return &Bit;
        case SQL_C_TYPE_TIMESTAMP: return &TimeStamp;
        case SQL_C_TYPE_DATE: return &Date;
        case SQL_C_TYPE_TIME: return &Time;
        case SQL_C_BINARY: return Bytes.data();
        default: return const_cast<char16_t *>(reinterpret_cast<const char16_t *>(Text.utf16()));
        }
    }
    SQLLEN BufferLength() const
    {
        if (CType == SQL_C_WCHAR)
            return SQLLEN((Text.size() + 1) * sizeof(SQLWCHAR));
        if (CType == SQL_C_BINARY)
            return SQLLEN(Bytes.size());
        return 0;
    }
};

QString TypeText(DataTypeEnum type)
{
    return QString::number(type);
}

[[noreturn]] void RaiseConversion(const TADOParameter &parameter)
{
    throw EADOError(
        QStringLiteral("Der Wert \"%1\" des Parameters \"%2\" kann nicht in den "
                       "Datentyp %3 umgewandelt werden.")
            .arg(parameter.Value.ToString(QLocale::c()), parameter.Name, TypeText(parameter.Type)));
}

TVariant Converted(const TADOParameter &parameter, VARTYPE target)
{
    TVariant out;
    if (FAILED(parameter.Value.ChangeType(target, out, QLocale::c())))
        RaiseConversion(parameter);
    return out;
}

// The text of a number as databases read it: a decimal point, no grouping, no locale.
QString DecimalText(const TADOParameter &parameter)
{
    const TVariant &value = parameter.Value;
    switch (value.Type()) {
    case VT_CY: {
        const std::int64_t cy = value.AsCY();
        const std::uint64_t magnitude = cy < 0 ? 0 - std::uint64_t(cy) : std::uint64_t(cy);
        return QStringLiteral("%1%2.%3")
            .arg(cy < 0 ? QStringLiteral("-") : QString())
            .arg(magnitude / CurrencyScale)
            .arg(magnitude % CurrencyScale, 4, 10, QLatin1Char('0'));
    }
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8: return QString::number(value.AsInt64());
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: return QString::number(value.AsUInt64());
    default: {
        const double number = Converted(parameter, VT_R8).AsDouble();
        if (!std::isfinite(number))
            RaiseConversion(parameter);
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    }
    }
}

void SetText(TBoundValue &bound, QString text, SQLSMALLINT sqlType, std::int32_t size)
{
    bound.CType = SQL_C_WCHAR;
    bound.Text = std::move(text);
    bound.Indicator = SQLLEN(bound.Text.size() * sizeof(SQLWCHAR));
    switch (sqlType) {
    case SQL_TYPE_TIMESTAMP:
        bound.ColumnSize = 26;
        bound.Digits = 6;
        break;
    case SQL_TYPE_DATE: bound.ColumnSize = 10; break;
    case SQL_TYPE_TIME: bound.ColumnSize = 8; break;
    case SQL_DECIMAL:
    case SQL_NUMERIC: {
        bound.ColumnSize = 38;
        const qsizetype point = bound.Text.indexOf(QLatin1Char('.'));
        bound.Digits =
            point < 0 ? 0 : SQLSMALLINT(std::min<qsizetype>(bound.Text.size() - point - 1, 38));
        break;
    }
    default: bound.ColumnSize = SQLULEN(std::max<qsizetype>({bound.Text.size(), size, 1})); break;
    }
}

void SetDateParts(TBoundValue &bound, TDateTime value)
{
    const QDate date = DateOf(value);
    const QTime time = TimeOf(value);
    bound.TimeStamp = {SQLSMALLINT(date.year()),           SQLUSMALLINT(date.month()),
                       SQLUSMALLINT(date.day()),           SQLUSMALLINT(time.hour()),
                       SQLUSMALLINT(time.minute()),        SQLUSMALLINT(time.second()),
                       SQLUINTEGER(time.msec()) * 1000000u};
    bound.Date = {SQLSMALLINT(date.year()), SQLUSMALLINT(date.month()), SQLUSMALLINT(date.day())};
    bound.Time = {SQLUSMALLINT(time.hour()), SQLUSMALLINT(time.minute()),
                  SQLUSMALLINT(time.second())};
}

QString IsoText(TDateTime value)
{
    const QDateTime moment(DateOf(value), TimeOf(value));
    return moment.toString(moment.time().msec() ? QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")
                                                : QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

TBoundValue Bind(const TADOParameter &parameter)
{
    const TVariant &value = parameter.Value;
    const TBinding binding = BindingOf(parameter.Type, value);
    TBoundValue bound;
    bound.SqlType = binding.SqlType;

    if (value.IsEmpty() || value.IsNull()) {
        SetText(bound, QString(), binding.SqlType, parameter.Size);
        bound.Indicator = SQL_NULL_DATA;
        return bound;
    }
    // Text goes to the database as it is, whatever the column: the database converts it (a
    // time stamp text into a TIMESTAMP column) or refuses it with its own message.
    if (value.Type() == VT_BSTR) {
        SetText(bound, value.AsString(), binding.SqlType, parameter.Size);
        return bound;
    }

    switch (binding.Kind) {
    case TKind::Integer:
        bound.CType = SQL_C_SBIGINT;
        bound.Integer = Converted(parameter, VT_I8).AsInt64();
        break;
    case TKind::Unsigned:
        bound.CType = SQL_C_UBIGINT;
        bound.Unsigned = Converted(parameter, VT_UI8).AsUInt64();
        break;
    case TKind::Float:
        bound.CType = SQL_C_DOUBLE;
        bound.Float = Converted(parameter, VT_R8).AsDouble();
        bound.ColumnSize = 15;
        break;
    case TKind::Decimal:
        SetText(bound, DecimalText(parameter), binding.SqlType, parameter.Size);
        break;
    case TKind::Boolean:
        bound.CType = SQL_C_BIT;
        bound.Bit = Converted(parameter, VT_BOOL).AsBool() ? 1 : 0;
        bound.ColumnSize = 1;
        break;
    case TKind::TimeStamp:
    case TKind::Date:
    case TKind::Time: {
        const TDateTime date = Converted(parameter, VT_DATE).AsDouble();
        SetDateParts(bound, date);
        if (binding.Kind == TKind::TimeStamp) {
            bound.CType = SQL_C_TYPE_TIMESTAMP;
            bound.ColumnSize = 23;
            bound.Digits = 3;
        } else if (binding.Kind == TKind::Date) {
            bound.CType = SQL_C_TYPE_DATE;
            bound.ColumnSize = 10;
        } else {
            bound.CType = SQL_C_TYPE_TIME;
            bound.ColumnSize = 8;
        }
        break;
    }
    case TKind::Text:
        // Dates as ISO text and numbers without locale, so the database can read them back.
        SetText(bound,
                value.Type() == VT_DATE ? IsoText(value.AsDouble())
                                        : Converted(parameter, VT_BSTR).AsString(),
                binding.SqlType, parameter.Size);
        break;
    case TKind::Binary:
        if (value.Type() != (VT_ARRAY | VT_UI1))
            RaiseConversion(parameter);
        bound.CType = SQL_C_BINARY;
        for (const TVariant &byte : value.Elements())
            bound.Bytes.append(char(byte.AsUInt64()));
        bound.Indicator = SQLLEN(bound.Bytes.size());
        bound.ColumnSize = SQLULEN(std::max<qsizetype>({bound.Bytes.size(), parameter.Size, 1}));
        break;
    }
    if (bound.CType != SQL_C_WCHAR && bound.CType != SQL_C_BINARY)
        bound.Indicator = 0;
    return bound;
}

TADOConnection::Impl &OpenConnection(TADOConnection *connection)
{
    if (!connection || connection->State() != adStateOpen)
        RaiseClosed();
    return connection->Handles();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Command

struct TADOCommand::Impl
{
    Statement Stmt;
    // What the statement was prepared with; a change prepares it again.
    bool Prepared = false;
    QString PreparedText;
    std::vector<SQLSMALLINT> PreparedTypes;
    std::vector<TBoundValue> Values;
    // Lower-case name -> position of the first parameter of that name; rebuilt when it no longer
    // matches, since names are public and commands of wide tables have a thousand parameters.
    QHash<QString, int> ByName;
};

TADOCommand::TADOCommand() : m_Impl(std::make_unique<Impl>()) {}

TADOCommand::~TADOCommand() = default;

void TADOCommand::SetActiveConnection(TADOConnection *connection)
{
    if (connection != m_Connection) {
        m_Impl->Stmt.Release();
        m_Impl->Prepared = false;
    }
    m_Connection = connection;
}

void TADOCommand::SetCommandText(const QString &text)
{
    m_CommandText = text;
}

TADOParameter &TADOCommand::CreateParameter(const QString &name, DataTypeEnum type,
                                            std::int32_t direction, std::int32_t size)
{
    auto parameter = std::make_unique<TADOParameter>();
    parameter->Name = name;
    parameter->Type = type;
    parameter->Direction = direction;
    parameter->Size = size;
    m_Parameters.push_back(std::move(parameter));
    return *m_Parameters.back();
}

int TADOCommand::ParameterCount() const
{
    return int(m_Parameters.size());
}

TADOParameter &TADOCommand::Parameters(int index)
{
    if (index < 0 || index >= ParameterCount())
        throw EListError(index);
    return *m_Parameters[std::size_t(index)];
}

const TADOParameter &TADOCommand::Parameters(int index) const
{
    if (index < 0 || index >= ParameterCount())
        throw EListError(index);
    return *m_Parameters[std::size_t(index)];
}

TADOParameter &TADOCommand::ParamByName(const QString &name)
{
    const auto matches = [&](int index) {
        return index >= 0 && index < int(m_Parameters.size()) &&
               m_Parameters[std::size_t(index)]->Name.compare(name, Qt::CaseInsensitive) == 0;
    };
    QHash<QString, int> &byName = m_Impl->ByName;
    int index = byName.value(name.toLower(), -1);
    if (!matches(index)) {
        byName.clear();
        for (int i = int(m_Parameters.size()) - 1; i >= 0; --i)
            byName.insert(m_Parameters[std::size_t(i)]->Name.toLower(), i);
        index = byName.value(name.toLower(), -1);
    }
    if (matches(index))
        return *m_Parameters[std::size_t(index)];
    throw EADOError(QStringLiteral("Der Parameter \"%1\" wurde nicht gefunden.").arg(name));
}

std::int64_t TADOCommand::Execute(std::int32_t /*options*/)
{
    TADOConnection::Impl &connection = OpenConnection(m_Connection);
    Impl &impl = *m_Impl;
    if (impl.Stmt.Owner() != &connection || impl.Stmt.Handle() == SQL_NULL_HSTMT)
        impl.Prepared = false;
    const SQLHSTMT handle = impl.Stmt.Acquire(connection);

    // Values first: a value that cannot be converted must fail before anything is sent.
    impl.Values.clear();
    impl.Values.reserve(m_Parameters.size());
    // The SQL types are part of what is prepared (psqlODBC declares them to the server).
    std::vector<SQLSMALLINT> types;
    for (const auto &parameter : m_Parameters) {
        impl.Values.push_back(Bind(*parameter));
        types.push_back(impl.Values.back().SqlType);
    }

    SQLFreeStmt(handle, SQL_CLOSE);
    if (!impl.Prepared || impl.PreparedText != m_CommandText || impl.PreparedTypes != types) {
        impl.Prepared = false;
        SQLFreeStmt(handle, SQL_RESET_PARAMS);
        Check(SQLPrepareW(handle, const_cast<SQLWCHAR *>(Wide(m_CommandText)), SQL_NTS),
              SQL_HANDLE_STMT, handle, "SQLPrepare");
        impl.Prepared = true;
        impl.PreparedText = m_CommandText;
        impl.PreparedTypes = std::move(types);
    }
    for (std::size_t i = 0; i < impl.Values.size(); ++i) {
        TBoundValue &value = impl.Values[i];
        Check(SQLBindParameter(handle, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, value.CType,
                               value.SqlType, value.ColumnSize, value.Digits, value.Pointer(),
                               value.BufferLength(), &value.Indicator),
              SQL_HANDLE_STMT, handle, "SQLBindParameter");
    }

    const CursorCloser closer(handle);
    const SQLRETURN rc = SQLExecute(handle);
    // An UPDATE or DELETE that found no row reports SQL_NO_DATA.
    if (rc == SQL_NO_DATA)
        return 0;
    Check(rc, SQL_HANDLE_STMT, handle, "SQLExecute");
    SQLLEN rows = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(handle, &rows)))
        rows = -1;
    return rows;
}

// ---------------------------------------------------------------------------------------------
// Recordset

struct TADORecordset::Impl
{
    Statement Stmt;
    bool Open = false;
    bool Eof = true;
    std::vector<SQLSMALLINT> Types;
    std::vector<TVariant> Row;

    // Open only while the statement still lives: closing the connection releases it.
    bool IsOpen() const { return Open && Stmt.Handle() != SQL_NULL_HSTMT; }

    void Fetch()
    {
        const SQLHSTMT handle = Stmt.Handle();
        Row.clear();
        const SQLRETURN rc = SQLFetch(handle);
        if (rc == SQL_NO_DATA) {
            Eof = true;
            return;
        }
        Check(rc, SQL_HANDLE_STMT, handle, "SQLFetch");
        // SQLGetData must read the columns in their order, so the whole row is read at once.
        for (std::size_t i = 0; i < Types.size(); ++i)
            Row.push_back(GetValue(handle, SQLUSMALLINT(i + 1), Types[i]));
        Eof = false;
    }
};

TADORecordset::TADORecordset() : m_Impl(std::make_unique<Impl>()) {}

TADORecordset::~TADORecordset() = default;

void TADORecordset::Open(const QString &source, TADOConnection *connection,
                         std::int32_t /*cursorType*/, std::int32_t /*lockType*/,
                         std::int32_t /*options*/)
{
    Impl &impl = *m_Impl;
    if (impl.IsOpen())
        throw EADOError(
            QStringLiteral("Der Vorgang ist für ein geöffnetes Objekt nicht zulässig."));
    TADOConnection::Impl &owner = OpenConnection(connection);
    impl.Open = false;
    impl.Eof = true;
    impl.Types.clear();
    impl.Row.clear();
    try {
        const SQLHSTMT handle = impl.Stmt.Acquire(owner);
        SQLFreeStmt(handle, SQL_CLOSE);
        SQLFreeStmt(handle, SQL_RESET_PARAMS);
        const SQLRETURN rc = SQLExecDirectW(handle, const_cast<SQLWCHAR *>(Wide(source)), SQL_NTS);
        if (rc != SQL_NO_DATA)
            Check(rc, SQL_HANDLE_STMT, handle, "SQLExecDirect");
        SQLSMALLINT columns = 0;
        Check(SQLNumResultCols(handle, &columns), SQL_HANDLE_STMT, handle, "SQLNumResultCols");
        for (SQLSMALLINT i = 1; i <= columns; ++i) {
            // psqlODBC insists on a buffer for the name, although only the type is needed.
            SQLWCHAR name[256];
            SQLSMALLINT nameLength = 0;
            SQLSMALLINT type = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            Check(SQLDescribeColW(handle, SQLUSMALLINT(i), name, SQLSMALLINT(std::size(name)),
                                  &nameLength, &type, &size, &digits, &nullable),
                  SQL_HANDLE_STMT, handle, "SQLDescribeCol");
            impl.Types.push_back(type);
        }
        impl.Open = true;
        if (columns > 0)
            impl.Fetch();
    } catch (...) {
        impl.Open = false;
        impl.Stmt.Release();
        throw;
    }
}

void TADORecordset::Close()
{
    Impl &impl = *m_Impl;
    impl.Stmt.Release();
    impl.Open = false;
    impl.Eof = true;
    impl.Types.clear();
    impl.Row.clear();
}

std::int32_t TADORecordset::State() const
{
    return m_Impl->IsOpen() ? adStateOpen : adStateClosed;
}

bool TADORecordset::Eof() const
{
    return !m_Impl->IsOpen() || m_Impl->Eof;
}

void TADORecordset::MoveNext()
{
    Impl &impl = *m_Impl;
    if (!impl.IsOpen())
        RaiseClosed();
    if (impl.Eof)
        throw EADOError(QStringLiteral("Es gibt keinen aktuellen Datensatz."));
    impl.Fetch();
}

int TADORecordset::FieldCount() const
{
    return m_Impl->IsOpen() ? int(m_Impl->Types.size()) : 0;
}

TVariant TADORecordset::Fields(int index) const
{
    const Impl &impl = *m_Impl;
    if (!impl.IsOpen())
        RaiseClosed();
    if (impl.Eof)
        throw EADOError(QStringLiteral("Es gibt keinen aktuellen Datensatz."));
    if (index < 0 || index >= int(impl.Row.size()))
        throw EADOError(QStringLiteral("Das Feld %1 gibt es nicht.").arg(index));
    return impl.Row[std::size_t(index)];
}
