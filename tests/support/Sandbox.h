// Keeps a run's settings, registry and state away from the user's files.
#pragma once

#include <QString>
#include <QtGlobal>

// Points the registry and the XDG state and config folders below root.
inline void RedirectUserFolders(const QString &root)
{
    qputenv("TIDEWELL_REGISTRY_DIR", (root + QStringLiteral("/registry")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", (root + QStringLiteral("/state")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit());
}
