#include "platform/ado/Ado.h"

#include "platform/ado/OdbcSupport.h"

#include <QRegularExpression>
#include <algorithm>
#include <limits>

using namespace ado_detail;

// ---------------------------------------------------------------------------------------------
// Errors and ODBC helpers

EADOError::EADOError(const QString &message, const QString &sqlState, std::int32_t nativeError)
    : Exception(message), m_SQLState(sqlState), m_NativeError(nativeError)
{
}

namespace ado_detail {

void RaiseDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const char *operation)
{
    QStringList texts;
    QString firstState;
    SQLINTEGER firstNative = 0;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> message(512);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message.data(),
                                      SQLSMALLINT(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(message.size())) {
            message.resize(std::size_t(length) + 1);
            rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message.data(),
                                SQLSMALLINT(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        const QString sqlState = FromWide(state, 5);
        const QString text =
            FromWide(message.data(), std::min<qsizetype>(length, qsizetype(message.size()) - 1))
                .trimmed();
        if (record == 1) {
            firstState = sqlState;
            firstNative = native;
        }
        texts << QStringLiteral("%1 (SQLSTATE %2)").arg(text, sqlState);
    }
    if (texts.isEmpty())
        throw EADOError(QStringLiteral("Die ODBC-Funktion %1 ist ohne weitere Meldung "
                                       "fehlgeschlagen.")
                            .arg(QString::fromLatin1(operation)));
    throw EADOError(texts.join(QStringLiteral("; ")), firstState, firstNative);
}

void RaiseClosed()
{
    throw EADOError(QStringLiteral("Der Vorgang ist für ein geschlossenes Objekt nicht zulässig."));
}

SQLHSTMT Statement::Acquire(TADOConnection::Impl &connection)
{
    if (m_Owner == &connection && m_Handle != SQL_NULL_HSTMT)
        return m_Handle;
    Release();
    SQLHSTMT handle = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, connection.OpenDbc(), &handle), SQL_HANDLE_DBC,
          connection.Dbc, "SQLAllocHandle");
    connection.Statements.push_back(this);
    m_Owner = &connection;
    m_Handle = handle;
    return m_Handle;
}

void Statement::Release() noexcept
{
    if (m_Handle != SQL_NULL_HSTMT)
        SQLFreeHandle(SQL_HANDLE_STMT, m_Handle);
    m_Handle = SQL_NULL_HSTMT;
    if (m_Owner)
        std::erase(m_Owner->Statements, this);
    m_Owner = nullptr;
}

