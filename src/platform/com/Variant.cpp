#include "platform/com/Variant.h"

#include <QLocale>
#include <QStringList>

TVariant TVariant::Null()
{
    return {VT_NULL, std::monostate{}};
}
TVariant TVariant::FromBool(bool value)
{
    return {VT_BOOL, value};
}
TVariant TVariant::FromI1(std::int8_t value)
{
    return {VT_I1, std::int64_t{value}};
}
TVariant TVariant::FromI2(std::int16_t value)
{
    return {VT_I2, std::int64_t{value}};
}
TVariant TVariant::FromI4(std::int32_t value)
{
    return {VT_I4, std::int64_t{value}};
}
TVariant TVariant::FromI8(std::int64_t value)
{
    return {VT_I8, value};
}
TVariant TVariant::FromUI1(std::uint8_t value)
{
    return {VT_UI1, std::uint64_t{value}};
}
TVariant TVariant::FromUI2(std::uint16_t value)
{
    return {VT_UI2, std::uint64_t{value}};
}
TVariant TVariant::FromUI4(std::uint32_t value)
{
    return {VT_UI4, std::uint64_t{value}};
}
TVariant TVariant::FromUI8(std::uint64_t value)
{
    return {VT_UI8, value};
}
// R4 keeps single precision so that a round trip through the variant is exact.
TVariant TVariant::FromR4(float value)
{
    return {VT_R4, static_cast<double>(value)};
}
TVariant TVariant::FromR8(double value)
{
    return {VT_R8, value};
}
TVariant TVariant::FromDate(TDateTime value)
{
    return {VT_DATE, value};
}
TVariant TVariant::FromString(const QString &value)
{
    return {VT_BSTR, value};
}
TVariant TVariant::FromError(SCODE value)
{
    return {VT_ERROR, std::int64_t{value}};
}
TVariant TVariant::FromCY(std::int64_t valueTimesScale)
{
    return {VT_CY, valueTimesScale};
}

bool TVariant::AsBool() const
{
    const bool *value = std::get_if<bool>(&m_Value);
    return value && *value;
}

std::int64_t TVariant::AsInt64() const
{
    const std::int64_t *value = std::get_if<std::int64_t>(&m_Value);
    return value ? *value : 0;
}

std::uint64_t TVariant::AsUInt64() const
{
    const std::uint64_t *value = std::get_if<std::uint64_t>(&m_Value);
    return value ? *value : 0;
}

double TVariant::AsDouble() const
{
    const double *value = std::get_if<double>(&m_Value);
    return value ? *value : 0.0;
}

QString TVariant::AsString() const
{
    const QString *value = std::get_if<QString>(&m_Value);
    return value ? *value : QString();
}

SCODE TVariant::AsError() const
{
    return m_Type == VT_ERROR ? static_cast<SCODE>(AsInt64()) : S_OK;
}

std::int64_t TVariant::AsCY() const
{
    return m_Type == VT_CY ? AsInt64() : 0;
}

const std::vector<TVariant> &TVariant::Elements() const
{
    static const std::vector<TVariant> none;
    const Array *value = std::get_if<Array>(&m_Value);
    return value && *value ? **value : none;
}

namespace {
QString DateToString(const QLocale &locale, TDateTime value)
{
    const QString date = locale.toString(DateOf(value), QLocale::ShortFormat);
    const QTime time = TimeOf(value);
    if (time.msecsSinceStartOfDay() == 0)
        return date;
    return date + u' ' + time.toString(QStringLiteral("hh:mm:ss"));
}

// Exact decimal text of a scaled currency value, trailing zeros of the fraction dropped.
QString CurrencyToString(const QLocale &locale, std::int64_t scaled)
{
    const bool negative = scaled < 0;
    // Through unsigned arithmetic so that the smallest value has a magnitude too.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    const std::uint64_t scale = static_cast<std::uint64_t>(CurrencyScale);
    QString text = locale.toString(static_cast<qulonglong>(magnitude / scale));
    if (const std::uint64_t fraction = magnitude % scale) {
        QString digits = QStringLiteral("%1").arg(fraction, 4, 10, QChar(u'0'));
        while (digits.endsWith(u'0'))
            digits.chop(1);
        text += locale.decimalPoint() + digits;
    }
    return negative ? locale.negativeSign() + text : text;
}
} // namespace

QString TVariant::ToString() const
{
    return ToString(QLocale());
}

QString TVariant::ToString(const QLocale &givenLocale) const
{
    QLocale locale = givenLocale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    if (IsArray()) {
        QStringList texts;
        for (const TVariant &element : Elements())
            texts.append(element.ToString(locale));
        return texts.join(QStringLiteral("; "));
    }
    switch (m_Type) {
    case VT_EMPTY:
    case VT_NULL: return {};
    case VT_BOOL: return AsBool() ? QStringLiteral("True") : QStringLiteral("False");
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8: return QString::number(AsInt64());
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: return QString::number(AsUInt64());
    case VT_R4: return locale.toString(AsDouble(), 'g', 7);
    case VT_R8: return locale.toString(AsDouble(), 'g', 15);
    case VT_DATE:
        // No calendar holds the value; the number at least shows what arrived.
        if (!IsValidVariantDate(AsDouble()))
            return locale.toString(AsDouble(), 'g', 15);
        return DateToString(locale, AsDouble());
    case VT_BSTR: return AsString();
    case VT_CY: return CurrencyToString(locale, AsInt64());
    case VT_ERROR: {
        const auto code = static_cast<std::uint32_t>(AsError());
        return QStringLiteral("0x") + QStringLiteral("%1").arg(code, 8, 16, QChar(u'0')).toUpper();
    }
    default: return {};
    }
}

bool operator==(const TVariant &a, const TVariant &b)
{
    if (a.m_Type != b.m_Type)
        return false;
    if (a.IsArray())
        return a.Elements() == b.Elements();
    return a.m_Value == b.m_Value;
}
