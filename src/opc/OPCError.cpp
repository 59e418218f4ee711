#include "opc/OPCError.h"

#include "platform/com/SystemMessages.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace {

struct TOPCErrorEntry
{
    std::uint32_t Code;
    const char *Text;
};

// Texts of the OPC DA, Alarms and Events, Historical Data Access, Security and Complex Data
// result codes, and of three codes of our own.
constexpr std::array OPCErrorTexts{
    TOPCErrorEntry{0x0004000D, "The server does not support the requested data rate but will use "
                               "the closest available rate."},
    TOPCErrorEntry{0x0004000E, "A value passed to WRITE was accepted but the output was clamped."},
    TOPCErrorEntry{0x0004000F, "The operation cannot be completed because the object still has "
                               "references that exist."},
    TOPCErrorEntry{0x00040200, "The condition has already been acknowleged"},
    TOPCErrorEntry{0x00040201, "The buffer time parameter was invalid"},
    TOPCErrorEntry{0x00040202, "The max size parameter was invalid"},
    TOPCErrorEntry{0x00040203, "The KeepAliveTime parameter was invalid"},
    TOPCErrorEntry{0x00040303, "OPC Security: Server expected higher level of package privacy."},
    TOPCErrorEntry{0x00040404, "Data Queue Overflow - Some value transitions were lost."},
    TOPCErrorEntry{0x0004040B,
                   "The item value is empty because the data filter has excluded all fields."},
    TOPCErrorEntry{0x40041002, "There is no data within the specified parameters"},
    TOPCErrorEntry{0x40041003, "There is more data satisfying the query than was returned"},
    TOPCErrorEntry{0x40041005,
                   "The server only returns current values for the requested item attributes."},
    TOPCErrorEntry{0x40041006, "Additional data satisfying the query was found."},
    TOPCErrorEntry{0x4004100E, "The requested insert occurred."},
    TOPCErrorEntry{0x4004100F, "The requested replace occurred."},
    TOPCErrorEntry{0x80041007, "The server does not support this filter."},
    TOPCErrorEntry{0xA00C0001, "NameSpace des OPCServers ist nicht stabil."},
    TOPCErrorEntry{0xA00C0002, "Server has been shut down. Interfaces should be released!"},
    TOPCErrorEntry{0xA00C0003, "Server is suspended. Please try again later!"},
    TOPCErrorEntry{0xC0040001, "The value of the handle is invalid."},
    TOPCErrorEntry{0xC0040004, "The server cannot convert the data between the requested data "
                               "type and the canonical data type."},
    TOPCErrorEntry{0xC0040005, "The requested operation cannot be done on a public group."},
    TOPCErrorEntry{0xC0040006, "The Items AccessRights do not allow the operation."},
    TOPCErrorEntry{0xC0040007, "The item is no longer available in the server address space."},
    TOPCErrorEntry{0xC0040008, "The item definition doesn't conform to the server's syntax."},
    TOPCErrorEntry{0xC0040009, "The filter string was not valid."},
    TOPCErrorEntry{0xC004000A, "The item's access path is not known to the server."},
    TOPCErrorEntry{0xC004000B, "The value was out of range."},
    TOPCErrorEntry{0xC004000C, "Duplicate name not allowed."},
    TOPCErrorEntry{0xC0040010, "The server's configuration file is an invalid format."},
    TOPCErrorEntry{0xC0040011, "The server could not locate the requested object."},
    TOPCErrorEntry{0xC0040203, "The server does not recognise the passed property ID."},
    TOPCErrorEntry{0xC0040204, "The time does not match the latest active time"},
    TOPCErrorEntry{0xC0040205, "A refresh is currently in progress"},
    TOPCErrorEntry{0xC0040206, "Information is not available"},
    TOPCErrorEntry{0xC0040301,
                   "OPC Security: A session using private OPC credentials is already active."},
    TOPCErrorEntry{0xC0040302, "OPC Security: Server requires higher impersonation level to "
                               "access secured data."},
    TOPCErrorEntry{0xC0040400, "The item deadband has not been set for this item."},
    TOPCErrorEntry{0xC0040401, "The item does not support deadband."},
    TOPCErrorEntry{0xC0040402, "The server does not support buffering of data items that are "
                               "collected at a faster rate than the group update rate."},
    TOPCErrorEntry{0xC0040403, "The continuation point is not valid."},
    TOPCErrorEntry{0xC0040405, "Server does not support requested rate."},
    TOPCErrorEntry{0xC0040406, "The server does not support writing of quality and/or timestamp."},
    TOPCErrorEntry{0xC0040407, "The dictionary and/or type description for the item has changed."},
    TOPCErrorEntry{0xC0040408, "A data filter item with the specified name already exists."},
    TOPCErrorEntry{0xC0040409, "The data filter value does not conform to the server's syntax."},
    TOPCErrorEntry{0xC004040A,
                   "An error occurred when the filter value was applied to the source data."},
    TOPCErrorEntry{0xC0041001,
                   "The maximum number of values requested exceeds the server's limit."},
    TOPCErrorEntry{0xC0041004, "The aggregate requested is not valid."},
    TOPCErrorEntry{0xC0041008, "The server does not support this attribute."},
    TOPCErrorEntry{0xC0041009, "The requested aggregate is not available for the specified item."},
    TOPCErrorEntry{0xC004100A, "The supplied value for the attribute is not a correct data type."},
    TOPCErrorEntry{0xC004100B, "Unable to insert - data already present."},
    TOPCErrorEntry{0xC004100C, "The supplied attribute ID is not valid."},
    TOPCErrorEntry{0xC004100D, "The server has no value for the specified time and item ID."},
};

