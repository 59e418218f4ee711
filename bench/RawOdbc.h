// Plain ODBC calls for the baselines the benchmarks compare the database layer with.
#pragma once

#include "platform/ado/OdbcSupport.h"

#include <QString>
#include <stdexcept>

inline void Ok(SQLRETURN rc, const char *what)
{
    if (!SQL_SUCCEEDED(rc))
        throw std::runtime_error(what);
}

// An environment and a connection opened with an ODBC connection string.
class TRawOdbcConnection
{
public:
    explicit TRawOdbcConnection(const QString &odbc)
    {
        Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_Env), "env");
        Ok(SQLSetEnvAttr(m_Env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                         0),
           "version");
        Ok(SQLAllocHandle(SQL_HANDLE_DBC, m_Env, &m_Dbc), "dbc");
        Ok(SQLDriverConnectW(m_Dbc, nullptr, const_cast<SQLWCHAR *>(ado_detail::Wide(odbc)),
                             SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
           "connect");
    }
    ~TRawOdbcConnection()
    {
        SQLDisconnect(m_Dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_Dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_Env);
    }
    TRawOdbcConnection(const TRawOdbcConnection &) = delete;
    TRawOdbcConnection &operator=(const TRawOdbcConnection &) = delete;

    SQLHDBC Dbc() const { return m_Dbc; }
    void SetAutoCommit(bool on)
    {
        Ok(SQLSetConnectAttr(
               m_Dbc, SQL_ATTR_AUTOCOMMIT,
               reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0),
           "autocommit");
    }
    void Commit() { Ok(SQLEndTran(SQL_HANDLE_DBC, m_Dbc, SQL_COMMIT), "commit"); }

private:
    SQLHENV m_Env = SQL_NULL_HENV;
    SQLHDBC m_Dbc = SQL_NULL_HDBC;
};
