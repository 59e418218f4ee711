#include "platform/system/WindowMessages.h"

#include <QCoreApplication>

bool PostMessage(QObject *receiver, int message, WPARAM wParam, LPARAM lParam)
{
    if (!receiver)
        return false;
    QCoreApplication::postEvent(receiver, new TMessageEvent(message, wParam, lParam));
    return true;
}
