// The start-up and shut-down of the desktop program: settings, event logger, the splash window,
// the start-up document and its hand-over to the main window.
#pragma once

#include <QString>
#include <memory>

class TConfiguration;
class TDataCache;
class TTDWDocument;
class TTidewellApplication;

// The document to start with: the file named on the command line when there is one (nothing when
// it does not exist), else the last document when the settings ask for it. Load errors are logged
// and give nothing.
std::unique_ptr<TTDWDocument>
LoadStartupDocument(const QString &argument, const TConfiguration &settings, TDataCache *dataCache);

// Waits without processing messages until ms have passed since start (TDateTime of Now()).
void WaitForStep(double start, int ms = 250);

// The whole program run; returns the exit code.
int RunTidewell(TTidewellApplication &app);
