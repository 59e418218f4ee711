#include "opc/xOPC.h"

#include <array>

namespace {

const char *const NotAvailable = "N/A";

unsigned QualityBits(WORD quality)
{
    return (quality >> 6) & 0x03u;
}

unsigned SubStatus(WORD quality)
{
    return (quality >> 2) & 0x0Fu;
}

constexpr unsigned QualityBad = 0;
constexpr unsigned QualityUncertain = 1;
constexpr unsigned QualityGood = 3;

constexpr std::array<const char *, 16> BadSubStatus{
    "Non-specific",   "Configuration Error", "Not Connected", "Device Failure",
    "Sensor Failure", "Last Known Value",    "Comm Failure",  "Out of Service",
    NotAvailable,     NotAvailable,          NotAvailable,    NotAvailable,
    NotAvailable,     NotAvailable,          NotAvailable,    NotAvailable,
};

constexpr std::array<const char *, 16> UncertainSubStatus{
    "Non-specific", "Last Useable Value",  NotAvailable,
    NotAvailable,   "Sensor Not Accurate", "Engineering Units Exceeded",
    "Sub-Normal",   NotAvailable,          NotAvailable,
    NotAvailable,   NotAvailable,          NotAvailable,
    NotAvailable,   NotAvailable,          NotAvailable,
    NotAvailable,
};

} // namespace

QString OPCQualityText(WORD quality)
{
    static constexpr std::array<const char *, 4> Texts{"Bad", "Uncertain", "N/A", "Good"};
    return QString::fromLatin1(Texts[QualityBits(quality)]);
}

QString OPCSubStatusText(WORD quality)
{
    const unsigned subStatus = SubStatus(quality);
    switch (QualityBits(quality)) {
    case QualityBad: return QString::fromLatin1(BadSubStatus[subStatus]);
    case QualityUncertain: return QString::fromLatin1(UncertainSubStatus[subStatus]);
    case QualityGood:
        if (subStatus == 0)
            return QStringLiteral("Non-specific");
        if (subStatus == 6)
            return QStringLiteral("Local Override");
        break;
    default: break;
    }
    return QString::fromLatin1(NotAvailable);
}

QString OPCServerStateText(DWORD state)
{
    static constexpr std::array<const char *, 5> Texts{"Running", "Failed", "Not configured",
                                                       "Suspended", "Test"};
    if (state < 1 || state > Texts.size())
        throw EConvertError(
            QStringLiteral("Fehler beim Konvertieren des Serverstatus. Erlaubte Stati: [1..5]"));
    return QString::fromLatin1(Texts[state - 1]);
}
