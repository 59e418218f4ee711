// What the operating system tells about this computer and this executable.
#pragma once

#include <QString>

// The host name, or empty when it cannot be read.
QString HostComputerName();
// The distribution's name and the kernel, "Debian GNU/Linux 12 (bookworm), Linux 6.1.0"; "Unknown"
// when neither can be read.
QString HostOSName();
// The full path of the running executable (its long form; Linux has no short names).
QString ExecutableFilePath();
