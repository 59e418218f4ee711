// The server's conversions on top of the variant's own: samples are kept as numbers of their
// canonical type, and conversion failures become the per-item OPC result codes.
#include "opcsim/SimConvert.h"

#include "platform/opcda/OpcDa.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace {

struct TRange
{
    double Min;
    double Max; // exclusive upper bound for the 64-bit types, inclusive otherwise
    bool Exclusive;
};

bool IsIntegerType(VARTYPE type)
{
    switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: return true;
    default: return false;
    }
}

TRange IntegerRange(VARTYPE type)
{
    switch (type) {
    case VT_I1: return {-128.0, 127.0, false};
    case VT_I2: return {-32768.0, 32767.0, false};
    case VT_I4: return {-2147483648.0, 2147483647.0, false};
    case VT_I8: return {-9223372036854775808.0, 9223372036854775808.0, true};
    case VT_UI1: return {0.0, 255.0, false};
    case VT_UI2: return {0.0, 65535.0, false};
    case VT_UI4: return {0.0, 4294967295.0, false};
    case VT_UI8: return {0.0, 18446744073709551616.0, true};
    default: return {0.0, 0.0, false};
    }
}

TVariant MakeInteger(double rounded, VARTYPE type)
{
    switch (type) {
    case VT_I1: return TVariant::FromI1(static_cast<std::int8_t>(rounded));
    case VT_I2: return TVariant::FromI2(static_cast<std::int16_t>(rounded));
    case VT_I4: return TVariant::FromI4(static_cast<std::int32_t>(rounded));
    case VT_I8: return TVariant::FromI8(static_cast<std::int64_t>(rounded));
    case VT_UI1: return TVariant::FromUI1(static_cast<std::uint8_t>(rounded));
    case VT_UI2: return TVariant::FromUI2(static_cast<std::uint16_t>(rounded));
    case VT_UI4: return TVariant::FromUI4(static_cast<std::uint32_t>(rounded));
    default: return TVariant::FromUI8(static_cast<std::uint64_t>(rounded));
    }
}

// A canonical sample as a variant of its own type.
TVariant CanonicalVariant(double value, VARTYPE canonical)
{
    switch (canonical) {
    case VT_BOOL: return TVariant::FromBool(value != 0.0);
    case VT_R4: return TVariant::FromR4(static_cast<float>(value));
    case VT_R8: return TVariant::FromR8(value);
    case VT_DATE: return TVariant::FromDate(value);
    default: return MakeInteger(value, canonical);
    }
}

// Conversion failures as a server reports them per item.
HRESULT ToOpcResult(HRESULT hr)
{
    if (SUCCEEDED(hr))
        return S_OK;
    return hr == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE;
}

} // namespace

bool IsScalarType(VARTYPE type)
{
    return type == VT_BOOL || type == VT_R4 || type == VT_R8 || type == VT_DATE ||
           type == VT_BSTR || IsIntegerType(type);
}

bool CanConvert(VARTYPE canonical, VARTYPE requested)
{
    if (requested == VT_EMPTY || requested == canonical)
        return true;
    if (!IsScalarType(requested))
        return false;
    // Texts of the simulation are words, never numbers.
    return canonical != VT_BSTR || requested == VT_BSTR;
}

QLocale LocaleOfLcid(LCID lcid)
{
    QLocale locale = QLocale::c();
    switch (lcid & 0x3FF) {
    case 0x00: locale = QLocale(); break; // neutral, system default (0x800), user default (0x400)
    case 0x07: locale = QLocale(QLocale::German, QLocale::Germany); break;
    case 0x09: locale = QLocale(QLocale::English, QLocale::UnitedStates); break;
    default: break;
    }
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

double Canonicalize(double value, VARTYPE canonical)
{
    if (canonical == VT_BOOL)
        return value != 0.0 ? 1.0 : 0.0;
    if (canonical == VT_R4)
        return static_cast<double>(
            static_cast<float>(std::clamp(value, -double(FLT_MAX), double(FLT_MAX))));
    if (IsIntegerType(canonical)) {
        const TRange range = IntegerRange(canonical);
        const double rounded = std::nearbyint(value);
        if (range.Exclusive && rounded >= range.Max)
            return std::nextafter(range.Max, 0.0);
        return std::clamp(rounded, range.Min, range.Max);
    }
    return value;
}

HRESULT NumberToVariant(double value, VARTYPE canonical, VARTYPE target, const QLocale &locale,
                        TVariant &out)
{
    // The hot path of every update cycle: delivering the canonical type needs no conversion.
    if (target == VT_EMPTY || target == canonical) {
        out = CanonicalVariant(value, canonical);
        return S_OK;
    }
    TVariant converted;
    const HRESULT hr = CanonicalVariant(value, canonical).ChangeType(target, converted, locale);
    out = SUCCEEDED(hr) ? std::move(converted) : TVariant();
    return ToOpcResult(hr);
}

HRESULT VariantToNumber(const TVariant &in, VARTYPE canonical, const QLocale &locale, double &out)
{
    out = 0.0;
    // An empty write is no value at all, although the variant rules would make it 0.
    if (!IsScalarType(canonical) || canonical == VT_BSTR || in.IsEmpty() || in.IsNull() ||
        in.IsArray())
        return OPC_E_BADTYPE;
    TVariant converted;
    const HRESULT hr = in.ChangeType(canonical, converted, locale);
    if (FAILED(hr))
        return ToOpcResult(hr);
    const double value =
        canonical == VT_BOOL ? (converted.AsBool() ? 1.0 : 0.0) : converted.ToDouble();
    if (std::isnan(value))
        return OPC_E_RANGE;
    out = value;
    return S_OK;
}

HRESULT VariantToText(const TVariant &in, const QLocale &locale, QString &out)
{
    out.clear();
    if (in.IsEmpty() || in.IsNull() || in.IsArray())
        return OPC_E_BADTYPE;
    TVariant text;
    const HRESULT hr = in.ChangeType(VT_BSTR, text, locale);
    if (FAILED(hr))
        return OPC_E_BADTYPE;
    out = text.AsString();
    return S_OK;
}
