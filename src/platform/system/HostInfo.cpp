#include "platform/system/HostInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>

QString HostComputerName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof(name) - 1) != 0)
        return {};
    return QString::fromLocal8Bit(name);
}

namespace {
QString DistributionName()
{
    for (const char *path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QString line = in.readLine();
            if (!line.startsWith(QLatin1String("PRETTY_NAME=")))
                continue;
            QString value = line.mid(12).trimmed();
            if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\''))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return {};
}
} // namespace

QString HostOSName()
{
    QString kernel;
    utsname info{};
    if (uname(&info) == 0)
        kernel = QStringLiteral("%1 %2").arg(QString::fromLocal8Bit(info.sysname),
                                             QString::fromLocal8Bit(info.release));
    const QString distribution = DistributionName();
    if (distribution.isEmpty() && kernel.isEmpty())
        return QStringLiteral("Unknown");
    if (distribution.isEmpty())
        return kernel;
    if (kernel.isEmpty())
        return distribution;
    return distribution + QStringLiteral(", ") + kernel;
}

QString ExecutableFilePath()
{
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!path.isEmpty())
        return path;
    return QCoreApplication::applicationFilePath();
}
