// Windows-1252, the 8-bit text of files that move between Windows and Linux.
#pragma once

#include <QByteArray>
#include <QString>

// Characters that Windows-1252 cannot hold become '?'.
QByteArray EncodeWindows1252(const QString &text);
QString DecodeWindows1252(const QByteArray &bytes);
// Whether every character of text has a Windows-1252 code.
bool CanEncodeWindows1252(const QString &text);
