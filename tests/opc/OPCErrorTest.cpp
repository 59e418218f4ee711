#include "opc/OPCError.h"

#include "platform/opcda/OpcDa.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

namespace {

struct TCodeText
{
    HRESULT code;
    const char *text;
};

testing::Message Hex(HRESULT code)
{
    return testing::Message() << std::hex << static_cast<std::uint32_t>(code);
}

// Every code with an OPC text of its own, as published.
const TCodeText OPCTexts[] = {
    {OPC_S_UNSUPPORTEDRATE, "The server does not support the requested data rate but will use the "
                            "closest available rate."},
    {OPC_S_CLAMP, "A value passed to WRITE was accepted but the output was clamped."},
    {OPC_S_INUSE,
     "The operation cannot be completed because the object still has references that exist."},
    {MakeHResult(0x00040200), "The condition has already been acknowleged"},
    {MakeHResult(0x00040201), "The buffer time parameter was invalid"},
    {MakeHResult(0x00040202), "The max size parameter was invalid"},
    {MakeHResult(0x00040203), "The KeepAliveTime parameter was invalid"},
    {MakeHResult(0x00040303), "OPC Security: Server expected higher level of package privacy."},
    {OPC_S_DATAQUEUEOVERFLOW, "Data Queue Overflow - Some value transitions were lost."},
    {MakeHResult(0x0004040B),
     "The item value is empty because the data filter has excluded all fields."},
    {MakeHResult(0x40041002), "There is no data within the specified parameters"},
    {MakeHResult(0x40041003), "There is more data satisfying the query than was returned"},
    {MakeHResult(0x40041005),
     "The server only returns current values for the requested item attributes."},
    {MakeHResult(0x40041006), "Additional data satisfying the query was found."},
    {MakeHResult(0x4004100E), "The requested insert occurred."},
    {MakeHResult(0x4004100F), "The requested replace occurred."},
    {MakeHResult(0x80041007), "The server does not support this filter."},
    {MakeHResult(0xA00C0001), "NameSpace des OPCServers ist nicht stabil."},
    {MakeHResult(0xA00C0002), "Server has been shut down. Interfaces should be released!"},
    {MakeHResult(0xA00C0003), "Server is suspended. Please try again later!"},
    {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
    {OPC_E_BADTYPE, "The server cannot convert the data between the requested data type and the "
                    "canonical data type."},
    {OPC_E_PUBLIC, "The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, "The Items AccessRights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, "The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, "The item definition doesn't conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, "The filter string was not valid."},
    {OPC_E_UNKNOWNPATH, "The item's access path is not known to the server."},
    {OPC_E_RANGE, "The value was out of range."},
    {OPC_E_DUPLICATENAME, "Duplicate name not allowed."},
    {OPC_E_INVALIDCONFIGFILE, "The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, "The server could not locate the requested object."},
    {OPC_E_INVALID_PID, "The server does not recognise the passed property ID."},
    {MakeHResult(0xC0040204), "The time does not match the latest active time"},
    {MakeHResult(0xC0040205), "A refresh is currently in progress"},
    {MakeHResult(0xC0040206), "Information is not available"},
    {MakeHResult(0xC0040301),
     "OPC Security: A session using private OPC credentials is already active."},
    {MakeHResult(0xC0040302),
     "OPC Security: Server requires higher impersonation level to access secured data."},
    {OPC_E_DEADBANDNOTSET, "The item deadband has not been set for this item."},
    {OPC_E_DEADBANDNOTSUPPORTED, "The item does not support deadband."},
    {OPC_E_NOBUFFERING, "The server does not support buffering of data items that are collected at "
                        "a faster rate than the group update rate."},
    {OPC_E_INVALIDCONTINUATIONPOINT, "The continuation point is not valid."},
    {OPC_E_RATENOTSET, "Server does not support requested rate."},
    {OPC_E_NOTSUPPORTED, "The server does not support writing of quality and/or timestamp."},
    {MakeHResult(0xC0040407), "The dictionary and/or type description for the item has changed."},
    {MakeHResult(0xC0040408), "A data filter item with the specified name already exists."},
    {MakeHResult(0xC0040409), "The data filter value does not conform to the server's syntax."},
    {MakeHResult(0xC004040A),
     "An error occurred when the filter value was applied to the source data."},
    {MakeHResult(0xC0041001), "The maximum number of values requested exceeds the server's limit."},
    {MakeHResult(0xC0041004), "The aggregate requested is not valid."},
    {MakeHResult(0xC0041008), "The server does not support this attribute."},
    {MakeHResult(0xC0041009), "The requested aggregate is not available for the specified item."},
    {MakeHResult(0xC004100A), "The supplied value for the attribute is not a correct data type."},
    {MakeHResult(0xC004100B), "Unable to insert - data already present."},
    {MakeHResult(0xC004100C), "The supplied attribute ID is not valid."},
    {MakeHResult(0xC004100D), "The server has no value for the specified time and item ID."},
};

TEST(OPCErrorTextTest, EveryOPCCodeHasItsOwnText)
{
    for (const TCodeText &c : OPCTexts) {
        SCOPED_TRACE(Hex(c.code));
        EXPECT_EQ(OPCErrorText(c.code), QString::fromUtf8(c.text));
    }
}

TEST(OPCErrorTextTest, OtherCodesFallThroughToTheSystemTextOrTheUnknownText)
{
    const TCodeText cases[] = {
        // Neighbours of OPC codes that have no text of their own.
        {MakeHResult(0xC0040002), "Unknown Error Code: C0040002"},
        {MakeHResult(0xC0040003), "Unknown Error Code: C0040003"},
        {MakeHResult(0xC0040012), "Unknown Error Code: C0040012"},
        {MakeHResult(0x0004000C), "Unknown Error Code: 0004000C"},
        {MakeHResult(0x00040010), "Unknown Error Code: 00040010"},
        {MakeHResult(0xC0040404), "Unknown Error Code: C0040404"},
        {MakeHResult(0xA00C0000), "Unknown Error Code: A00C0000"},
        {MakeHResult(0xA00C0004), "Unknown Error Code: A00C0004"},
        {MakeHResult(0x40041007), "Unknown Error Code: 40041007"},
        {MakeHResult(0xC0041007), "Unknown Error Code: C0041007"},
        // The failure twin of an OPC success code is the system's.
        {MakeHResult(0x80040200), "There is no connection for this connection ID\r\n"},
        {E_OUTOFMEMORY,
         "Not enough memory resources are available to complete this operation.\r\n"},
        {E_FAIL, "Unspecified error\r\n"},
        {S_OK, "The operation completed successfully.\r\n"},
        // Eight digits, upper case, leading zeros kept.
        {MakeHResult(0x0000ABCD), "Unknown Error Code: 0000ABCD"},
        {MakeHResult(0xDEADBEEF), "Unknown Error Code: DEADBEEF"},
        // A system message that needs inserts cannot be formatted on its own.
        {MakeHResult(0x800700C1), "Unknown Error Code: 800700C1"},
    };
    for (const TCodeText &c : cases) {
        SCOPED_TRACE(Hex(c.code));
        EXPECT_EQ(OPCErrorText(c.code), QString::fromUtf8(c.text));
    }
}

TEST(OPCErrorTextTest, SystemTextLookupReportsWhetherThereIsOne)
{
    QString text = QStringLiteral("unchanged");
    EXPECT_TRUE(GetSystemErrorText(E_NOINTERFACE, text));
    EXPECT_EQ(text, QStringLiteral("No such interface supported\r\n"));

    for (const std::uint32_t code : {0xC0040007u, 0x80030002u, 0xDEADBEEFu}) {
        SCOPED_TRACE(Hex(MakeHResult(code)));
        text = QStringLiteral("unchanged");
        EXPECT_FALSE(GetSystemErrorText(MakeHResult(code), text));
        EXPECT_EQ(text, QStringLiteral("unchanged"));
    }
}

TEST(EOPCExceptionTest, CodeGivesItsTextOrAnOPCErrorMessage)
{
    const TCodeText cases[] = {
        {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
        {MakeHResult(0xA00C0001), "NameSpace des OPCServers ist nicht stabil."},
        {MakeHResult(0xA00C0002), "Server has been shut down. Interfaces should be released!"},
        {MakeHResult(0xA00C0003), "Server is suspended. Please try again later!"},
        {E_FAIL, "Unspecified error\r\n"},
        {MakeHResult(0x12345678), "OPC-Error 12345678"},
        {MakeHResult(0xC0040002), "OPC-Error C0040002"},
        {MakeHResult(0x0000ABCD), "OPC-Error 0000ABCD"},
        // Messages with inserts: kept literally, only the sentence end is cut off.
        {MakeHResult(0x800700C1), "OPC-Error: %1 is not a valid Win32 application"},
        {MakeHResult(0x80030003), "OPC-Error: The path %1 could not be found"},
        {MakeHResult(0x8007013D), "OPC-Error: The system cannot find message text for message "
                                  "number 0x%1 in the message file for %2"},
        {MakeHResult(0x80070022), "OPC-Error: The wrong diskette is in the drive.\r\nInsert %2 "
                                  "(Volume Serial Number: %3) into drive %1"},
    };
    for (const TCodeText &c : cases) {
        SCOPED_TRACE(Hex(c.code));
        const EOPCException e(c.code);
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(e.Message(), QString::fromUtf8(c.text));
        EXPECT_STREQ(e.what(), c.text);
    }
}

TEST(EOPCExceptionTest, TextGivesUnspecifiedErrorCode)
{
    const EOPCException e(QStringLiteral("COM-Objekt IOPCServer konnte nicht erzeugt werden."));
    EXPECT_EQ(e.ErrorCode(), MakeHResult(0x80004005));
    EXPECT_EQ(e.Message(), QStringLiteral("COM-Objekt IOPCServer konnte nicht erzeugt werden."));
}

TEST(OPCCheckTest, RaisesOnlyForFailures)
{
    for (const std::uint32_t code : {0x0u, 0x1u, 0x0004000Du, 0x40041002u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(Hex(MakeHResult(code)));
        EXPECT_NO_THROW(OPCCheck(MakeHResult(code)));
    }
    for (const std::uint32_t code : {0x80004005u, 0xC0040007u, 0xA00C0002u, 0x80000000u}) {
        SCOPED_TRACE(Hex(MakeHResult(code)));
        try {
            OPCCheck(MakeHResult(code));
            ADD_FAILURE() << "no exception";
        } catch (const EOPCException &e) {
            EXPECT_EQ(e.ErrorCode(), MakeHResult(code));
            EXPECT_EQ(e.Message(), EOPCException(MakeHResult(code)).Message());
        }
    }
}

// Stand-ins for items of a group: only their addresses matter, the list never looks inside.
struct FakeItems
{
    alignas(std::max_align_t) std::byte storage[3][16];
    TOPCDAClientItem *operator[](int i) { return reinterpret_cast<TOPCDAClientItem *>(storage[i]); }
};

TEST(EOPCOpCompletedWithOneOrMoreErrorsTest, StartsEmpty)
{
    const EOPCOpCompletedWithOneOrMoreErrors e;
    EXPECT_EQ(e.Count(), 0);
    EXPECT_TRUE(e.Message().isEmpty());
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_THROW(e.Items(0), EListError);
}

TEST(EOPCOpCompletedWithOneOrMoreErrorsTest, CarriesItemsAndLateMessageThroughAThrow)
{
    FakeItems items;
    const QString message = QStringLiteral(
        "Fehler in AddItems: Die Elemente 'A', 'B' konnten nicht zur Gruppe G hinzugefügt werden");
    try {
        EOPCOpCompletedWithOneOrMoreErrors e;
        e.Add(items[0]);
        e.Add(items[1]);
        e.SetMessage(message);
        throw e;
    } catch (const Exception &base) {
        EXPECT_EQ(base.Message(), message);
        EXPECT_EQ(QString::fromUtf8(base.what()), message);
        const auto *e = dynamic_cast<const EOPCOpCompletedWithOneOrMoreErrors *>(&base);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->ErrorCode(), E_FAIL);
        ASSERT_EQ(e->Count(), 2);
        EXPECT_EQ(e->Items(0), items[0]);
        EXPECT_EQ(e->Items(1), items[1]);
        EXPECT_THROW(e->Items(2), EListError);
        EXPECT_THROW(e->Items(-1), EListError);
    }
}

TEST(EOPCOpCompletedWithOneOrMoreErrorsTest, RefusesAMissingItem)
{
    EOPCOpCompletedWithOneOrMoreErrors e;
    EXPECT_THROW(e.Add(nullptr), Exception);
    EXPECT_EQ(e.Count(), 0);
}

TEST(MissingInterfaceExceptionsTest, NameTheMissingInterface)
{
    EXPECT_EQ(ENoIOPCBrowseServerAddressSpaceIntf().Message(),
              QStringLiteral(
                  "Kein IOPCBrowseServerAddressSpace-Interface des Remote-Servers verfügbar."));
    EXPECT_EQ(ENoIOPCItemPropertiesIntf().Message(),
              QStringLiteral("Kein IOPCItemProperties-Interface des Remote-Servers verfügbar."));
}

} // namespace
