// Conversions between the variant types (TVariant::ChangeType) and arrays, whose elements are
// converted on the way in.
#include "platform/com/Variant.h"

#include "platform/system/Exception.h"

#include <QDate>
#include <QStringList>
#include <QTime>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace {

bool IsScalarType(VARTYPE type)
{
    switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_ERROR:
    case VT_BOOL: return true;
    default: return false;
    }
}

bool IsValidElementType(VARTYPE type)
{
    return IsScalarType(type) || type == VT_VARIANT;
}

bool IsValidTarget(VARTYPE type)
{
    if (type & VT_ARRAY)
        return IsValidElementType(VARTYPE(type & ~VT_ARRAY));
    return IsScalarType(type) || type == VT_EMPTY || type == VT_NULL;
}

bool IsUnsignedType(VARTYPE type)
{
    return type == VT_UI1 || type == VT_UI2 || type == VT_UI4 || type == VT_UI8;
}

// Half-way values go to the even neighbour, as OLE rounds.
double BankersRound(double value)
{
    if (std::fabs(value - std::trunc(value)) == 0.5)
        return 2.0 * std::round(value / 2.0);
    return std::round(value);
}

// A source value on its way to a numeric target.
struct TNumber
{
    enum Kind { Signed, Unsigned, Real, Currency } kind = Signed;
    std::int64_t i = 0; // Signed, and Currency scaled by CurrencyScale
    std::uint64_t u = 0;
    double d = 0.0;
};

TNumber Signed(std::int64_t value)
{
    return {TNumber::Signed, value, 0, 0.0};
}

// The whole units of a scaled currency value, banker's rounded.
std::int64_t CurrencyUnits(std::int64_t scaled)
{
    std::int64_t units = scaled / CurrencyScale;
    const std::int64_t rest = scaled % CurrencyScale; // has the sign of scaled
    const std::int64_t half = CurrencyScale / 2;
    const std::int64_t step = scaled < 0 ? -1 : 1;
    if (std::abs(rest) > half || (std::abs(rest) == half && units % 2 != 0))
        units += step;
    return units;
}

