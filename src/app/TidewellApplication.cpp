#include "app/TidewellApplication.h"

#include "acquisition/ExceptionText.h"
#include "eventlog/xEventLog.h"

TTidewellApplication::TTidewellApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TTidewellApplication::notify(QObject *receiver, QEvent *event)
{
    if (!m_HookInstalled)
        return QApplication::notify(receiver, event);
    return DeliverLoggingExceptions([&] { return QApplication::notify(receiver, event); },
                                    receiver);
}

bool DeliverLoggingExceptions(const std::function<bool()> &deliver, const QObject *receiver)
{
    try {
        return deliver();
    } catch (...) {
        const QString text = CurrentExceptionText();
        try {
            EventLogger().LogNamed(
                etError, 1,
                receiver ? QString::fromLatin1(receiver->metaObject()->className()) : QString(),
                receiver, text);
        } catch (...) {
            // Logging itself failed: nothing is left to report to, and the loop must go on.
        }
        return false;
    }
}