std::optional<QString> GetText(SQLHSTMT handle, SQLUSMALLINT column)
{
    QString result;
    std::vector<SQLWCHAR> buffer(256);
    for (;;) {
        SQLLEN indicator = 0;
        const SQLLEN bytes = SQLLEN(buffer.size() * sizeof(SQLWCHAR));
        const SQLRETURN rc =
            SQLGetData(handle, column, SQL_C_WCHAR, buffer.data(), bytes, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        Check(rc, SQL_HANDLE_STMT, handle, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const bool truncated = indicator == SQL_NO_TOTAL || indicator >= bytes;
        const qsizetype chars =
            truncated ? qsizetype(buffer.size()) - 1 : qsizetype(indicator / sizeof(SQLWCHAR));
        result.append(FromWide(buffer.data(), chars));
        if (rc == SQL_SUCCESS || !truncated)
            break;
        buffer.resize(buffer.size() * 2);
    }
    return result;
}

std::optional<std::int64_t> GetInteger(SQLHSTMT handle, SQLUSMALLINT column)
{
    SQLBIGINT value = 0;
    SQLLEN indicator = 0;
    Check(SQLGetData(handle, column, SQL_C_SBIGINT, &value, sizeof value, &indicator),
          SQL_HANDLE_STMT, handle, "SQLGetData");
    if (indicator == SQL_NULL_DATA)
        return std::nullopt;
    return value;
}

namespace {

template <typename T>
bool GetFixed(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT cType, T &value)
{
    SQLLEN indicator = 0;
    Check(SQLGetData(handle, column, cType, &value, sizeof value, &indicator), SQL_HANDLE_STMT,
          handle, "SQLGetData");
    return indicator != SQL_NULL_DATA;
}

TDateTime FromParts(int year, int month, int day, int hour, int minute, int second,
                    SQLUINTEGER fraction)
{
    const QDate date = year == 0 ? QDate(1899, 12, 30) : QDate(year, month, day);
    return EncodeDateTime(date, QTime(hour, minute, second, int(fraction / 1000000)));
}

} // namespace

TVariant GetValue(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: {
        const auto value = GetInteger(handle, column);
        if (!value)
            return TVariant::Null();
        if (sqlType == SQL_BIGINT)
            return TVariant::FromI8(*value);
        if (sqlType == SQL_INTEGER && *value >= std::numeric_limits<std::int32_t>::min() &&
            *value <= std::numeric_limits<std::int32_t>::max())
            return TVariant::FromI4(std::int32_t(*value));
        if (sqlType != SQL_INTEGER && *value >= std::numeric_limits<std::int16_t>::min() &&
            *value <= std::numeric_limits<std::int16_t>::max())
            return TVariant::FromI2(std::int16_t(*value));
        return TVariant::FromI8(*value);
    }
    case SQL_BIT: {
        unsigned char value = 0;
        return GetFixed(handle, column, SQL_C_BIT, value) ? TVariant::FromBool(value != 0)
                                                          : TVariant::Null();
    }
    case SQL_REAL: {
        float value = 0;
        return GetFixed(handle, column, SQL_C_FLOAT, value) ? TVariant::FromR4(value)
                                                            : TVariant::Null();
    }
    case SQL_FLOAT:
    case SQL_DOUBLE: {
        double value = 0;
        return GetFixed(handle, column, SQL_C_DOUBLE, value) ? TVariant::FromR8(value)
                                                             : TVariant::Null();
    }
    case SQL_DECIMAL:
    case SQL_NUMERIC: {
        const auto text = GetText(handle, column);
        if (!text)
            return TVariant::Null();
        bool ok = false;
        const double value = QLocale::c().toDouble(text->trimmed(), &ok);
        return ok ? TVariant::FromR8(value) : TVariant::FromString(*text);
    }
    case SQL_TYPE_DATE:
    case SQL_DATE: {
        SQL_DATE_STRUCT value{};
        return GetFixed(handle, column, SQL_C_TYPE_DATE, value)
                   ? TVariant::FromDate(FromParts(value.year, value.month, value.day, 0, 0, 0, 0))
                   : TVariant::Null();
    }
    case SQL_TYPE_TIME:
    case SQL_TIME: {
        SQL_TIME_STRUCT value{};
        return GetFixed(handle, column, SQL_C_TYPE_TIME, value)
                   ? TVariant::FromDate(
                         FromParts(0, 0, 0, value.hour, value.minute, value.second, 0))
                   : TVariant::Null();
    }
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT value{};
        return GetFixed(handle, column, SQL_C_TYPE_TIMESTAMP, value)
                   ? TVariant::FromDate(FromParts(value.year, value.month, value.day, value.hour,
                                                  value.minute, value.second, value.fraction))
                   : TVariant::Null();
    }
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: {
        std::vector<TVariant> bytes;
        std::vector<unsigned char> buffer(1024);
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(handle, column, SQL_C_BINARY, buffer.data(),
                                            SQLLEN(buffer.size()), &indicator);
            if (rc == SQL_NO_DATA)
                break;
            Check(rc, SQL_HANDLE_STMT, handle, "SQLGetData");
            if (indicator == SQL_NULL_DATA)
                return TVariant::Null();
            const bool truncated = indicator == SQL_NO_TOTAL || indicator > SQLLEN(buffer.size());
            const std::size_t count = truncated ? buffer.size() : std::size_t(indicator);
            for (std::size_t i = 0; i < count; ++i)
                bytes.push_back(TVariant::FromUI1(buffer[i]));
            if (rc == SQL_SUCCESS || !truncated)
                break;
        }
        return TVariant::FromArray(VT_UI1, std::move(bytes));
    }
    default: {
        const auto text = GetText(handle, column);
        return text ? TVariant::FromString(*text) : TVariant::Null();
    }
    }
}

} // namespace ado_detail

