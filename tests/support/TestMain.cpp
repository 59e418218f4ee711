// Runs GoogleTest inside a QCoreApplication, with the registry and the state folders of the
// whole run redirected into a temporary folder so that tests never touch the user's files.
#include "support/Sandbox.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QTemporaryDir sandbox;
    RedirectUserFolders(sandbox.path());
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
