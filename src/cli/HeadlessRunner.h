// The program without windows: runs a configuration document as the main window would, printing
// every event to standard error, or checks a document and reports what it configures.
#pragma once

#include <QStringList>

// Exit codes of tidewell-cli.
enum TCliExitCode : int {
    ceOK = 0,
    ceUsage = 1,        // wrong command line
    ceLoadError = 2,    // the document cannot be loaded
    ceRuntimeError = 3, // the run could not be set up (simulation plant, settings)
};

// arguments without the program name: "run DOCUMENT [--duration SECONDS] [--level N]
// [--plant FILE]" or "check DOCUMENT". Needs a running QCoreApplication.
int RunCli(const QStringList &arguments);