// ---------------------------------------------------------------------------------------------
// Connection strings

namespace {

struct TKeyValue
{
    QString Key;
    QString Value;
};

// Key=Value pairs separated by ";"; a value may be enclosed in double or single quotes or, as
// ODBC writes it, in braces, and then contain ";".
std::vector<TKeyValue> SplitConnectionString(const QString &text)
{
    std::vector<TKeyValue> pairs;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), i);
        const qsizetype semicolon = text.indexOf(QLatin1Char(';'), i);
        if (equals < 0 || (semicolon >= 0 && semicolon < equals)) {
            // A part without "=": nothing to keep.
            i = semicolon < 0 ? n : semicolon + 1;
            continue;
        }
        TKeyValue pair{text.mid(i, equals - i).trimmed(), QString()};
        i = equals + 1;
        while (i < n && text[i].isSpace())
            ++i;
        const QChar open = i < n ? text[i] : QChar();
        if (open == QLatin1Char('"') || open == QLatin1Char('\'') || open == QLatin1Char('{')) {
            const QChar close = open == QLatin1Char('{') ? QLatin1Char('}') : open;
            ++i;
            while (i < n) {
                if (text[i] == close) {
                    // A doubled closing character stands for itself.
                    if (i + 1 < n && text[i + 1] == close) {
                        pair.Value += close;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                pair.Value += text[i++];
            }
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            i = end < 0 ? n : end + 1;
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            pair.Value = text.mid(i, (end < 0 ? n : end) - i).trimmed();
            i = end < 0 ? n : end + 1;
        }
        if (!pair.Key.isEmpty())
            pairs.push_back(std::move(pair));
    }
    return pairs;
}

QString OdbcPair(const QString &key, const QString &value)
{
    const bool brace = value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('{')) ||
                       value.contains(QLatin1Char('}')) || value.startsWith(QLatin1Char(' ')) ||
                       value.endsWith(QLatin1Char(' '));
    if (!brace)
        return key + QLatin1Char('=') + value;
    QString escaped = value;
    escaped.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return key + QStringLiteral("={") + escaped + QLatin1Char('}');
}

bool KeyIs(const TKeyValue &pair, const char *key)
{
    return pair.Key.compare(QLatin1String(key), Qt::CaseInsensitive) == 0;
}

const TKeyValue *FindKey(const std::vector<TKeyValue> &pairs, const char *key)
{
    const auto it = std::find_if(pairs.begin(), pairs.end(),
                                 [key](const TKeyValue &pair) { return KeyIs(pair, key); });
    return it == pairs.end() ? nullptr : &*it;
}

} // namespace

