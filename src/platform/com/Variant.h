// TVariant: a value tagged with its OLE variant type code, as OPC servers deliver values, and the
// conversions between the types that servers and clients ask of each other.
#pragma once

#include "platform/com/ComBase.h"
#include "platform/system/DateTime.h"

#include <QLocale>
#include <QString>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

using VARTYPE = std::uint16_t;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_CY = 6;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_ARRAY = 0x2000;

// A status code carried as a value (VT_ERROR).
using SCODE = HRESULT;
// VT_CY holds currency as a 64-bit integer scaled by this factor (four decimal places).
inline constexpr std::int64_t CurrencyScale = 10000;

// Whether a day-based value is a date of the years 100 to 9999, the range of VT_DATE. A negative
// date counts its time of day away from zero, so all of 0100-01-01 lies above the lower bound.
constexpr bool IsValidVariantDate(TDateTime value)
{
    return value > -657435.0 && value < 2958466.0; // false for NaN
}

class TVariant
{
public:
    TVariant() = default; // VT_EMPTY

    static TVariant Null();
    static TVariant FromBool(bool value);
    static TVariant FromI1(std::int8_t value);
    static TVariant FromI2(std::int16_t value);
    static TVariant FromI4(std::int32_t value);
    static TVariant FromI8(std::int64_t value);
    static TVariant FromUI1(std::uint8_t value);
    static TVariant FromUI2(std::uint16_t value);
    static TVariant FromUI4(std::uint32_t value);
    static TVariant FromUI8(std::uint64_t value);
    static TVariant FromR4(float value);
    static TVariant FromR8(double value);
    static TVariant FromDate(TDateTime value);
    static TVariant FromString(const QString &value);
    static TVariant FromError(SCODE value);
    // valueTimesScale is the amount multiplied by CurrencyScale: 12345 is 1.2345.
    static TVariant FromCY(std::int64_t valueTimesScale);
    // A one-dimensional array, type VT_ARRAY | elementType. elementType is a scalar type other
    // than VT_EMPTY and VT_NULL, or VT_VARIANT for elements of any type; elements of another
    // type are converted to it. An invalid element type or an element that cannot be converted
    // raises an internal error.
    static TVariant FromArray(VARTYPE elementType, std::vector<TVariant> elements);

    VARTYPE Type() const { return m_Type; }
    bool IsEmpty() const { return m_Type == VT_EMPTY; }
    bool IsNull() const { return m_Type == VT_NULL; }
    bool IsArray() const { return (m_Type & VT_ARRAY) != 0; }
    // The element type of an array, VT_EMPTY for a scalar.
    VARTYPE ElementType() const { return IsArray() ? VARTYPE(m_Type & ~VT_ARRAY) : VT_EMPTY; }

    // The stored value by its kind; each is meaningful only for the matching types.
    bool AsBool() const;
    std::int64_t AsInt64() const;   // VT_I1, VT_I2, VT_I4, VT_I8
    std::uint64_t AsUInt64() const; // VT_UI1, VT_UI2, VT_UI4, VT_UI8
    double AsDouble() const;        // VT_R4, VT_R8, VT_DATE
    QString AsString() const;       // VT_BSTR
    SCODE AsError() const;          // VT_ERROR
    std::int64_t AsCY() const;      // VT_CY, scaled by CurrencyScale
    // The elements of an array; empty for a scalar.
    const std::vector<TVariant> &Elements() const;

    // Text in the current locale: numbers without group separators, floats with up to
    // 15 significant digits (R4 with 7), currency with up to four decimals, dates in the
    // locale's short date and hh:mm:ss (a date out of range as a number), booleans
    // "True"/"False", status codes as "0x80004005", empty and null as "", arrays as their
    // elements' texts joined by "; ".
    QString ToString() const;
    // The same in the given locale.
    QString ToString(const QLocale &locale) const;

    // The value converted to another type, as VariantChangeType does it:
    // - S_OK and the converted value in out (out may be this variant itself; it keeps its
    //   value on failure);
    // - DISP_E_BADVARTYPE for a target that is no valid type;
    // - DISP_E_TYPEMISMATCH when no conversion exists: from VT_NULL, text that is no number or
    //   date, an array to a scalar or back, VT_ERROR to or from anything but VT_I4, VT_UI4 and
    //   (from it) VT_BSTR;
    // - DISP_E_OVERFLOW when the value does not fit the target.
    // Floats become integers by banker's rounding (2.5 -> 2, 3.5 -> 4). true is -1 for signed
    // and floating targets and all bits set for unsigned ones; any non-zero value is true.
    // Texts are parsed in locale first, then in the invariant C form (dates also as ISO 8601;
    // two-digit years 00..29 are 20xx, 30..99 19xx); texts made are those of ToString. Dates
    // lie between the years 100 and 9999. Any scalar may become VT_EMPTY or VT_NULL. Arrays
    // convert element by element.
    HRESULT ChangeType(VARTYPE target, TVariant &out, const QLocale &locale = QLocale()) const;

    // The value as a number; 0 and *ok false when ChangeType cannot make one.
    double ToDouble(bool *ok = nullptr) const;
    std::int64_t ToInt64(bool *ok = nullptr) const;

    // Equal when type and value are equal; text compares exactly, arrays element by element.
    friend bool operator==(const TVariant &a, const TVariant &b);

private:
    // Arrays are immutable once made, so copies share them.
    using Array = std::shared_ptr<const std::vector<TVariant>>;
    using Storage =
        std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, QString, Array>;
    // Built from the alternative itself rather than from a moved Storage, which GCC 12 with
    // sanitizers misreports as maybe-uninitialized.
    template <typename T> TVariant(VARTYPE type, T value) : m_Type(type), m_Value(std::move(value))
    {
    }

    VARTYPE m_Type = VT_EMPTY;
    Storage m_Value;
};
