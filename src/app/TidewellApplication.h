// The desktop program's application object: an exception that reaches the event loop is logged as
// an error instead of ending the program.
#pragma once

#include <QApplication>
#include <functional>

class TTidewellApplication : public QApplication
{
    Q_OBJECT

public:
    TTidewellApplication(int &argc, char **argv);

    // Until installed, exceptions pass on as in any QApplication.
    void InstallExceptionHook() { m_HookInstalled = true; }
    bool ExceptionHookInstalled() const { return m_HookInstalled; }

    bool notify(QObject *receiver, QEvent *event) override;

private:
    bool m_HookInstalled = false;
};

// Runs deliver; an exception it raises is logged as etError, level 1, with receiver as its sender,
// and the event counts as not handled.
bool DeliverLoggingExceptions(const std::function<bool()> &deliver, const QObject *receiver);
