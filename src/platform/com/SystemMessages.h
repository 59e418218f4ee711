// The system message table: the standard English texts of common HRESULTs and Win32 errors, as
// the system hands them out (insert sequences such as %1 untouched, trailing line break kept).
#pragma once

#include "platform/com/ComBase.h"

#include <QString>
#include <optional>

// The message for code: a plain Win32 error (0..0xFFFF) or a Win32 error wrapped as an HRESULT
// (0x8007xxxx) is looked up as that Win32 error, any other code as an HRESULT. nullopt when the
// table has no text for the code.
std::optional<QString> FormatSystemMessage(HRESULT code);
