// What the program knows about itself (TAppInfo) and what it remembers between runs: the
// registry-backed settings of one installation (TConfiguration).
#pragma once

#include "platform/registry/Registry.h"
#include "platform/system/DateTime.h"
#include "platform/system/Exception.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

// Below HKEY_CURRENT_USER: one value per executable, named by its full path, choosing the
// interface language ("DEU" or "EXE" German, "ENU" English, absent: automatic).
inline const QString LocaleKey = QStringLiteral("Software\\Kestrom Software GmbH\\Locales");

inline constexpr std::uint32_t LANG_GERMAN = 7;
inline constexpr std::uint32_t LANG_ENGLISH = 9;

class TAppInfo
{
public:
    // Reads everything at once; DebugEnabled and Language come from the registry.
    TAppInfo();

    QString CompanyName, FileDescription, FileVersion, InternalName, OriginalFileName, ProductName,
        ProductVersion, Comments, LegalCopyright, LegalTrademarks;
    std::uint32_t MajorVersion = 0, MinorVersion = 0, Release = 0, Build = 0;
    std::uint32_t FileFlags = 0, FileOS = 0, FileType = 0;
    TDateTime FileDate = 0;
    QString ComputerName;
    QString OSName;
    std::uint32_t Language = 0;
    bool DebugEnabled = false;
    QString ExeName;     // file name of the executable
    QString ExePath;     // its directory, with a trailing separator
    QString RegistryKey; // "Software\Kestrom Software GmbH\Tidewell\"
    QString DebugKey;    // RegistryKey + "Debug\"
};

// The process-wide instance, created at the first call.
TAppInfo &AppInfo();

// The interface language for an executable: its value under LocaleKey, else the system's.
std::uint32_t ReadInterfaceLanguage(const QString &executableFilePath);
// The primary language id of the system locale (7 German, 9 English, ...).
std::uint32_t SystemLanguageId();

// Settings kept in the registry below one base key.
class TCommonApplicationConfiguration
{
public:
    // BaseKey is baseKey trimmed, or AppInfo().RegistryKey when that is empty; ends with "\".
    TCommonApplicationConfiguration(HKEY rootKey, const QString &baseKey);
    virtual ~TCommonApplicationConfiguration() = default;
    TCommonApplicationConfiguration(const TCommonApplicationConfiguration &) = delete;
    TCommonApplicationConfiguration &operator=(const TCommonApplicationConfiguration &) = delete;

    const QString &BaseKey() const { return m_BaseKey; }

    // Makes BaseKey + subKey the open key (not reopened when it already is).
    virtual bool OpenSubKey(const QString &subKey, bool mayCreate);
    virtual void Load() {}
    virtual void SetDefaults() {}
    virtual void Save() {}

    bool ReadBool(const QString &subKey, const QString &name, bool defaultValue);
    std::int32_t ReadInteger(const QString &subKey, const QString &name, std::int32_t defaultValue);
    QString ReadString(const QString &subKey, const QString &name, const QString &defaultValue);
    bool WriteBool(const QString &subKey, const QString &name, bool value);
    bool WriteInteger(const QString &subKey, const QString &name, std::int32_t value);
    bool WriteString(const QString &subKey, const QString &name, const QString &value);

protected:
    TRegistry m_Registry;

private:
    QString m_BaseKey;
};

// The size of the client area of a full-screen window on the primary monitor; the desktop
// program sets it before the settings are created. Without one the window defaults to 0, 0.
using TScreenSizeProvider = std::function<QSize()>;
void SetScreenSizeProvider(TScreenSizeProvider provider);

inline constexpr int ColumnSizeCount = 11;

class TConfiguration : public TCommonApplicationConfiguration
{
public:
    // Sets the defaults.
    TConfiguration(HKEY rootKey, const QString &baseKey);

    void Load() override;
    void SetDefaults() override;
    void Save() override;

    // An index outside 0..10 raises EListError.
    std::int32_t ColumnSize(int index) const;
    void SetColumnSize(int index, std::int32_t value);

    bool LoadDocumentAtStartup = true;
    QString DocumentToLoad;
    bool SaveDocumentNameAtShutdown = true;
    bool UseUserDefinedWindowCaption = false;
    QString UserDefinedWindowCaption;
    QString UserDefinedWindowErrorCaption;
    std::int32_t MainFormLeft = 0;
    std::int32_t MainFormTop = 0;
    std::int32_t MainFormWidth = 820;
    std::int32_t MainFormHeight = 566;
    std::int32_t MainFormState = 0; // 0 normal, 1 minimised, 2 maximised
    QStringList StartupDocuments;
    QStringList TimeStampFormats;
    std::array<std::int32_t, ColumnSizeCount> ColumnSizes{-1, -1, -1, -1, -1, -1,
                                                          -1, -1, -1, -1, -1};
    QStringList TargetDataBases;
};

// Picks this installation's key below AppInfo().RegistryKey for the executable at
// executableFilePath (default: the running one), reusing or deleting stale keys, and returns the
// key's GUID in registry form.
QString ChooseInstallationKey(const QString &executableFilePath = {});

// Creates the process-wide settings object on this installation's key, replacing any earlier one.
TConfiguration &CreateConfiguration(const QString &executableFilePath = {});
// The process-wide settings object, or null before CreateConfiguration.
TConfiguration *Configuration();
void FreeConfiguration();
