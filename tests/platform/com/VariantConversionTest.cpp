#include "platform/com/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QString Describe(const TVariant &value)
{
    return QStringLiteral("%1 '%2'").arg(value.Type()).arg(value.ToString());
}

struct ConversionCase
{
    TVariant source;
    VARTYPE target;
    HRESULT result;
    TVariant expected; // only when result is S_OK
};

void CheckConversions(const std::vector<ConversionCase> &cases)
{
    for (const ConversionCase &c : cases) {
        TVariant out = TVariant::FromString("untouched");
        const HRESULT hr = c.source.ChangeType(c.target, out);
        const std::string what =
            (Describe(c.source) + QStringLiteral(" -> %1").arg(c.target)).toStdString();
        EXPECT_EQ(hr, c.result) << what;
        if (hr != S_OK) {
            EXPECT_EQ(out, TVariant::FromString("untouched")) << what;
        } else if (c.result == S_OK) {
            EXPECT_EQ(out, c.expected) << what << " gave " << Describe(out).toStdString();
        }
    }
}

TVariant Date(int year, int month, int day, QTime time = QTime(0, 0))
{
    return TVariant::FromDate(EncodeDateTime(QDate(year, month, day), time));
}

constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto uint64Max = std::numeric_limits<std::uint64_t>::max();

TEST(TVariantConversionTest, IntegersAreRangeChecked)
{
    CheckConversions({
        {TVariant::FromI4(255), VT_UI1, S_OK, TVariant::FromUI1(255)},
        {TVariant::FromI4(300), VT_UI1, DISP_E_OVERFLOW, {}},
        {TVariant::FromI4(-1), VT_UI4, DISP_E_OVERFLOW, {}},
        {TVariant::FromI4(-1), VT_UI8, DISP_E_OVERFLOW, {}},
        {TVariant::FromI4(-128), VT_I1, S_OK, TVariant::FromI1(-128)},
        {TVariant::FromI4(-129), VT_I1, DISP_E_OVERFLOW, {}},
        {TVariant::FromI4(32768), VT_I2, DISP_E_OVERFLOW, {}},
        {TVariant::FromUI4(4000000000u), VT_I4, DISP_E_OVERFLOW, {}},
        {TVariant::FromUI4(4000000000u), VT_I8, S_OK, TVariant::FromI8(4000000000)},
        {TVariant::FromUI8(int64Max), VT_I8, S_OK, TVariant::FromI8(int64Max)},
        {TVariant::FromUI8(uint64Max), VT_I8, DISP_E_OVERFLOW, {}},
        {TVariant::FromI8(int64Min), VT_R8, S_OK, TVariant::FromR8(-9223372036854775808.0)},
        {TVariant::FromUI2(65535), VT_R4, S_OK, TVariant::FromR4(65535.0f)},
        {TVariant::FromI1(-5), VT_I8, S_OK, TVariant::FromI8(-5)},
    });
}