static_assert(std::is_sorted(OPCErrorTexts.begin(), OPCErrorTexts.end(),
                             [](const TOPCErrorEntry &a, const TOPCErrorEntry &b) {
                                 return a.Code < b.Code;
                             }),
              "the OPC error table is searched by halving");

std::optional<QString> OPCTableText(HRESULT code)
{
    const auto value = static_cast<std::uint32_t>(code);
    const auto it =
        std::lower_bound(OPCErrorTexts.begin(), OPCErrorTexts.end(), value,
                         [](const TOPCErrorEntry &e, std::uint32_t c) { return e.Code < c; });
    if (it == OPCErrorTexts.end() || it->Code != value)
        return std::nullopt;
    return QString::fromUtf8(it->Text);
}

QString Hex8(HRESULT code)
{
    return QStringLiteral("%1")
        .arg(static_cast<std::uint32_t>(code), 8, 16, QLatin1Char('0'))
        .toUpper();
}

// Whether a message holds an insert sequence (%1 to %99) that formatting would have to fill.
bool HasInserts(const QString &message)
{
    for (qsizetype i = 0; i + 1 < message.size(); ++i) {
        if (message[i] != QLatin1Char('%'))
            continue;
        const QChar next = message[i + 1];
        if (next >= QLatin1Char('1') && next <= QLatin1Char('9'))
            return true;
        ++i; // skip the escaped character, so "%%1" is not taken for an insert
    }
    return false;
}

std::optional<QString> KnownText(HRESULT code)
{
    if (auto text = OPCTableText(code))
        return text;
    QString text;
    if (GetSystemErrorText(code, text))
        return text;
    return std::nullopt;
}

// The system message with its inserts left as they are and the trailing blanks, line breaks and
// full stops cut off, fit to stand inside a sentence.
std::optional<QString> TrimmedSystemMessage(HRESULT code)
{
    std::optional<QString> message = FormatSystemMessage(code);
    if (!message)
        return std::nullopt;
    qsizetype end = message->size();
    while (end > 0 &&
           ((*message)[end - 1].unicode() <= 32 || (*message)[end - 1] == QLatin1Char('.')))
        --end;
    message->truncate(end);
    return message;
}

QString EOPCExceptionMessage(HRESULT code)
{
    if (auto text = KnownText(code))
        return *text;
    if (auto message = TrimmedSystemMessage(code))
        return QStringLiteral("OPC-Error: %1").arg(*message);
    return QStringLiteral("OPC-Error %1").arg(Hex8(code));
}

} // namespace

bool GetSystemErrorText(HRESULT code, QString &text)
{
    std::optional<QString> message = FormatSystemMessage(code);
    // Formatting without arguments cannot fill inserts, so such messages count as missing.
    if (!message || HasInserts(*message))
        return false;
    text = *message;
    return true;
}

QString OPCErrorText(HRESULT code)
{
    if (auto text = KnownText(code))
        return *text;
    return QStringLiteral("Unknown Error Code: %1").arg(Hex8(code));
}

void OPCCheck(HRESULT code)
{
    if (FAILED(code))
        throw EOPCException(code);
}

EOPCException::EOPCException(HRESULT code)
    : Exception(EOPCExceptionMessage(code)), m_ErrorCode(code)
{
}

EOPCException::EOPCException(const QString &message) : Exception(message), m_ErrorCode(E_FAIL) {}

EOPCOpCompletedWithOneOrMoreErrors::EOPCOpCompletedWithOneOrMoreErrors() : EOPCException(QString())
{
}

TOPCDAClientItem *EOPCOpCompletedWithOneOrMoreErrors::Items(qsizetype index) const
{
    if (index < 0 || index >= Count())
        throw EListError(index);
    return m_Items[static_cast<std::size_t>(index)];
}

void EOPCOpCompletedWithOneOrMoreErrors::Add(TOPCDAClientItem *item)
{
    if (!item)
        RaiseMissingParameter(QStringLiteral("EOPCOpCompletedWithOneOrMoreErrors.Add"),
                              QStringLiteral("AItem"));
    m_Items.push_back(item);
}

void EOPCOpCompletedWithOneOrMoreErrors::SetMessage(const QString &message)
{
    // The base keeps the message and its UTF-8 copy together; replacing the base part renews both.
    static_cast<Exception &>(*this) = Exception(message);
}

ENoIOPCBrowseServerAddressSpaceIntf::ENoIOPCBrowseServerAddressSpaceIntf()
    : Exception(QStringLiteral(
          "Kein IOPCBrowseServerAddressSpace-Interface des Remote-Servers verfügbar."))
{
}

ENoIOPCItemPropertiesIntf::ENoIOPCItemPropertiesIntf()
    : Exception(QStringLiteral("Kein IOPCItemProperties-Interface des Remote-Servers verfügbar."))
{
}
