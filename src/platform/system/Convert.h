// Text to number conversions with the rules and messages that documents and settings expect.
#pragma once

#include "platform/system/Exception.h"

#include <QString>
#include <cstdint>

// A text that is no number of the requested kind.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// Decimal with an optional sign, or hexadecimal after "$" or "0x"; blanks around the number are
// allowed. Raises EConvertError "'<text>' ist kein gültiger Integerwert" for anything else,
// including values outside the 32-bit range.
std::int32_t StrToInt(const QString &text);
