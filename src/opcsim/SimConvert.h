// Value conversions of the simulation server: between the plant's numeric samples, the variants
// that clients send and ask for, and text in a client's locale. Private to the server.
#pragma once

#include "platform/com/ComBase.h"
#include "platform/com/Variant.h"

#include <QLocale>

// A scalar type the server can deliver: VT_BOOL, the integer types, VT_R4, VT_R8, VT_DATE, VT_BSTR.
bool IsScalarType(VARTYPE type);
// Whether values of the canonical type can be delivered as requested (VT_EMPTY: canonical).
bool CanConvert(VARTYPE canonical, VARTYPE requested);

// The locale behind a locale id: German and English ids map to those languages, the neutral
// and default ids to the process's locale, anything else to the C locale. Numbers are written
// without group separators; the conversions below expect such a locale.
QLocale LocaleOfLcid(LCID lcid);

// Rounds and clamps a generated number to what the canonical numeric type can hold, so that
// change detection sees exactly what clients see.
double Canonicalize(double value, VARTYPE canonical);

// A canonical numeric sample (booleans as 0 and 1) as a variant of the target type
// (VT_EMPTY: the canonical type). OPC_E_RANGE when it does not fit, OPC_E_BADTYPE for a target
// that a number cannot become.
HRESULT NumberToVariant(double value, VARTYPE canonical, VARTYPE target, const QLocale &locale,
                        TVariant &out);
// Any variant as a number of the canonical numeric type: OPC_E_BADTYPE when it is no number,
// OPC_E_RANGE when it does not fit.
HRESULT VariantToNumber(const TVariant &in, VARTYPE canonical, const QLocale &locale, double &out);
// Any scalar variant as text; OPC_E_BADTYPE for empty, null and arrays.
HRESULT VariantToText(const TVariant &in, const QLocale &locale, QString &out);