QString TranslateConnectionString(const QString &connectionString, const QString &userID,
                                  const QString &password)
{
    const std::vector<TKeyValue> pairs = SplitConnectionString(connectionString);
    const TKeyValue *provider = FindKey(pairs, "Provider");
    QStringList parts;

    // The separately given credentials win over those kept in the string.
    const TKeyValue *userInString = FindKey(pairs, "User ID");
    const TKeyValue *passwordInString = FindKey(pairs, "Password");
    const QString user = userID.isEmpty() && userInString ? userInString->Value : userID;
    const QString pwd = password.isEmpty() && passwordInString ? passwordInString->Value : password;
    const auto appendCredentials = [&] {
        if (!user.isEmpty())
            parts << OdbcPair(QStringLiteral("UID"), user);
        if (!pwd.isEmpty())
            parts << OdbcPair(QStringLiteral("PWD"), pwd);
    };

    if (!provider && (FindKey(pairs, "Driver") || FindKey(pairs, "DSN"))) {
        // ODBC's own string, kept as it is; only separately given credentials are added.
        QString result = connectionString.trimmed();
        if (!userID.isEmpty())
            parts << OdbcPair(QStringLiteral("UID"), userID);
        if (!password.isEmpty())
            parts << OdbcPair(QStringLiteral("PWD"), password);
        if (!parts.isEmpty() && !result.isEmpty() && !result.endsWith(QLatin1Char(';')))
            result += QLatin1Char(';');
        return result + parts.join(QLatin1Char(';'));
    }

    // "MSDASQL.1" and the like name a version of the same provider.
    QString providerName = provider ? provider->Value.trimmed() : QString();
    providerName.remove(QRegularExpression(QStringLiteral("\\.\\d+$")));
    const auto is = [&](const char *name) {
        return providerName.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    const auto passOthers = [&](std::initializer_list<const char *> handled) {
        for (const TKeyValue &pair : pairs) {
            if (KeyIs(pair, "Provider") || KeyIs(pair, "User ID") || KeyIs(pair, "Password"))
                continue;
            if (std::any_of(handled.begin(), handled.end(),
                            [&](const char *key) { return KeyIs(pair, key); }))
                continue;
            parts << OdbcPair(pair.Key, pair.Value);
        }
    };
    const TKeyValue *dataSource = FindKey(pairs, "Data Source");

    if (is("SQLite")) {
        parts << QStringLiteral("Driver=SQLite3");
        if (dataSource)
            parts << OdbcPair(QStringLiteral("Database"), dataSource->Value);
        passOthers({"Data Source"});
    } else if (is("PostgreSQL")) {
        parts << QStringLiteral("Driver=PostgreSQL Unicode");
        if (dataSource) {
            QString host = dataSource->Value.trimmed();
            QString port;
            if (host.startsWith(QLatin1Char('['))) { // [IPv6]:port
                const qsizetype close = host.indexOf(QLatin1Char(']'));
                if (close > 0) {
                    if (host.mid(close + 1).startsWith(QLatin1Char(':')))
                        port = host.mid(close + 2);
                    host = host.mid(1, close - 1);
                }
            } else if (host.count(QLatin1Char(':')) == 1) {
                const qsizetype colon = host.indexOf(QLatin1Char(':'));
                port = host.mid(colon + 1);
                host.truncate(colon);
            }
            parts << OdbcPair(QStringLiteral("Server"), host);
            if (!port.isEmpty())
                parts << OdbcPair(QStringLiteral("Port"), port);
        }
        if (const TKeyValue *catalog = FindKey(pairs, "Initial Catalog"))
            parts << OdbcPair(QStringLiteral("Database"), catalog->Value);
        passOthers({"Data Source", "Initial Catalog"});
    } else if (!provider || is("MSDASQL")) {
        // The ODBC provider may carry the whole ODBC string in its extended properties.
        const TKeyValue *extended = FindKey(pairs, "Extended Properties");
        if (extended && !extended->Value.isEmpty())
            parts << extended->Value;
        else if (dataSource)
            parts << OdbcPair(QStringLiteral("DSN"), dataSource->Value);
        else
            throw EADOError(QStringLiteral("Die Verbindungszeichenfolge \"%1\" nennt weder einen "
                                           "Provider noch eine Datenquelle.")
                                .arg(connectionString));
        passOthers({"Data Source", "Extended Properties"});
    } else {
        throw EADOError(
            QStringLiteral("Der Provider \"%1\" ist unbekannt. Unterstützt werden SQLite, "
                           "PostgreSQL und MSDASQL (ODBC-Datenquellen).")
                .arg(provider->Value));
    }
    appendCredentials();
    return parts.join(QLatin1Char(';'));
}

// ---------------------------------------------------------------------------------------------
// Connection

void TADOConnection::Impl::ReleaseStatements() noexcept
{
    while (!Statements.empty())
        Statements.back()->Release();
}

void TADOConnection::Impl::FreeHandles() noexcept
{
    ReleaseStatements();
    if (Dbc != SQL_NULL_HDBC) {
        if (Connected)
            SQLDisconnect(Dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, Dbc);
    }
    if (Env != SQL_NULL_HENV)
        SQLFreeHandle(SQL_HANDLE_ENV, Env);
    Dbc = SQL_NULL_HDBC;
    Env = SQL_NULL_HENV;
    Connected = false;
    InTransaction = false;
}

SQLHDBC TADOConnection::Impl::OpenDbc() const
{
    if (!Connected)
        RaiseClosed();
    return Dbc;
}

TADOConnection::TADOConnection() : m_Impl(std::make_unique<Impl>()) {}

TADOConnection::~TADOConnection()
{
    try {
        Close();
    } catch (...) {
        m_Impl->FreeHandles();
    }
}

void TADOConnection::Open(const QString &connectionString, const QString &userID,
                          const QString &password, std::int32_t /*options*/)
{
    if (m_Impl->Connected)
        throw EADOError(
            QStringLiteral("Der Vorgang ist für ein geöffnetes Objekt nicht zulässig."));
    const QString odbc = TranslateConnectionString(connectionString, userID, password);
    Impl &impl = *m_Impl;
    try {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &impl.Env)))
            throw EADOError(QStringLiteral("Die ODBC-Umgebung kann nicht angelegt werden."));
        Check(SQLSetEnvAttr(impl.Env, SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_HANDLE_ENV, impl.Env, "SQLSetEnvAttr");
        Check(SQLAllocHandle(SQL_HANDLE_DBC, impl.Env, &impl.Dbc), SQL_HANDLE_ENV, impl.Env,
              "SQLAllocHandle");
        if (ConnectionTimeout > 0)
            SQLSetConnectAttr(impl.Dbc, SQL_ATTR_LOGIN_TIMEOUT,
                              reinterpret_cast<SQLPOINTER>(SQLULEN(ConnectionTimeout)), 0);
        SQLWCHAR completed[1024];
        SQLSMALLINT completedLength = 0;
        Check(SQLDriverConnectW(impl.Dbc, nullptr, const_cast<SQLWCHAR *>(Wide(odbc)), SQL_NTS,
                                completed, SQLSMALLINT(std::size(completed)), &completedLength,
                                SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, impl.Dbc, "SQLDriverConnect");
        impl.Connected = true;
    } catch (...) {
        impl.FreeHandles();
        throw;
    }
}

