#include "platform/system/Convert.h"

#include <gtest/gtest.h>

TEST(StrToInt, AcceptsDecimalAndHexadecimalTexts)
{
    const struct
    {
        const char *text;
        std::int32_t value;
    } cases[] = {
        {"0", 0},
        {"42", 42},
        {" -17 ", -17},
        {"+5", 5},
        {"$FF", 255},
        {"$c0", 192},
        {"0x40", 64},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StrToInt(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(StrToInt, RefusesOtherTextsWithTheConversionMessage)
{
    const char *texts[] = {"",           " ",           "abc",        "12a", "1 2", "$",  "$G1",
                           "2147483648", "-2147483649", "$100000000", "1.5", "--1", "- 1"};
    for (const char *text : texts) {
        try {
            StrToInt(QString::fromLatin1(text));
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError &error) {
            EXPECT_EQ(
                error.Message(),
                QStringLiteral("'%1' ist kein gültiger Integerwert").arg(QLatin1String(text)));
        }
    }
}
