// Texts of OPC qualities and server states as the user sees them.
#pragma once

#include "platform/com/ComBase.h"
#include "platform/system/Exception.h"

#include <QString>

// A value that cannot be converted into the requested form.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// Quality words: only the low byte counts; bits 7..6 are the quality, bits 5..2 the substatus,
// the limit bits 1..0 are ignored.
QString OPCQualityText(WORD quality);
QString OPCSubStatusText(WORD quality);

// The server state of the OPC server status (1 to 5); EConvertError for any other value.
QString OPCServerStateText(DWORD state);
