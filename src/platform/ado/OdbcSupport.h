// ODBC plumbing shared by the ADO classes: handle ownership, diagnostics and text conversion.
// Private to the folder; nothing here may leak into Ado.h.
#pragma once

#include "platform/ado/Ado.h"

// unixODBC's stand-ins for Windows types clash with those of ComBase.h: ULONG differs in width
// and BOOL is a macro. Rename the one and drop the other; the rest are the same types.
#define ULONG OdbcULONG
#include <sql.h>
#include <sqlext.h>
#undef ULONG
#undef BOOL

#include <QString>
#include <optional>
#include <vector>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC must use UTF-16 SQLWCHAR");

namespace ado_detail {

inline const SQLWCHAR *Wide(const QString &text)
{
    return reinterpret_cast<const SQLWCHAR *>(text.utf16());
}

inline QString FromWide(const SQLWCHAR *text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
}

// Raises EADOError with every diagnostic record of the handle; operation names the failed call
// for the rare case that the driver left no record.
[[noreturn]] void RaiseDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const char *operation);

inline void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char *operation)
{
    if (!SQL_SUCCEEDED(rc))
        RaiseDiagnostics(handleType, handle, operation);
}

// "Der Vorgang ist für ein geschlossenes Objekt nicht zulässig."
[[noreturn]] void RaiseClosed();

class Statement;

} // namespace ado_detail

struct TADOConnection::Impl
{
    SQLHENV Env = SQL_NULL_HENV;
    SQLHDBC Dbc = SQL_NULL_HDBC;
    bool Connected = false;
    bool InTransaction = false;
    // Statements allocated on Dbc; they are freed before the connection goes away so that no
    // handle outlives its connection.
    std::vector<ado_detail::Statement *> Statements;

    void ReleaseStatements() noexcept;
    // Frees every handle; the connection is closed afterwards.
    void FreeHandles() noexcept;
    SQLHDBC OpenDbc() const; // raises when not connected
};

namespace ado_detail {

// A statement handle that belongs to one connection and is released with it.
class Statement
{
public:
    Statement() = default;
    ~Statement() { Release(); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // The handle on connection, allocated when there is none or it belongs to another one.
    SQLHSTMT Acquire(TADOConnection::Impl &connection);
    void Release() noexcept;
    SQLHSTMT Handle() const { return m_Handle; }
    TADOConnection::Impl *Owner() const { return m_Owner; }

private:
    TADOConnection::Impl *m_Owner = nullptr;
    SQLHSTMT m_Handle = SQL_NULL_HSTMT;
};

// Closes the cursor of a statement when the scope ends, also on errors.
class CursorCloser
{
public:
    explicit CursorCloser(SQLHSTMT handle) : m_Handle(handle) {}
    ~CursorCloser() { SQLFreeStmt(m_Handle, SQL_CLOSE); }
    CursorCloser(const CursorCloser &) = delete;
    CursorCloser &operator=(const CursorCloser &) = delete;

private:
    SQLHSTMT m_Handle;
};

// Column values of the current row, read with SQLGetData; nullopt for SQL NULL.
std::optional<QString> GetText(SQLHSTMT handle, SQLUSMALLINT column);
std::optional<std::int64_t> GetInteger(SQLHSTMT handle, SQLUSMALLINT column);
// A column as a variant chosen by its SQL type.
TVariant GetValue(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT sqlType);

} // namespace ado_detail
