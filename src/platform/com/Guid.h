// GUIDs and their registry text form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#pragma once

#include <QString>
#include <QUuid>
#include <optional>

using GUID = QUuid;
using CLSID = GUID;
using IID = GUID;

// Upper-case registry form with braces.
QString GUIDToString(const GUID &guid);
// Accepts only the registry form (braces required, case ignored); nothing for any other text.
std::optional<GUID> StringToGUID(const QString &text);
// A new random GUID.
GUID CreateGUID();