TEST(TVariantConversionTest, FloatsBecomeIntegersByBankersRounding)
{
    CheckConversions({
        {TVariant::FromR8(0.5), VT_I4, S_OK, TVariant::FromI4(0)},
        {TVariant::FromR8(1.5), VT_I4, S_OK, TVariant::FromI4(2)},
        {TVariant::FromR8(2.5), VT_I4, S_OK, TVariant::FromI4(2)},
        {TVariant::FromR8(3.5), VT_I2, S_OK, TVariant::FromI2(4)},
        {TVariant::FromR8(2.5000001), VT_I4, S_OK, TVariant::FromI4(3)},
        {TVariant::FromR8(-2.5), VT_I4, S_OK, TVariant::FromI4(-2)},
        {TVariant::FromR8(-1.5), VT_I8, S_OK, TVariant::FromI8(-2)},
        {TVariant::FromR4(2.5f), VT_UI1, S_OK, TVariant::FromUI1(2)},
        {TVariant::FromR8(254.5), VT_UI1, S_OK, TVariant::FromUI1(254)},
        {TVariant::FromR8(255.5), VT_UI1, DISP_E_OVERFLOW, {}}, // rounds to 256
        {TVariant::FromR8(-0.4), VT_UI1, S_OK, TVariant::FromUI1(0)},
        {TVariant::FromR8(-0.6), VT_UI1, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(127.4), VT_I1, S_OK, TVariant::FromI1(127)},
        {TVariant::FromR8(127.5), VT_I1, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(-9223372036854775808.0), VT_I8, S_OK, TVariant::FromI8(int64Min)},
        {TVariant::FromR8(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(18446744073709551616.0), VT_UI8, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(std::nan("")), VT_I4, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(HUGE_VAL), VT_UI4, DISP_E_OVERFLOW, {}},
        {TVariant::FromDate(45000.5), VT_I4, S_OK, TVariant::FromI4(45000)},
        {TVariant::FromDate(45001.5), VT_I4, S_OK, TVariant::FromI4(45002)},
    });
}

TEST(TVariantConversionTest, FloatTargetsAndDatesHaveTheirLimits)
{
    CheckConversions({
        {TVariant::FromR8(1e40), VT_R4, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(-1e40), VT_R4, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(1.5), VT_R4, S_OK, TVariant::FromR4(1.5f)},
        {TVariant::FromR8(HUGE_VAL), VT_R4, S_OK, TVariant::FromR4(HUGE_VALF)},
        {TVariant::FromR4(0.1f), VT_R8, S_OK, TVariant::FromR8(static_cast<double>(0.1f))},
        {TVariant::FromR8(45000.25), VT_DATE, S_OK, TVariant::FromDate(45000.25)},
        {TVariant::FromDate(45000.25), VT_R8, S_OK, TVariant::FromR8(45000.25)},
        {TVariant::FromR8(2958465.9), VT_DATE, S_OK, TVariant::FromDate(2958465.9)},
        {TVariant::FromR8(2958466.0), VT_DATE, DISP_E_OVERFLOW, {}}, // year 10000
        {TVariant::FromR8(-657434.5), VT_DATE, S_OK, TVariant::FromDate(-657434.5)},
        {TVariant::FromR8(-657435.0), VT_DATE, DISP_E_OVERFLOW, {}}, // year 99
        {TVariant::FromUI8(uint64Max), VT_DATE, DISP_E_OVERFLOW, {}},
    });
}

TEST(TVariantConversionTest, BooleansAreMinusOneAndAnyNonZeroIsTrue)
{
    const TVariant yes = TVariant::FromBool(true), no = TVariant::FromBool(false);
    CheckConversions({
        {yes, VT_I2, S_OK, TVariant::FromI2(-1)},
        {yes, VT_I4, S_OK, TVariant::FromI4(-1)},
        {yes, VT_R8, S_OK, TVariant::FromR8(-1.0)},
        {yes, VT_CY, S_OK, TVariant::FromCY(-10000)},
        {yes, VT_UI1, S_OK, TVariant::FromUI1(0xFF)},
        {yes, VT_UI4, S_OK, TVariant::FromUI4(0xFFFFFFFF)},
        {yes, VT_BSTR, S_OK, TVariant::FromString("True")},
        {no, VT_UI2, S_OK, TVariant::FromUI2(0)},
        {no, VT_I4, S_OK, TVariant::FromI4(0)},
        {no, VT_BSTR, S_OK, TVariant::FromString("False")},
        {TVariant::FromI4(2), VT_BOOL, S_OK, yes},
        {TVariant::FromI4(0), VT_BOOL, S_OK, no},
        {TVariant::FromR8(0.1), VT_BOOL, S_OK, yes},
        {TVariant::FromUI8(0), VT_BOOL, S_OK, no},
        {TVariant::FromCY(1), VT_BOOL, S_OK, yes},
        {TVariant::FromString("true"), VT_BOOL, S_OK, yes},
        {TVariant::FromString(" FALSE "), VT_BOOL, S_OK, no},
        {TVariant::FromString("-1"), VT_BOOL, S_OK, yes},
        {TVariant::FromString("0,0"), VT_BOOL, S_OK, no},
        {TVariant::FromString("ja"), VT_BOOL, DISP_E_TYPEMISMATCH, {}},
    });
}

// The test main sets the German locale; the C form is the fallback for parsing.
TEST(TVariantConversionTest, TextIsParsedInTheLocaleThenInTheCForm)
{
    CheckConversions({
        {TVariant::FromString("abc"), VT_R8, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromString(""), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromString("12abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromString("  42 "), VT_I4, S_OK, TVariant::FromI4(42)},
        {TVariant::FromString("1,5"), VT_R8, S_OK, TVariant::FromR8(1.5)},
        {TVariant::FromString("1.5"), VT_R8, S_OK, TVariant::FromR8(1.5)},
        {TVariant::FromString("1.500"), VT_I4, S_OK, TVariant::FromI4(1500)}, // locale first
        {TVariant::FromString("1.234,5"), VT_R8, S_OK, TVariant::FromR8(1234.5)},
        {TVariant::FromString("-2,5e3"), VT_R8, S_OK, TVariant::FromR8(-2500.0)},
        {TVariant::FromString("2,5"), VT_I4, S_OK, TVariant::FromI4(2)},
        {TVariant::FromString("1e40"), VT_R4, DISP_E_OVERFLOW, {}},
        {TVariant::FromString("300"), VT_UI1, DISP_E_OVERFLOW, {}},
        {TVariant::FromString("-1"), VT_UI4, DISP_E_OVERFLOW, {}},
        {TVariant::FromString("18446744073709551615"), VT_UI8, S_OK, TVariant::FromUI8(uint64Max)},
        {TVariant::FromString("9223372036854775808"), VT_I8, DISP_E_OVERFLOW, {}},
        {TVariant::FromString("12,3456"), VT_CY, S_OK, TVariant::FromCY(123456)},
        {TVariant::FromR8(1234.5), VT_BSTR, S_OK, TVariant::FromString("1234,5")},
        {TVariant::FromI4(-7), VT_BSTR, S_OK, TVariant::FromString("-7")},
        {TVariant::FromCY(12345), VT_BSTR, S_OK, TVariant::FromString("1,2345")},
        {TVariant::FromError(E_FAIL), VT_BSTR, S_OK, TVariant::FromString("0x80004005")},
        {TVariant(), VT_BSTR, S_OK, TVariant::FromString("")},
    });
}

TEST(TVariantConversionTest, AnExplicitLocaleReplacesTheCurrentOne)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    TVariant out;
    ASSERT_EQ(TVariant::FromString("1,500").ChangeType(VT_I4, out, english), S_OK);
    EXPECT_EQ(out, TVariant::FromI4(1500));
    ASSERT_EQ(TVariant::FromR8(2.5).ChangeType(VT_BSTR, out, english), S_OK);
    EXPECT_EQ(out, TVariant::FromString("2.5"));
    ASSERT_EQ(TVariant::FromString("3/5/24").ChangeType(VT_DATE, out, english), S_OK);
    EXPECT_EQ(out, Date(2024, 3, 5));
}

TEST(TVariantConversionTest, DatesAreReadInTheLocaleAndInIsoForm)
{
    CheckConversions({
        {TVariant::FromString("05.03.2024 13:45:30"), VT_DATE, S_OK,
         Date(2024, 3, 5, QTime(13, 45, 30))},
        {TVariant::FromString("5.3.24"), VT_DATE, S_OK, Date(2024, 3, 5)},
        {TVariant::FromString("05.03.29 8:05"), VT_DATE, S_OK, Date(2029, 3, 5, QTime(8, 5))},
        {TVariant::FromString("05.03.30"), VT_DATE, S_OK, Date(1930, 3, 5)},
        {TVariant::FromString("2024-03-05T13:45:30"), VT_DATE, S_OK,
         Date(2024, 3, 5, QTime(13, 45, 30))},
        {TVariant::FromString("2024-03-05 13:45"), VT_DATE, S_OK, Date(2024, 3, 5, QTime(13, 45))},
        {TVariant::FromString("2024-03-05"), VT_DATE, S_OK, Date(2024, 3, 5)},
        {TVariant::FromString("3/5/2024 13:45"), VT_DATE, S_OK, Date(2024, 3, 5, QTime(13, 45))},
        {TVariant::FromString("13:45"), VT_DATE, S_OK, Date(1899, 12, 30, QTime(13, 45))},
        {TVariant::FromString("32.13.2024"), VT_DATE, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromString("05.03.2024 25:00"), VT_DATE, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromString("45000"), VT_DATE, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromString("01.01.0050"), VT_DATE, DISP_E_OVERFLOW, {}},
        {Date(2024, 3, 5, QTime(13, 45, 30)), VT_BSTR, S_OK,
         TVariant::FromString("05.03.24 13:45:30")},
    });
}

TEST(TVariantConversionTest, CurrencyRoundsExactlyAndHasItsRange)
{
    CheckConversions({
        {TVariant::FromCY(25000), VT_I4, S_OK, TVariant::FromI4(2)},
        {TVariant::FromCY(35000), VT_I4, S_OK, TVariant::FromI4(4)},
        {TVariant::FromCY(-25000), VT_I4, S_OK, TVariant::FromI4(-2)},
        {TVariant::FromCY(15001), VT_I4, S_OK, TVariant::FromI4(2)},
        {TVariant::FromCY(-5000), VT_UI1, S_OK, TVariant::FromUI1(0)},
        {TVariant::FromCY(-15000), VT_UI1, DISP_E_OVERFLOW, {}},
        {TVariant::FromCY(12345), VT_R8, S_OK, TVariant::FromR8(1.2345)},
        {TVariant::FromR8(1.23456), VT_CY, S_OK, TVariant::FromCY(12346)},
        {TVariant::FromR8(0.00005), VT_CY, S_OK, TVariant::FromCY(0)},
        {TVariant::FromI8(922337203685477), VT_CY, S_OK, TVariant::FromCY(9223372036854770000)},
        {TVariant::FromI8(922337203685478), VT_CY, DISP_E_OVERFLOW, {}},
        {TVariant::FromI8(-922337203685478), VT_CY, DISP_E_OVERFLOW, {}},
        {TVariant::FromR8(1e15), VT_CY, DISP_E_OVERFLOW, {}},
    });
}

TEST(TVariantConversionTest, StatusCodesOnlyTradePlacesWithThirtyTwoBitIntegers)
{
    const TVariant error = TVariant::FromError(E_FAIL);
    CheckConversions({
        {error, VT_I4, S_OK, TVariant::FromI4(E_FAIL)},
        {error, VT_UI4, S_OK, TVariant::FromUI4(0x80004005u)},
        {error, VT_R8, DISP_E_TYPEMISMATCH, {}},
        {error, VT_BOOL, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromI4(E_FAIL), VT_ERROR, S_OK, error},
        {TVariant::FromUI4(0x80004005u), VT_ERROR, S_OK, error},
        {TVariant::FromR8(5.0), VT_ERROR, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromString("0x80004005"), VT_ERROR, DISP_E_TYPEMISMATCH, {}},
        {TVariant(), VT_ERROR, DISP_E_TYPEMISMATCH, {}},
    });
}

TEST(TVariantConversionTest, EmptyIsZeroNullIsNothingAndTargetsMustBeTypes)
{
    CheckConversions({
        {TVariant(), VT_I4, S_OK, TVariant::FromI4(0)},
        {TVariant(), VT_R8, S_OK, TVariant::FromR8(0.0)},
        {TVariant(), VT_BOOL, S_OK, TVariant::FromBool(false)},
        {TVariant::Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {TVariant::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {TVariant::Null(), VT_NULL, S_OK, TVariant::Null()},
        {TVariant::FromI4(5), VT_EMPTY, S_OK, TVariant()},
        {TVariant::FromString("x"), VT_NULL, S_OK, TVariant::Null()},
        {TVariant::FromI4(5), 9, DISP_E_BADVARTYPE, {}},
        {TVariant::FromI4(5), VT_VARIANT, DISP_E_BADVARTYPE, {}},
        {TVariant::FromI4(5), VT_ARRAY | VT_NULL, DISP_E_BADVARTYPE, {}},
        {TVariant::FromI4(5), 0x4003, DISP_E_BADVARTYPE, {}}, // by reference
    });
}

TEST(TVariantConversionTest, ArraysConvertElementByElementAndNeverToScalars)
{
    const TVariant ints = TVariant::FromArray(VT_I4, {TVariant::FromI4(1), TVariant::FromI4(300)});
    const TVariant mixed =
        TVariant::FromArray(VT_VARIANT, {TVariant::FromI4(1), TVariant::FromString("2,5")});
    CheckConversions({
        {ints, VT_ARRAY | VT_R8, S_OK,
         TVariant::FromArray(VT_R8, {TVariant::FromR8(1.0), TVariant::FromR8(300.0)})},
        {ints, VT_ARRAY | VT_UI1, DISP_E_OVERFLOW, {}},
        {ints, VT_ARRAY | VT_VARIANT, S_OK, TVariant::FromArray(VT_VARIANT, ints.Elements())},
        {mixed, VT_ARRAY | VT_R8, S_OK,
         TVariant::FromArray(VT_R8, {TVariant::FromR8(1.0), TVariant::FromR8(2.5)})},
        {TVariant::FromArray(VT_VARIANT, {ints}), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH, {}},
        {ints, VT_I4, DISP_E_TYPEMISMATCH, {}},
        {ints, VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {ints, VT_EMPTY, DISP_E_TYPEMISMATCH, {}},
        {TVariant::FromI4(1), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH, {}},
        {TVariant(), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH, {}},
    });
}

TEST(TVariantConversionTest, EveryScalarTypeSurvivesTheWayThroughText)
{
    const TVariant values[] = {
        TVariant::FromI1(-128),
        TVariant::FromI2(-32768),
        TVariant::FromI4(std::numeric_limits<std::int32_t>::min()),
        TVariant::FromI8(int64Min),
        TVariant::FromUI1(255),
        TVariant::FromUI2(65535),
        TVariant::FromUI4(4294967295u),
        TVariant::FromUI8(uint64Max),
        TVariant::FromR4(0.1f),
        TVariant::FromR4(-3.25e20f),
        TVariant::FromR8(-1234.5678),
        TVariant::FromR8(1e-300),
        TVariant::FromCY(int64Min),
        TVariant::FromBool(true),
        TVariant::FromBool(false),
        Date(2024, 3, 5, QTime(13, 45, 30)),
    };
    for (const TVariant &value : values) {
        TVariant text, back;
        ASSERT_EQ(value.ChangeType(VT_BSTR, text), S_OK) << Describe(value).toStdString();
        EXPECT_EQ(text.ChangeType(value.Type(), back), S_OK) << Describe(text).toStdString();
        EXPECT_EQ(back, value) << Describe(text).toStdString();
    }
}

TEST(TVariantConversionTest, TheResultMayReplaceTheSource)
{
    TVariant value = TVariant::FromString("2,5");
    ASSERT_EQ(value.ChangeType(VT_R8, value), S_OK);
    EXPECT_EQ(value, TVariant::FromR8(2.5));
    EXPECT_EQ(value.ChangeType(VT_UI1, value), S_OK);
    EXPECT_EQ(value, TVariant::FromUI1(2));
}

TEST(TVariantConversionTest, NumericHelpersReportWhetherThereIsANumber)
{
    bool ok = false;
    EXPECT_EQ(TVariant::FromString("2,5").ToDouble(&ok), 2.5);
    EXPECT_TRUE(ok);
    EXPECT_EQ(TVariant::FromString("x").ToDouble(&ok), 0.0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(TVariant::FromBool(true).ToInt64(&ok), -1);
    EXPECT_TRUE(ok);
    EXPECT_EQ(TVariant::FromUI8(uint64Max).ToInt64(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(TVariant::FromR8(2.5).ToInt64(), 2);
}

} // namespace
