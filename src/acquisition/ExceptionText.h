// The message of the exception being handled, for the catch blocks that log it.
#pragma once

#include <QString>

// Only inside a catch block.
QString CurrentExceptionText();
