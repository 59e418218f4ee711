// TVariant: a value tagged with its OLE variant type code, as OPC servers deliver values.
#pragma once

#include "platform/system/DateTime.h"

#include <QString>
#include <cstdint>
#include <variant>

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

    VARTYPE Type() const { return m_Type; }
    bool IsEmpty() const { return m_Type == VT_EMPTY; }
    bool IsNull() const { return m_Type == VT_NULL; }

    // The stored value by its kind; each is meaningful only for the matching types.
    bool AsBool() const;
    std::int64_t AsInt64() const;   // VT_I1, VT_I2, VT_I4, VT_I8
    std::uint64_t AsUInt64() const; // VT_UI1, VT_UI2, VT_UI4, VT_UI8
    double AsDouble() const;        // VT_R4, VT_R8, VT_DATE
    QString AsString() const;       // VT_BSTR

    // Text in the current locale: numbers without group separators, floats with up to
    // 15 significant digits (R4 with 7), dates in the locale's short date and hh:mm:ss,
    // booleans "True"/"False", empty and null as "".
    QString ToString() const;

    // Equal when type and value are equal; text compares exactly.
    friend bool operator==(const TVariant &a, const TVariant &b);

private:
    using Storage =
        std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, QString>;
    // Built from the alternative itself rather than from a moved Storage, which GCC 12 with
    // sanitizers misreports as maybe-uninitialized.
    template <typename T> TVariant(VARTYPE type, T value) : m_Type(type), m_Value(std::move(value))
    {
    }

    VARTYPE m_Type = VT_EMPTY;
    Storage m_Value;
};
