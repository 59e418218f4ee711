#include "platform/com/SystemMessages.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

struct TMessage
{
    std::uint32_t Code;
    const char *Text;
};

// Win32 error codes; also reached through their HRESULT_FROM_WIN32 form.
constexpr std::array Win32Messages{
    TMessage{0, "The operation completed successfully.\r\n"},
    TMessage{1, "Incorrect function.\r\n"},
    TMessage{2, "The system cannot find the file specified.\r\n"},
    TMessage{3, "The system cannot find the path specified.\r\n"},
    TMessage{4, "The system cannot open the file.\r\n"},
    TMessage{5, "Access is denied.\r\n"},
    TMessage{6, "The handle is invalid.\r\n"},
    TMessage{8, "Not enough memory resources are available to process this command.\r\n"},
    TMessage{13, "The data is invalid.\r\n"},
    TMessage{14, "Not enough memory resources are available to complete this operation.\r\n"},
    TMessage{19, "The media is write protected.\r\n"},
    TMessage{21, "The device is not ready.\r\n"},
    TMessage{32, "The process cannot access the file because it is being used by another "
                 "process.\r\n"},
    TMessage{34, "The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial Number: %3) "
                 "into drive %1.\r\n"},
    TMessage{38, "Reached the end of the file.\r\n"},
    TMessage{50, "The request is not supported.\r\n"},
    TMessage{53, "The network path was not found.\r\n"},
    TMessage{67, "The network name cannot be found.\r\n"},
    TMessage{80, "The file exists.\r\n"},
    TMessage{87, "The parameter is incorrect.\r\n"},
    TMessage{122, "The data area passed to a system call is too small.\r\n"},
    TMessage{123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    TMessage{126, "The specified module could not be found.\r\n"},
    TMessage{127, "The specified procedure could not be found.\r\n"},
    TMessage{183, "Cannot create a file when that file already exists.\r\n"},
    TMessage{193, "%1 is not a valid Win32 application.\r\n"},
    TMessage{234, "More data is available.\r\n"},
    TMessage{259, "No more data is available.\r\n"},
    TMessage{317, "The system cannot find message text for message number 0x%1 in the message "
                  "file for %2.\r\n"},
    TMessage{995, "The I/O operation has been aborted because of either a thread exit or an "
                  "application request.\r\n"},
    TMessage{1168, "Element not found.\r\n"},
    TMessage{1223, "The operation was canceled by the user.\r\n"},
    TMessage{1225, "The remote computer refused the network connection.\r\n"},
    TMessage{1326, "The user name or password is incorrect.\r\n"},
    TMessage{1460, "This operation returned because the timeout period expired.\r\n"},
    TMessage{1717, "The interface is unknown.\r\n"},
    TMessage{1722, "The RPC server is unavailable.\r\n"},
    TMessage{1723, "The RPC server is too busy to complete this operation.\r\n"},
    TMessage{1726, "The remote procedure call failed.\r\n"},
    TMessage{1727, "The remote procedure call failed and did not execute.\r\n"},
    TMessage{1753, "There are no more endpoints available from the endpoint mapper.\r\n"},
};

// HRESULTs of the COM, RPC, dispatch, storage and connection point facilities.
constexpr std::array HResultMessages{
    TMessage{0x8000000A, "The data necessary to complete this operation is not yet available.\r\n"},
    TMessage{0x80004001, "Not implemented\r\n"},
    TMessage{0x80004002, "No such interface supported\r\n"},
    TMessage{0x80004003, "Invalid pointer\r\n"},
    TMessage{0x80004004, "Operation aborted\r\n"},
    TMessage{0x80004005, "Unspecified error\r\n"},
    TMessage{0x8000FFFF, "Catastrophic failure\r\n"},
    TMessage{0x80010001, "Call was rejected by callee.\r\n"},
    TMessage{0x80010002, "Call was canceled by the message filter.\r\n"},
    TMessage{0x80010105, "The server threw an exception.\r\n"},
    TMessage{0x80010106, "Cannot change thread mode after it is set.\r\n"},
    TMessage{0x80010108, "The object invoked has disconnected from its clients.\r\n"},
    TMessage{0x8001010A, "The message filter indicated that the application is busy.\r\n"},
    TMessage{0x8001010E, "The application called an interface that was marshalled for a "
                         "different thread.\r\n"},
    TMessage{0x8001011F, "This operation returned because the timeout period expired.\r\n"},
    TMessage{0x80020001, "Unknown interface.\r\n"},
    TMessage{0x80020003, "Member not found.\r\n"},
    TMessage{0x80020004, "Parameter not found.\r\n"},
    TMessage{0x80020005, "Type mismatch.\r\n"},
    TMessage{0x80020006, "Unknown name.\r\n"},
    TMessage{0x80020008, "Bad variable type.\r\n"},
    TMessage{0x80020009, "Exception occurred.\r\n"},
    TMessage{0x8002000A, "Out of present range.\r\n"},
    TMessage{0x8002000B, "Invalid index.\r\n"},
    TMessage{0x8002000E, "Invalid number of parameters.\r\n"},
    TMessage{0x8002000F, "Parameter not optional.\r\n"},
    TMessage{0x80030002, "%1 could not be found.\r\n"},
    TMessage{0x80030003, "The path %1 could not be found.\r\n"},
    TMessage{0x80030005, "Access Denied.\r\n"},
    TMessage{0x80040110, "Class does not support aggregation (or class object is remote)\r\n"},
    TMessage{0x80040111, "ClassFactory cannot supply requested class\r\n"},
    TMessage{0x80040150, "Could not read key from registry\r\n"},
    TMessage{0x80040151, "Could not write key to registry\r\n"},
    TMessage{0x80040152, "Could not find the key in the registry\r\n"},
    TMessage{0x80040154, "Class not registered\r\n"},
    TMessage{0x80040155, "Interface not registered\r\n"},
    TMessage{0x800401F0, "CoInitialize has not been called.\r\n"},
    TMessage{0x800401F3, "Invalid class string\r\n"},
    TMessage{0x800401F5, "Application not found\r\n"},
    TMessage{0x800401F8, "DLL for class not found\r\n"},
    TMessage{0x800401F9, "Error in the DLL\r\n"},
    // The connection point codes share their numbers with the event system's; Tidewell's own
    // components only ever mean connection points by them.
    TMessage{0x80040200, "There is no connection for this connection ID\r\n"},
    TMessage{0x80040201, "This implementation's limit for advisory connections has been "
                         "reached\r\n"},
    TMessage{0x80040202, "Connection attempt failed\r\n"},
    TMessage{0x80080005, "Server execution failed\r\n"},
    TMessage{0x80080008, "Object server is stopping when OLE service contacts it\r\n"},
};

template <std::size_t N> constexpr bool IsSorted(const std::array<TMessage, N> &table)
{
    return std::is_sorted(table.begin(), table.end(),
                          [](const TMessage &a, const TMessage &b) { return a.Code < b.Code; });
}
static_assert(IsSorted(Win32Messages) && IsSorted(HResultMessages),
              "message tables are searched by halving");

template <std::size_t N>
std::optional<QString> Find(const std::array<TMessage, N> &table, std::uint32_t code)
{
    const auto it = std::lower_bound(table.begin(), table.end(), code,
                                     [](const TMessage &m, std::uint32_t c) { return m.Code < c; });
    if (it == table.end() || it->Code != code)
        return std::nullopt;
    return QString::fromUtf8(it->Text);
}

constexpr std::uint32_t Win32FacilityFailure = 0x80070000;

} // namespace

std::optional<QString> FormatSystemMessage(HRESULT code)
{
    const auto value = static_cast<std::uint32_t>(code);
    if (value <= 0xFFFF)
        return Find(Win32Messages, value);
    if ((value & 0xFFFF0000) == Win32FacilityFailure)
        return Find(Win32Messages, value & 0xFFFF);
    return Find(HResultMessages, value);
}