void TADOConnection::Close()
{
    Impl &impl = *m_Impl;
    if (!impl.Connected) {
        impl.FreeHandles();
        return;
    }
    impl.ReleaseStatements();
    if (impl.InTransaction) {
        SQLEndTran(SQL_HANDLE_DBC, impl.Dbc, SQL_ROLLBACK);
        SQLSetConnectAttr(impl.Dbc, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    }
    impl.FreeHandles();
}

std::int32_t TADOConnection::State() const
{
    return m_Impl->Connected ? adStateOpen : adStateClosed;
}

void TADOConnection::BeginTrans()
{
    Impl &impl = *m_Impl;
    const SQLHDBC dbc = impl.OpenDbc();
    if (impl.InTransaction)
        throw EADOError(QStringLiteral("Es ist bereits eine Transaktion aktiv."));
    Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
          SQL_HANDLE_DBC, dbc, "SQLSetConnectAttr");
    impl.InTransaction = true;
}

namespace {

void EndTransaction(TADOConnection::Impl &impl, SQLSMALLINT completion)
{
    const SQLHDBC dbc = impl.OpenDbc();
    if (!impl.InTransaction)
        throw EADOError(QStringLiteral("Es ist keine Transaktion aktiv."));
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, completion);
    if (!SQL_SUCCEEDED(rc)) {
        // A commit that failed must not leave the transaction open, or every later BeginTrans
        // would fail too: roll back what is left and report the failure.
        try {
            RaiseDiagnostics(SQL_HANDLE_DBC, dbc, "SQLEndTran");
        } catch (...) {
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
            impl.InTransaction = false;
            throw;
        }
    }
    impl.InTransaction = false;
    Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
          SQL_HANDLE_DBC, dbc, "SQLSetConnectAttr");
}

} // namespace

void TADOConnection::CommitTrans()
{
    EndTransaction(*m_Impl, SQL_COMMIT);
}

void TADOConnection::RollbackTrans()
{
    EndTransaction(*m_Impl, SQL_ROLLBACK);
}

bool TADOConnection::InTransaction() const
{
    return m_Impl->InTransaction;
}
