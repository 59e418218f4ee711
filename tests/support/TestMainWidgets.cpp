// Runs GoogleTest inside a QApplication for widget tests, with the same sandbox as TestMain.cpp.
// ctest's test discovery runs the binary without the test environment, so the offscreen platform
// is chosen here unless the caller picked one (xvfb-run, a real display).
#include "support/Sandbox.h"

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir sandbox;
    RedirectUserFolders(sandbox.path());
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
