// Window messages: posted QEvents whose type is the message number, handled in QObject::event().
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

inline constexpr int WM_OPCDATACHANGE = 0x52C;
inline constexpr int WM_OPCSERVERSHUTDOWN = 0x52D;
inline constexpr int WM_STARTDOCUMENT = 0x590;
inline constexpr int WM_ALERTCLOSED = 0x6A7;
inline constexpr int WM_EVENTLOGNOTIFY = 0x6D0;

static_assert(WM_OPCDATACHANGE > QEvent::User, "message numbers must be user event types");

class TMessageEvent : public QEvent
{
public:
    TMessageEvent(int message, WPARAM wParam, LPARAM lParam)
        : QEvent(static_cast<QEvent::Type>(message)), m_WParam(wParam), m_LParam(lParam)
    {
    }
    int Message() const { return static_cast<int>(type()); }
    WPARAM WParam() const { return m_WParam; }
    LPARAM LParam() const { return m_LParam; }

private:
    WPARAM m_WParam;
    LPARAM m_LParam;
};

// Queues the message for the receiver's thread and returns at once; safe from any thread.
// False when there is no receiver.
bool PostMessage(QObject *receiver, int message, WPARAM wParam = 0, LPARAM lParam = 0);
