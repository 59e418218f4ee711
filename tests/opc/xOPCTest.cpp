#include "opc/xOPC.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace {

TEST(OPCQualityTextTest, TypicalQualities)
{
    struct Case
    {
        WORD quality;
        const char *quality_text;
        const char *sub_status_text;
    };
    const Case cases[] = {
        {0xC0, "Good", "Non-specific"},
        {0xD8, "Good", "Local Override"},
        {0xC1, "Good", "Non-specific"},
        {0x18, "Bad", "Comm Failure"},
        {0x54, "Uncertain", "Engineering Units Exceeded"},
        {0x80, "N/A", "N/A"},
        {0x20, "Bad", "N/A"},
        {0x1F, "Bad", "Out of Service"},
        {0x47, "Uncertain", "Last Useable Value"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.quality);
        EXPECT_EQ(OPCQualityText(c.quality), QString::fromLatin1(c.quality_text));
        EXPECT_EQ(OPCSubStatusText(c.quality), QString::fromLatin1(c.sub_status_text));
    }
}

TEST(OPCQualityTextTest, EveryLowByteMatchesTheQualityTables)
{
    // Keyed by (quality bits, substatus); every pair not listed reads "N/A".
    const std::map<std::pair<int, int>, QString> named{
        {{0, 0}, "Non-specific"},        {{0, 1}, "Configuration Error"},
        {{0, 2}, "Not Connected"},       {{0, 3}, "Device Failure"},
        {{0, 4}, "Sensor Failure"},      {{0, 5}, "Last Known Value"},
        {{0, 6}, "Comm Failure"},        {{0, 7}, "Out of Service"},
        {{1, 0}, "Non-specific"},        {{1, 1}, "Last Useable Value"},
        {{1, 4}, "Sensor Not Accurate"}, {{1, 5}, "Engineering Units Exceeded"},
        {{1, 6}, "Sub-Normal"},          {{3, 0}, "Non-specific"},
        {{3, 6}, "Local Override"},
    };
    const QString qualities[] = {"Bad", "Uncertain", "N/A", "Good"};

    for (int low = 0; low < 256; ++low) {
        SCOPED_TRACE(low);
        const int quality = low / 64;
        const int subStatus = (low / 4) % 16;
        const auto it = named.find({quality, subStatus});
        const QString expected = it == named.end() ? QStringLiteral("N/A") : it->second;

        // The high byte of the quality word carries vendor bits and must not matter.
        for (const WORD high : {0x0000, 0xA500, 0xFF00}) {
            const WORD word = static_cast<WORD>(high | low);
            EXPECT_EQ(OPCQualityText(word), qualities[quality]);
            EXPECT_EQ(OPCSubStatusText(word), expected);
        }
    }
}

TEST(OPCServerStateTextTest, NamesTheFiveStates)
{
    const char *const texts[] = {"Running", "Failed", "Not configured", "Suspended", "Test"};
    for (DWORD state = 1; state <= 5; ++state)
        EXPECT_EQ(OPCServerStateText(state), QString::fromLatin1(texts[state - 1]));
}

TEST(OPCServerStateTextTest, OtherStatesCannotBeConverted)
{
    for (const DWORD state : {0u, 6u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(state);
        try {
            OPCServerStateText(state);
            ADD_FAILURE() << "no exception";
        } catch (const EConvertError &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Fehler beim Konvertieren des Serverstatus. "
                                                  "Erlaubte Stati: [1..5]"));
        }
    }
}

} // namespace