HRESULT ToSigned(const TNumber &n, std::int64_t low, std::int64_t high, std::int64_t &out)
{
    switch (n.kind) {
    case TNumber::Signed:
        if (n.i < low || n.i > high)
            return DISP_E_OVERFLOW;
        out = n.i;
        return S_OK;
    case TNumber::Unsigned:
        if (n.u > static_cast<std::uint64_t>(high))
            return DISP_E_OVERFLOW;
        out = static_cast<std::int64_t>(n.u);
        return S_OK;
    case TNumber::Real: {
        const double rounded = BankersRound(n.d);
        // high + 1 is a power of two for every type and so exact, unlike high itself for I8.
        const double above = static_cast<double>(high / 2 + 1) * 2.0;
        if (!(rounded >= static_cast<double>(low) && rounded < above))
            return DISP_E_OVERFLOW;
        out = static_cast<std::int64_t>(rounded);
        return S_OK;
    }
    case TNumber::Currency: return ToSigned(Signed(CurrencyUnits(n.i)), low, high, out);
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToUnsigned(const TNumber &n, std::uint64_t high, std::uint64_t &out)
{
    switch (n.kind) {
    case TNumber::Signed:
        if (n.i < 0 || static_cast<std::uint64_t>(n.i) > high)
            return DISP_E_OVERFLOW;
        out = static_cast<std::uint64_t>(n.i);
        return S_OK;
    case TNumber::Unsigned:
        if (n.u > high)
            return DISP_E_OVERFLOW;
        out = n.u;
        return S_OK;
    case TNumber::Real: {
        const double rounded = BankersRound(n.d);
        const double above = static_cast<double>(high / 2 + 1) * 2.0;
        if (!(rounded >= 0.0 && rounded < above))
            return DISP_E_OVERFLOW;
        out = static_cast<std::uint64_t>(rounded);
        return S_OK;
    }
    case TNumber::Currency: return ToUnsigned(Signed(CurrencyUnits(n.i)), high, out);
    }
    return DISP_E_TYPEMISMATCH;
}

double ToReal(const TNumber &n)
{
    switch (n.kind) {
    case TNumber::Signed: return static_cast<double>(n.i);
    case TNumber::Unsigned: return static_cast<double>(n.u);
    case TNumber::Real: return n.d;
    case TNumber::Currency: return static_cast<double>(n.i) / static_cast<double>(CurrencyScale);
    }
    return 0.0;
}

HRESULT ToCurrency(const TNumber &n, std::int64_t &out)
{
    constexpr std::int64_t maxUnits = std::numeric_limits<std::int64_t>::max() / CurrencyScale;
    switch (n.kind) {
    case TNumber::Signed:
        if (n.i < -maxUnits || n.i > maxUnits)
            return DISP_E_OVERFLOW;
        out = n.i * CurrencyScale;
        return S_OK;
    case TNumber::Unsigned:
        if (n.u > static_cast<std::uint64_t>(maxUnits))
            return DISP_E_OVERFLOW;
        out = static_cast<std::int64_t>(n.u) * CurrencyScale;
        return S_OK;
    case TNumber::Real: {
        const double rounded = BankersRound(n.d * static_cast<double>(CurrencyScale));
        const double limit = 9223372036854775808.0; // 2^63
        if (!(rounded >= -limit && rounded < limit))
            return DISP_E_OVERFLOW;
        out = static_cast<std::int64_t>(rounded);
        return S_OK;
    }
    case TNumber::Currency: out = n.i; return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

bool ToBool(const TNumber &n)
{
    switch (n.kind) {
    case TNumber::Signed:
    case TNumber::Currency: return n.i != 0;
    case TNumber::Unsigned: return n.u != 0;
    case TNumber::Real: return n.d != 0.0;
    }
    return false;
}

// A number in the given locale first, then in the C form.
std::optional<TNumber> ParseNumber(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    for (const QLocale &form : {locale, QLocale::c()}) {
        bool ok = false;
        const qlonglong i = form.toLongLong(trimmed, &ok);
        if (ok)
            return Signed(i);
        const qulonglong u = form.toULongLong(trimmed, &ok);
        if (ok)
            return TNumber{TNumber::Unsigned, 0, u, 0.0};
        const double d = form.toDouble(trimmed, &ok);
        if (ok)
            return TNumber{TNumber::Real, 0, 0, d};
    }
    return std::nullopt;
}

// Day, month and year fields of the locale's short date, accepting one or two digits for day
// and month and two or four for the year.
QStringList LocaleDateFormats(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    format.replace(QStringLiteral("dd"), QStringLiteral("d"));
    format.replace(QStringLiteral("MM"), QStringLiteral("M"));
    QString fourDigits = format, twoDigits = format;
    if (format.contains(QStringLiteral("yyyy")))
        twoDigits.replace(QStringLiteral("yyyy"), QStringLiteral("yy"));
    else
        fourDigits.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return {fourDigits, twoDigits};
}

std::optional<QDate> ParseDatePart(const QString &text, const QLocale &locale)
{
    if (text.isEmpty())
        return QDate(1899, 12, 30); // a time alone is a time on day 0
    const QStringList localeFormats = LocaleDateFormats(locale);
    for (const QString &format : localeFormats) {
        QDate date = locale.toDate(text, format);
        if (!date.isValid())
            continue;
        // Two-digit years: 00..29 in this century, 30..99 in the last one.
        if (!format.contains(QStringLiteral("yyyy")) && date.year() < 1930)
            date = date.addYears(100);
        return date;
    }
    for (const char *format : {"yyyy-M-d", "M/d/yyyy"}) {
        const QDate date = QDate::fromString(text, QString::fromLatin1(format));
        if (date.isValid())
            return date;
    }
    return std::nullopt;
}

std::optional<QTime> ParseTimePart(const QString &text)
{
    if (text.isEmpty())
        return QTime(0, 0);
    for (const char *format : {"H:mm:ss", "H:mm", "H:mm:ss.zzz"}) {
        const QTime time = QTime::fromString(text, QString::fromLatin1(format));
        if (time.isValid())
            return time;
    }
    return std::nullopt;
}

// A date, a time or both: "05.03.2024 13:45:30" in the locale, "2024-03-05T13:45:30" or
// "3/5/2024 13:45" in the C form, "13:45".
std::optional<TDateTime> ParseDate(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QString datePart = trimmed, timePart;
    // ISO 8601 joins date and time with a T.
    const qsizetype isoT = trimmed.indexOf(u'T');
    const qsizetype space = trimmed.lastIndexOf(u' ');
    if (isoT == 10 && trimmed.at(4) == u'-') {
        datePart = trimmed.left(isoT);
        timePart = trimmed.mid(isoT + 1);
    } else if (trimmed.mid(space + 1).contains(u':')) {
        datePart = space < 0 ? QString() : trimmed.left(space).trimmed();
        timePart = trimmed.mid(space + 1);
    }
    const std::optional<QDate> date = ParseDatePart(datePart, locale);
    const std::optional<QTime> time = ParseTimePart(timePart);
    if (!date || !time)
        return std::nullopt;
    return EncodeDateTime(*date, *time);
}

// The number of a scalar source, or the reason there is none.
HRESULT SourceNumber(const TVariant &value, const QLocale &locale, TNumber &n)
{
    switch (value.Type()) {
    case VT_EMPTY: n = Signed(0); return S_OK;
    case VT_BOOL: n = Signed(value.AsBool() ? -1 : 0); return S_OK;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8: n = Signed(value.AsInt64()); return S_OK;
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: n = TNumber{TNumber::Unsigned, 0, value.AsUInt64(), 0.0}; return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE: n = TNumber{TNumber::Real, 0, 0, value.AsDouble()}; return S_OK;
    case VT_CY: n = TNumber{TNumber::Currency, value.AsCY(), 0, 0.0}; return S_OK;
    case VT_BSTR:
        if (const std::optional<TNumber> parsed = ParseNumber(value.AsString(), locale)) {
            n = *parsed;
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT SignedResult(const TNumber &n, VARTYPE target, TVariant &out)
{
    std::int64_t value = 0;
    HRESULT hr = S_OK;
    switch (target) {
    case VT_I1:
        if (SUCCEEDED(hr = ToSigned(n, INT8_MIN, INT8_MAX, value)))
            out = TVariant::FromI1(static_cast<std::int8_t>(value));
        break;
    case VT_I2:
        if (SUCCEEDED(hr = ToSigned(n, INT16_MIN, INT16_MAX, value)))
            out = TVariant::FromI2(static_cast<std::int16_t>(value));
        break;
    case VT_I4:
        if (SUCCEEDED(hr = ToSigned(n, INT32_MIN, INT32_MAX, value)))
            out = TVariant::FromI4(static_cast<std::int32_t>(value));
        break;
    default:
        if (SUCCEEDED(hr = ToSigned(n, INT64_MIN, INT64_MAX, value)))
            out = TVariant::FromI8(value);
        break;
    }
    return hr;
}

std::uint64_t UnsignedMax(VARTYPE target)
{
    switch (target) {
    case VT_UI1: return UINT8_MAX;
    case VT_UI2: return UINT16_MAX;
    case VT_UI4: return UINT32_MAX;
    default: return UINT64_MAX;
    }
}

TVariant UnsignedVariant(VARTYPE target, std::uint64_t value)
{
    switch (target) {
    case VT_UI1: return TVariant::FromUI1(static_cast<std::uint8_t>(value));
    case VT_UI2: return TVariant::FromUI2(static_cast<std::uint16_t>(value));
    case VT_UI4: return TVariant::FromUI4(static_cast<std::uint32_t>(value));
    default: return TVariant::FromUI8(value);
    }
}

HRESULT NumericResult(const TNumber &n, VARTYPE target, TVariant &out)
{
    switch (target) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8: return SignedResult(n, target, out);
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: {
        std::uint64_t value = 0;
        const HRESULT hr = ToUnsigned(n, UnsignedMax(target), value);
        if (SUCCEEDED(hr))
            out = UnsignedVariant(target, value);
        return hr;
    }
    case VT_R4: {
        const double value = ToReal(n);
        if (std::isfinite(value) && std::fabs(value) > FLT_MAX)
            return DISP_E_OVERFLOW;
        out = TVariant::FromR4(static_cast<float>(value));
        return S_OK;
    }
    case VT_R8: out = TVariant::FromR8(ToReal(n)); return S_OK;
    case VT_DATE: {
        const double value = ToReal(n);
        if (!IsValidVariantDate(value))
            return DISP_E_OVERFLOW;
        out = TVariant::FromDate(value);
        return S_OK;
    }
    case VT_CY: {
        std::int64_t value = 0;
        const HRESULT hr = ToCurrency(n, value);
        if (SUCCEEDED(hr))
            out = TVariant::FromCY(value);
        return hr;
    }
    case VT_BOOL: out = TVariant::FromBool(ToBool(n)); return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ConvertScalar(const TVariant &value, VARTYPE target, TVariant &out, const QLocale &locale)
{
    const VARTYPE source = value.Type();
    if (source == target) {
        out = value;
        return S_OK;
    }
    if (target == VT_EMPTY) {
        out = TVariant();
        return S_OK;
    }
    if (target == VT_NULL) {
        out = TVariant::Null();
        return S_OK;
    }
    if (source == VT_NULL)
        return DISP_E_TYPEMISMATCH;
    if (target == VT_BSTR) {
        out = TVariant::FromString(value.ToString(locale));
        return S_OK;
    }
    // A status code is a 32-bit pattern, not an amount: it only trades places with those.
    if (source == VT_ERROR) {
        if (target == VT_I4)
            out = TVariant::FromI4(value.AsError());
        else if (target == VT_UI4)
            out = TVariant::FromUI4(static_cast<std::uint32_t>(value.AsError()));
        else
            return DISP_E_TYPEMISMATCH;
        return S_OK;
    }
    if (target == VT_ERROR) {
        if (source == VT_I4)
            out = TVariant::FromError(static_cast<SCODE>(value.AsInt64()));
        else if (source == VT_UI4)
            out = TVariant::FromError(static_cast<SCODE>(value.AsUInt64()));
        else
            return DISP_E_TYPEMISMATCH;
        return S_OK;
    }
    if (source == VT_BSTR && target == VT_DATE) {
        const std::optional<TDateTime> date = ParseDate(value.AsString(), locale);
        if (!date)
            return DISP_E_TYPEMISMATCH;
        if (!IsValidVariantDate(*date))
            return DISP_E_OVERFLOW;
        out = TVariant::FromDate(*date);
        return S_OK;
    }
    if (source == VT_BSTR && target == VT_BOOL) {
        const QString text = value.AsString().trimmed();
        if (text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) {
            out = TVariant::FromBool(true);
            return S_OK;
        }
        if (text.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) {
            out = TVariant::FromBool(false);
            return S_OK;
        }
    }
    // true is all bits set, which an unsigned type can only hold as its maximum.
    if (source == VT_BOOL && IsUnsignedType(target)) {
        out = UnsignedVariant(target, value.AsBool() ? UnsignedMax(target) : 0);
        return S_OK;
    }
    TNumber n;
    const HRESULT hr = SourceNumber(value, locale, n);
    if (FAILED(hr))
        return hr;
    return NumericResult(n, target, out);
}

HRESULT Convert(const TVariant &value, VARTYPE target, TVariant &out, const QLocale &locale)
{
    if (!IsValidTarget(target))
        return DISP_E_BADVARTYPE;
    const bool targetIsArray = (target & VT_ARRAY) != 0;
    if (value.IsArray() != targetIsArray)
        return DISP_E_TYPEMISMATCH;
    if (!targetIsArray)
        return ConvertScalar(value, target, out, locale);
    if (value.Type() == target) {
        out = value;
        return S_OK;
    }
    const VARTYPE elementType = VARTYPE(target & ~VT_ARRAY);
    std::vector<TVariant> elements;
    elements.reserve(value.Elements().size());
    for (const TVariant &element : value.Elements()) {
        if (elementType == VT_VARIANT) {
            elements.push_back(element);
            continue;
        }
        TVariant converted;
        const HRESULT hr = Convert(element, elementType, converted, locale);
        if (FAILED(hr))
            return hr;
        elements.push_back(std::move(converted));
    }
    out = TVariant::FromArray(elementType, std::move(elements));
    return S_OK;
}

} // namespace

TVariant TVariant::FromArray(VARTYPE elementType, std::vector<TVariant> elements)
{
    const QString where = QStringLiteral("TVariant.FromArray");
    if (!IsValidElementType(elementType))
        RaiseInternalError(where, QStringLiteral("Ungültiger Elementtyp %1").arg(elementType));
    if (elementType != VT_VARIANT) {
        for (TVariant &element : elements) {
            if (element.Type() == elementType)
                continue;
            TVariant converted;
            if (FAILED(element.ChangeType(elementType, converted)))
                RaiseInternalError(where, QStringLiteral("Element vom Typ %1 passt nicht zum "
                                                         "Elementtyp %2")
                                              .arg(element.Type())
                                              .arg(elementType));
            element = std::move(converted);
        }
    }
    return {VARTYPE(VT_ARRAY | elementType),
            std::make_shared<const std::vector<TVariant>>(std::move(elements))};
}

HRESULT TVariant::ChangeType(VARTYPE target, TVariant &out, const QLocale &locale) const
{
    // Into a local first: out may be this variant, and stays untouched on failure.
    TVariant result;
    const HRESULT hr = Convert(*this, target, result, locale);
    if (SUCCEEDED(hr))
        out = std::move(result);
    return hr;
}

double TVariant::ToDouble(bool *ok) const
{
    TVariant converted;
    const bool done = SUCCEEDED(ChangeType(VT_R8, converted));
    if (ok)
        *ok = done;
    return done ? converted.AsDouble() : 0.0;
}

std::int64_t TVariant::ToInt64(bool *ok) const
{
    TVariant converted;
    const bool done = SUCCEEDED(ChangeType(VT_I8, converted));
    if (ok)
        *ok = done;
    return done ? converted.AsInt64() : 0;
}
