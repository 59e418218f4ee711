#include "cli/HeadlessRunner.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tidewell-cli"));
    return RunCli(QCoreApplication::arguments().mid(1));
}
