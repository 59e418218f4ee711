#include "platform/com/Variant.h"

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
}

} // namespace
