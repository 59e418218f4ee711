#include "support/TestSupport.h"

#include <QFile>
#include <cstdlib>
#include <gtest/gtest.h>

ScopedTempEnvDir::ScopedTempEnvDir(const char *variable)
    : m_Variable(variable), m_Previous(qgetenv(variable)),
      m_HadPrevious(qEnvironmentVariableIsSet(variable))
{
    qputenv(variable, m_Dir.path().toLocal8Bit());
}

ScopedTempEnvDir::~ScopedTempEnvDir()
{
    if (m_HadPrevious)
        qputenv(m_Variable.constData(), m_Previous);
    else
        qunsetenv(m_Variable.constData());
}

QString TPostgresTestServer::ConnectionString() const
{
    return QStringLiteral("Provider=PostgreSQL;Data Source=%1:%2;Initial Catalog=%3")
        .arg(Host)
        .arg(Port)
        .arg(Database);
}

std::optional<TPostgresTestServer> PostgresTestServer()
{
    const QString path = qEnvironmentVariable("TIDEWELL_PG_ENV");
    if (path.isEmpty()) {
        ADD_FAILURE() << "TIDEWELL_PG_ENV is not set: run the test through ctest, which starts "
                         "the PostgreSQL fixture tw_postgres";
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        ADD_FAILURE() << "cannot read the PostgreSQL connection file " << path.toStdString();
        return std::nullopt;
    }
    TPostgresTestServer server;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('#')) || equals < 0)
            continue;
        const QString key = line.left(equals);
        const QString value = line.mid(equals + 1);
        if (key == QLatin1String("TIDEWELL_PG_HOST"))
            server.Host = value;
        else if (key == QLatin1String("TIDEWELL_PG_PORT"))
            server.Port = value.toInt();
        else if (key == QLatin1String("TIDEWELL_PG_USER"))
            server.User = value;
        else if (key == QLatin1String("TIDEWELL_PG_PASSWORD"))
            server.Password = value;
        else if (key == QLatin1String("TIDEWELL_PG_DATABASE"))
            server.Database = value;
    }
    if (server.Host.isEmpty() || server.Port == 0 || server.User.isEmpty() ||
        server.Database.isEmpty()) {
        ADD_FAILURE() << "incomplete PostgreSQL connection file " << path.toStdString();
        return std::nullopt;
    }
    return server;
}

QString TempSQLiteDatabase::ConnectionString() const
{
    return QStringLiteral("Provider=SQLite;Data Source=%1").arg(Path());
}
