#include "platform/system/WindowMessages.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

namespace {

struct Received
{
    int message;
    WPARAM wParam;
    LPARAM lParam;
};

class Receiver : public QObject
{
public:
    std::vector<Received> messages;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() < QEvent::User)
            return QObject::event(event);
        const auto *message = dynamic_cast<TMessageEvent *>(event);
        if (!message)
            return false;
        messages.push_back({message->Message(), message->WParam(), message->LParam()});
        return true;
    }
};

TEST(WindowMessagesTest, PostedMessagesArriveLaterInOrderWithTheirParameters)
{
    Receiver receiver;
    const WPARAM bigW = std::numeric_limits<WPARAM>::max();
    EXPECT_TRUE(PostMessage(&receiver, WM_OPCDATACHANGE, 7, -3));
    EXPECT_TRUE(
        PostMessage(&receiver, WM_EVENTLOGNOTIFY, bigW, std::numeric_limits<LPARAM>::min()));
    EXPECT_TRUE(PostMessage(&receiver, WM_STARTDOCUMENT));
    EXPECT_TRUE(receiver.messages.empty()) << "posting must not deliver at once";

    QCoreApplication::sendPostedEvents(&receiver);

    ASSERT_EQ(receiver.messages.size(), 3u);
    EXPECT_EQ(receiver.messages[0].message, WM_OPCDATACHANGE);
    EXPECT_EQ(receiver.messages[0].wParam, 7u);
    EXPECT_EQ(receiver.messages[0].lParam, -3);
    EXPECT_EQ(receiver.messages[1].message, WM_EVENTLOGNOTIFY);
    EXPECT_EQ(receiver.messages[1].wParam, bigW);
    EXPECT_EQ(receiver.messages[1].lParam, std::numeric_limits<LPARAM>::min());
    EXPECT_EQ(receiver.messages[2].message, WM_STARTDOCUMENT);
    EXPECT_EQ(receiver.messages[2].wParam, 0u);
    EXPECT_EQ(receiver.messages[2].lParam, 0);
}

TEST(WindowMessagesTest, MessagesPostedFromAnotherThreadReachTheReceiversThread)
{
    Receiver receiver;
    std::thread poster([&] { PostMessage(&receiver, WM_OPCSERVERSHUTDOWN, 1, 2); });
    poster.join();
    EXPECT_TRUE(receiver.messages.empty());

    QCoreApplication::sendPostedEvents(&receiver);

    ASSERT_EQ(receiver.messages.size(), 1u);
    EXPECT_EQ(receiver.messages[0].message, WM_OPCSERVERSHUTDOWN);
    EXPECT_EQ(receiver.messages[0].lParam, 2);
}

TEST(WindowMessagesTest, PostingToNobodyFails)
{
    EXPECT_FALSE(PostMessage(nullptr, WM_ALERTCLOSED));
}

} // namespace
