#include "platform/com/Variant.h"

#include "platform/system/Exception.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(TVariantTest, FactoriesTagTheTypeAndKeepTheValue)
{
    const TVariant empty;
    EXPECT_EQ(empty.Type(), VT_EMPTY);
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(TVariant::Null().IsNull());
    EXPECT_FALSE(TVariant::Null().IsEmpty());

    struct Case
    {
        TVariant value;
        VARTYPE type;
    };
    const Case cases[] = {
        {TVariant::FromBool(true), VT_BOOL},  {TVariant::FromI1(-128), VT_I1},
        {TVariant::FromI2(-32768), VT_I2},    {TVariant::FromI4(-5), VT_I4},
        {TVariant::FromI8(-1), VT_I8},        {TVariant::FromUI1(255), VT_UI1},
        {TVariant::FromUI2(65535), VT_UI2},   {TVariant::FromUI4(4000000000u), VT_UI4},
        {TVariant::FromUI8(1), VT_UI8},       {TVariant::FromR4(1.5f), VT_R4},
        {TVariant::FromR8(2.5), VT_R8},       {TVariant::FromDate(45000.25), VT_DATE},
        {TVariant::FromString("x"), VT_BSTR},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.value.Type(), c.type);

    EXPECT_TRUE(TVariant::FromBool(true).AsBool());
    EXPECT_EQ(TVariant::FromI1(-128).AsInt64(), -128);
    EXPECT_EQ(TVariant::FromI8(std::numeric_limits<std::int64_t>::min()).AsInt64(),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(TVariant::FromUI4(4000000000u).AsUInt64(), 4000000000u);
    EXPECT_EQ(TVariant::FromUI8(std::numeric_limits<std::uint64_t>::max()).AsUInt64(),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(static_cast<float>(TVariant::FromR4(0.1f).AsDouble()), 0.1f);
    EXPECT_EQ(TVariant::FromDate(45000.25).AsDouble(), 45000.25);
    EXPECT_EQ(TVariant::FromString("Füllstand").AsString(), QStringLiteral("Füllstand"));
}

TEST(TVariantTest, CopiesAreIndependentEqualValues)
{
    TVariant original = TVariant::FromString(QStringLiteral("Pumpe 1"));
    TVariant copy = original;
    EXPECT_EQ(copy, original);
    original = TVariant::FromI4(3);
    EXPECT_EQ(copy.Type(), VT_BSTR);
    EXPECT_EQ(copy.AsString(), QStringLiteral("Pumpe 1"));

    TVariant assigned;
    assigned = copy;
    EXPECT_EQ(assigned, copy);
}

TEST(TVariantTest, EqualityNeedsTheSameTypeAndValue)
{
    struct Case
    {
        TVariant a, b;
        bool equal;
    };
    const Case cases[] = {
        {TVariant(), TVariant(), true},
        {TVariant(), TVariant::Null(), false},
        {TVariant::FromI4(5), TVariant::FromI4(5), true},
        {TVariant::FromI4(5), TVariant::FromI4(6), false},
        {TVariant::FromI2(5), TVariant::FromI4(5), false},
        {TVariant::FromI4(5), TVariant::FromUI4(5), false},
        {TVariant::FromR4(0.5f), TVariant::FromR8(0.5), false},
        {TVariant::FromR8(45000.0), TVariant::FromDate(45000.0), false},
        {TVariant::FromBool(false), TVariant::FromI4(0), false},
        {TVariant::FromString("Ab"), TVariant::FromString("Ab"), true},
        {TVariant::FromString("Ab"), TVariant::FromString("AB"), false},
        {TVariant::FromString(""), TVariant(), false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal)
            << c.a.ToString().toStdString() << " / " << c.b.ToString().toStdString();
        EXPECT_EQ(c.b == c.a, c.equal);
    }
}

// The test main sets the German locale.
TEST(TVariantTest, ToStringUsesTheCurrentLocaleWithoutGroupSeparators)
{
    struct Case
    {
        TVariant value;
        QString text;
    };
    const Case cases[] = {
        {TVariant(), ""},
        {TVariant::Null(), ""},
        {TVariant::FromBool(true), "True"},
        {TVariant::FromBool(false), "False"},
        {TVariant::FromI2(-12345), "-12345"},
        {TVariant::FromI8(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
        {TVariant::FromUI8(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
        {TVariant::FromR8(1234.5), "1234,5"},
        {TVariant::FromR8(-1234567.25), "-1234567,25"},
        {TVariant::FromR8(0.1), "0,1"},
        {TVariant::FromR8(1.0 / 3.0), "0,333333333333333"},
        {TVariant::FromR4(0.1f), "0,1"},
        {TVariant::FromR4(1234.5f), "1234,5"},
        {TVariant::FromString("Grenzwert überschritten"), "Grenzwert überschritten"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.value.ToString(), c.text) << c.value.Type();
}

TEST(TVariantTest, DateToStringShowsTheTimeOnlyWhenThereIsOne)
{
    const QDate date(2024, 3, 5);
    const QString shortDate = QLocale().toString(date, QLocale::ShortFormat);
    ASSERT_TRUE(shortDate.contains(QStringLiteral("05.03.")));
    EXPECT_EQ(TVariant::FromDate(EncodeDateTime(date, QTime(0, 0))).ToString(), shortDate);
    EXPECT_EQ(TVariant::FromDate(EncodeDateTime(date, QTime(13, 45, 30))).ToString(),
              shortDate + QStringLiteral(" 13:45:30"));
    // Values no calendar holds show as numbers.
    EXPECT_EQ(TVariant::FromDate(1e300).ToString(), QStringLiteral("1E+300"));
    EXPECT_EQ(TVariant::FromDate(-657435.0).ToString(), QStringLiteral("-657435"));
}

TEST(TVariantTest, ArraysConvertTheirElementsToTheElementType)
{
    const TVariant array =
        TVariant::FromArray(VT_R8, {TVariant::FromI4(1), TVariant::FromString("2,5")});
    EXPECT_EQ(array.Type(), VT_ARRAY | VT_R8);
    EXPECT_TRUE(array.IsArray());
    EXPECT_EQ(array.ElementType(), VT_R8);
    ASSERT_EQ(array.Elements().size(), 2u);
    EXPECT_EQ(array.Elements()[0], TVariant::FromR8(1.0));
    EXPECT_EQ(array.Elements()[1], TVariant::FromR8(2.5));
    EXPECT_EQ(array.ToString(), QStringLiteral("1; 2,5"));

    // Elements of VT_VARIANT arrays keep their own types, nested arrays included.
    const TVariant mixed = TVariant::FromArray(
        VT_VARIANT, {TVariant::FromString("a"), TVariant(), array, TVariant::FromBool(true)});
    EXPECT_EQ(mixed.Type(), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(mixed.Elements()[0].Type(), VT_BSTR);
    EXPECT_EQ(mixed.Elements()[1].Type(), VT_EMPTY);
    EXPECT_EQ(mixed.Elements()[2], array);
    EXPECT_EQ(mixed.ToString(), QStringLiteral("a; ; 1; 2,5; True"));

    EXPECT_EQ(TVariant::FromArray(VT_BSTR, {}).ToString(), QString());
    EXPECT_FALSE(TVariant::FromI4(1).IsArray());
    EXPECT_EQ(TVariant::FromI4(1).ElementType(), VT_EMPTY);
    EXPECT_TRUE(TVariant::FromI4(1).Elements().empty());
}

TEST(TVariantTest, ArraysWithImpossibleElementsAreRefused)
{
    EXPECT_THROW(TVariant::FromArray(VT_I2, {TVariant::FromString("abc")}), Exception);
    EXPECT_THROW(TVariant::FromArray(VT_UI1, {TVariant::FromI4(300)}), Exception);
    for (VARTYPE elementType : {VT_EMPTY, VT_NULL, VARTYPE(VT_ARRAY | VT_I4), VARTYPE(9)})
        EXPECT_THROW(TVariant::FromArray(elementType, {}), Exception) << elementType;
}

TEST(TVariantTest, ArraysCompareElementByElement)
{
    const auto ints = [](std::vector<int> values) {
        std::vector<TVariant> elements;
        for (int value : values)
            elements.push_back(TVariant::FromI4(value));
        return TVariant::FromArray(VT_I4, elements);
    };
    const TVariant array = ints({1, 2, 3});
    const TVariant copy = array;
    EXPECT_EQ(copy, array);
    EXPECT_EQ(ints({1, 2, 3}), array); // separately made
    EXPECT_FALSE(ints({1, 2, 4}) == array);
    EXPECT_FALSE(ints({1, 2}) == array);
    EXPECT_FALSE(TVariant::FromArray(VT_I2, array.Elements()) == array);
    EXPECT_FALSE(TVariant::FromArray(VT_VARIANT, array.Elements()) == array);
    EXPECT_FALSE(TVariant::FromI4(1) == ints({1}));
}

TEST(TVariantTest, StatusCodesAndCurrencyKeepTheirValues)
{
    const TVariant error = TVariant::FromError(E_FAIL);
    EXPECT_EQ(error.Type(), VT_ERROR);
    EXPECT_EQ(error.AsError(), E_FAIL);
    EXPECT_EQ(error.ToString(), QStringLiteral("0x80004005"));
    EXPECT_EQ(TVariant::FromError(S_FALSE).ToString(), QStringLiteral("0x00000001"));
    EXPECT_FALSE(error == TVariant::FromI4(E_FAIL));

    struct Case
    {
        std::int64_t scaled;
        QString text;
    };
    const Case cases[] = {
        {12345, "1,2345"},
        {-5000, "-0,5"},
        {30000, "3"},
        {-1, "-0,0001"},
        {0, "0"},
        {12345670000, "1234567"},
        {std::numeric_limits<std::int64_t>::min(), "-922337203685477,5808"},
        {std::numeric_limits<std::int64_t>::max(), "922337203685477,5807"},
    };
    for (const Case &c : cases) {
        const TVariant currency = TVariant::FromCY(c.scaled);
        EXPECT_EQ(currency.Type(), VT_CY);
        EXPECT_EQ(currency.AsCY(), c.scaled);
        EXPECT_EQ(currency.ToString(), c.text);
    }
    EXPECT_EQ(TVariant::FromCY(12345).ToString(QLocale::c()), QStringLiteral("1.2345"));
}

} // namespace
