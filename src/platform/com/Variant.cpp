#include "platform/com/Variant.h"

#include <QLocale>

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

namespace {
QString DateToString(const QLocale &locale, TDateTime value)
{
    const QString date = locale.toString(DateOf(value), QLocale::ShortFormat);
    const QTime time = TimeOf(value);
    if (time.msecsSinceStartOfDay() == 0)
        return date;
    return date + u' ' + time.toString(QStringLiteral("hh:mm:ss"));
}
} // namespace

QString TVariant::ToString() const
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
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
    case VT_DATE: return DateToString(locale, AsDouble());
    case VT_BSTR: return AsString();
    default: return {};
    }
}

bool operator==(const TVariant &a, const TVariant &b)
{
    return a.m_Type == b.m_Type && a.m_Value == b.m_Value;
}
