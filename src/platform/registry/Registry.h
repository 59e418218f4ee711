// The registry: root keys holding a tree of keys with 32-bit integer and string values.
// Key paths and value names are compared without regard to case and keep the case they were
// created with. Each root lives in one text file under $TIDEWELL_REGISTRY_DIR (default
// $XDG_CONFIG_HOME/tidewell/, else ~/.config/tidewell/); every change re-reads the file, applies
// itself and replaces the file atomically under a file lock, so running copies never corrupt it
// and see each other's changes. A file that cannot be parsed is reported and left as it is:
// reads then find nothing and writes fail.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

enum class HKEY { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT };
using enum HKEY;

enum class TRegDataType { rdUnknown, rdString, rdInteger };

// Where corrupt files and failed writes are reported; the default writes a qWarning.
// The reporter may be called from any thread that uses the registry.
using TRegistryErrorReporter = std::function<void(const QString &message)>;
void SetRegistryErrorReporter(TRegistryErrorReporter reporter);

// A key path without leading, trailing and doubled backslashes.
QString NormalizeRegistryPath(const QString &path);

// The folder that holds the root files now (read from the environment at every call).
QString RegistryDirectory();

// An accessor with one open key, like a registry handle. Paths are absolute below the root,
// with backslashes: "Software\Kestrom Software GmbH\Tidewell". Leading, trailing and doubled
// backslashes are ignored.
class TRegistry
{
public:
    explicit TRegistry(HKEY root = HKEY_CURRENT_USER);

    HKEY RootKey() const { return m_Root; }

    // Opens key; with canCreate, creates it and its missing parents. False when it does not exist
    // (and may not be created) or the root's file is unusable.
    bool OpenKey(const QString &key, bool canCreate);
    bool OpenKeyReadOnly(const QString &key) { return OpenKey(key, false); }
    void CloseKey();
    bool HasCurrentKey() const { return m_HasKey; }
    // The open key's path as given to OpenKey, normalised; empty for the root and when none is
    // open.
    QString CurrentPath() const { return m_CurrentPath; }

    bool KeyExists(const QString &key) const;
    // Deletes key with all its sub keys and values.
    bool DeleteKey(const QString &key);
    bool CreateKey(const QString &key);

    // Of the open key: direct sub key names (in case-insensitive alphabetical order) and value
    // names (in the order they were created).
    QStringList GetKeyNames() const;
    QStringList GetValueNames() const;
    bool HasSubKeys() const { return !GetKeyNames().isEmpty(); }

    bool ValueExists(const QString &name) const;
    TRegDataType GetDataType(const QString &name) const;
    bool DeleteValue(const QString &name);

    // Nothing when no key is open, the value is missing or has another type.
    std::optional<std::int32_t> ReadInteger(const QString &name) const;
    std::optional<QString> ReadString(const QString &name) const;
    // An integer value, non-zero meaning true.
    std::optional<bool> ReadBool(const QString &name) const;

    // False when no key is open, the key was deleted meanwhile or the file cannot be written.
    bool WriteInteger(const QString &name, std::int32_t value);
    bool WriteString(const QString &name, const QString &value);
    bool WriteBool(const QString &name, bool value) { return WriteInteger(name, value ? 1 : 0); }

private:
    HKEY m_Root;
    QString m_CurrentPath;
    bool m_HasKey = false;
};
