#include "platform/com/SystemMessages.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(SystemMessagesTest, KnownCodesGiveTheStandardTextWithItsLineBreak)
{
    struct Case
    {
        HRESULT code;
        const char *text;
    };
    const Case cases[] = {
        {S_OK, "The operation completed successfully.\r\n"},
        {S_FALSE, "Incorrect function.\r\n"},
        {E_FAIL, "Unspecified error\r\n"},
        {E_NOTIMPL, "Not implemented\r\n"},
        {E_NOINTERFACE, "No such interface supported\r\n"},
        {E_POINTER, "Invalid pointer\r\n"},
        {E_ABORT, "Operation aborted\r\n"},
        {E_UNEXPECTED, "Catastrophic failure\r\n"},
        {E_INVALIDARG, "The parameter is incorrect.\r\n"},
        {E_OUTOFMEMORY,
         "Not enough memory resources are available to complete this operation.\r\n"},
        {E_ACCESSDENIED, "Access is denied.\r\n"},
        {E_HANDLE, "The handle is invalid.\r\n"},
        {REGDB_E_CLASSNOTREG, "Class not registered\r\n"},
        {CO_E_CLASSSTRING, "Invalid class string\r\n"},
        {CLASS_E_NOAGGREGATION,
         "Class does not support aggregation (or class object is remote)\r\n"},
        {CO_E_SERVER_EXEC_FAILURE, "Server execution failed\r\n"},
        {RPC_S_SERVER_UNAVAILABLE_HR, "The RPC server is unavailable.\r\n"},
        {RPC_S_CALL_FAILED_HR, "The remote procedure call failed.\r\n"},
        {RPC_S_CALL_FAILED_DNE_HR, "The remote procedure call failed and did not execute.\r\n"},
        {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients.\r\n"},
        {RPC_E_SERVERFAULT, "The server threw an exception.\r\n"},
        {RPC_E_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
        {CONNECT_E_NOCONNECTION, "There is no connection for this connection ID\r\n"},
        {CONNECT_E_CANNOTCONNECT, "Connection attempt failed\r\n"},
        {DISP_E_TYPEMISMATCH, "Type mismatch.\r\n"},
        {DISP_E_OVERFLOW, "Out of present range.\r\n"},
        {DISP_E_BADVARTYPE, "Bad variable type.\r\n"},
        {MakeHResult(0x80070002), "The system cannot find the file specified.\r\n"},
        {MakeHResult(0x80070003), "The system cannot find the path specified.\r\n"},
        // Inserts stay as they are: the table does not format.
        {MakeHResult(0x800700C1), "%1 is not a valid Win32 application.\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<std::uint32_t>(c.code));
        const std::optional<QString> text = FormatSystemMessage(c.code);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, QString::fromUtf8(c.text));
    }
}

TEST(SystemMessagesTest, Win32ErrorsAnswerPlainAndWrappedButNotInOtherFacilities)
{
    for (const std::uint32_t win32 : {0u, 2u, 5u, 14u, 87u, 1722u}) {
        SCOPED_TRACE(win32);
        const std::optional<QString> plain = FormatSystemMessage(MakeHResult(win32));
        ASSERT_TRUE(plain.has_value());
        EXPECT_EQ(FormatSystemMessage(MakeHResult(0x80070000 | win32)), plain);
        EXPECT_EQ(FormatSystemMessage(MakeHResult(0x800A0000 | win32)), std::nullopt);
    }
}

TEST(SystemMessagesTest, CodesTheSystemDoesNotKnowHaveNoText)
{
    for (const std::uint32_t code :
         {0xC0040007u, 0x0004000Du, 0xA00C0001u, 0x0000ABCDu, 0x8007FFFFu, 0xDEADBEEFu}) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        EXPECT_EQ(FormatSystemMessage(MakeHResult(code)), std::nullopt);
    }
}

} // namespace
