#include "settings/xCommon.h"

#include "platform/com/Guid.h"
#include "platform/system/Exception.h"
#include "platform/system/HostInfo.h"
#include "platform/system/Version.h"

#include <QFileInfo>
#include <QLocale>

#include <cmath>
#include <mutex>

// ---- TAppInfo
// ------------------------------------------------------------------------------------

TAppInfo::TAppInfo()
{
    CompanyName = QString::fromUtf8(TidewellVersion::CompanyName);
    FileDescription = QString::fromUtf8(TidewellVersion::FileDescription);
    FileVersion = QString::fromUtf8(TidewellVersion::FileVersion);
    InternalName = QString::fromUtf8(TidewellVersion::InternalName);
    OriginalFileName = QString::fromUtf8(TidewellVersion::OriginalFileName);
    ProductName = QString::fromUtf8(TidewellVersion::ProductName);
    ProductVersion = QString::fromUtf8(TidewellVersion::ProductVersion);
    Comments = QString::fromUtf8(TidewellVersion::Comments);
    LegalCopyright = QString::fromUtf8(TidewellVersion::LegalCopyright);
    LegalTrademarks = QString::fromUtf8(TidewellVersion::LegalTrademarks);
    MajorVersion = TidewellVersion::MajorVersion;
    MinorVersion = TidewellVersion::MinorVersion;
    Release = TidewellVersion::Release;
    Build = TidewellVersion::Build;

    ComputerName = HostComputerName();
    OSName = HostOSName();
    const QFileInfo exe(ExecutableFilePath());
    ExeName = exe.fileName();
    ExePath = exe.absolutePath();
    if (!ExePath.endsWith(u'/'))
        ExePath += u'/';

    RegistryKey = QStringLiteral("Software\\%1\\%2\\").arg(CompanyName, ProductName);
    DebugKey = RegistryKey + QStringLiteral("Debug\\");

    TRegistry registry(HKEY_LOCAL_MACHINE);
    DebugEnabled =
        registry.OpenKey(DebugKey, false) && registry.ReadBool("Enabled").value_or(false);
    Language = ReadInterfaceLanguage(ExePath + ExeName);
}

TAppInfo &AppInfo()
{
    static TAppInfo instance;
    return instance;
}

std::uint32_t SystemLanguageId()
{
    switch (QLocale::system().language()) {
    case QLocale::German: return LANG_GERMAN;
    case QLocale::C:
    case QLocale::English: return LANG_ENGLISH;
    case QLocale::Chinese: return 0x04;
    case QLocale::Czech: return 0x05;
    case QLocale::Danish: return 0x06;
    case QLocale::Spanish: return 0x0A;
    case QLocale::Finnish: return 0x0B;
    case QLocale::French: return 0x0C;
    case QLocale::Hungarian: return 0x0E;
    case QLocale::Italian: return 0x10;
    case QLocale::Japanese: return 0x11;
    case QLocale::Dutch: return 0x13;
    case QLocale::NorwegianBokmal: return 0x14;
    case QLocale::Polish: return 0x15;
    case QLocale::Portuguese: return 0x16;
    case QLocale::Russian: return 0x19;
    case QLocale::Swedish: return 0x1D;
    case QLocale::Turkish: return 0x1F;
    default: return 0; // neutral
    }
}

std::uint32_t ReadInterfaceLanguage(const QString &executableFilePath)
{
    TRegistry registry(HKEY_CURRENT_USER);
    if (registry.OpenKey(LocaleKey, false)) {
        const QString choice =
            registry.ReadString(executableFilePath).value_or(QString()).toUpper();
        if (choice == QLatin1String("DEU") || choice == QLatin1String("EXE"))
            return LANG_GERMAN;
        if (choice == QLatin1String("ENU"))
            return LANG_ENGLISH;
    }
    return SystemLanguageId();
}

// ---- TCommonApplicationConfiguration
// ----------------------------------------------------------------

TCommonApplicationConfiguration::TCommonApplicationConfiguration(HKEY rootKey,
                                                                 const QString &baseKey)
    : m_Registry(rootKey), m_BaseKey(baseKey.trimmed())
{
    if (m_BaseKey.isEmpty())
        m_BaseKey = AppInfo().RegistryKey;
    if (!m_BaseKey.endsWith(u'\\'))
        m_BaseKey += u'\\';
}

bool TCommonApplicationConfiguration::OpenSubKey(const QString &subKey, bool mayCreate)
{
    const QString path = NormalizeRegistryPath(m_BaseKey + subKey);
    if (m_Registry.HasCurrentKey() &&
        m_Registry.CurrentPath().compare(path, Qt::CaseInsensitive) == 0)
        return true;
    m_Registry.CloseKey();
    return m_Registry.OpenKey(path, mayCreate);
}

bool TCommonApplicationConfiguration::ReadBool(const QString &subKey, const QString &name,
                                               bool defaultValue)
{
    if (!OpenSubKey(subKey, false))
        return defaultValue;
    return m_Registry.ReadBool(name).value_or(defaultValue);
}

std::int32_t TCommonApplicationConfiguration::ReadInteger(const QString &subKey,
                                                          const QString &name,
                                                          std::int32_t defaultValue)
{
    if (!OpenSubKey(subKey, false))
        return defaultValue;
    return m_Registry.ReadInteger(name).value_or(defaultValue);
}

QString TCommonApplicationConfiguration::ReadString(const QString &subKey, const QString &name,
                                                    const QString &defaultValue)
{
    if (!OpenSubKey(subKey, false))
        return defaultValue;
    return m_Registry.ReadString(name).value_or(defaultValue);
}

bool TCommonApplicationConfiguration::WriteBool(const QString &subKey, const QString &name,
                                                bool value)
{
    return OpenSubKey(subKey, true) && m_Registry.WriteBool(name, value);
}

bool TCommonApplicationConfiguration::WriteInteger(const QString &subKey, const QString &name,
                                                   std::int32_t value)
{
    return OpenSubKey(subKey, true) && m_Registry.WriteInteger(name, value);
}

bool TCommonApplicationConfiguration::WriteString(const QString &subKey, const QString &name,
                                                  const QString &value)
{
    return OpenSubKey(subKey, true) && m_Registry.WriteString(name, value);
}

// ---- TConfiguration
// ----------------------------------------------------------------------------------

namespace {

std::mutex screenMutex;
TScreenSizeProvider screenSizeProvider;

const QString CommonKey = QStringLiteral("Common\\");
const QString StartupDocumentsKey = QStringLiteral("Common\\MRU_StartupDocuments\\");
const QString TimeStampFormatsKey = QStringLiteral("Common\\TimeStampFormats\\");
const QString ColumnSizesKey = QStringLiteral("Common\\MainForm\\CurrentDataColumnSizes");
const QString TargetDataBasesKey =
    QStringLiteral("Common\\BridgeConfigurationDlg\\MRU_TargetDataBase\\");
const QString CountValue = QStringLiteral("Count");

constexpr int DefaultWidth = 820;
constexpr int DefaultHeight = 566;
constexpr int MostRecentlyUsedLimit = 10;

const QStringList DefaultTimeStampFormats = {
    QStringLiteral("YYYY-MM-DD hh:mm:ss"), QStringLiteral("YY-MM-DD hh:mm:ss"),
    QStringLiteral("hh:mm:ss DD.MM.YYYY"), QStringLiteral("hh:mm:ss DD.MM.YY"),
    QStringLiteral("hh:mm:ss")};

// Centres a length in a screen length; halves round to even as the system's rounding does.
std::int32_t Centre(int screen, int length)
{
    return static_cast<std::int32_t>(std::nearbyint((screen - length) / 2.0));
}

bool FileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace

void SetScreenSizeProvider(TScreenSizeProvider provider)
{
    std::lock_guard guard(screenMutex);
    screenSizeProvider = std::move(provider);
}

TConfiguration::TConfiguration(HKEY rootKey, const QString &baseKey)
    : TCommonApplicationConfiguration(rootKey, baseKey)
{
    SetDefaults();
}

void TConfiguration::SetDefaults()
{
    DocumentToLoad.clear();
    LoadDocumentAtStartup = true;
    SaveDocumentNameAtShutdown = true;
    UseUserDefinedWindowCaption = false;
    UserDefinedWindowCaption = QStringLiteral("Tidewell");
    MainFormWidth = DefaultWidth;
    MainFormHeight = DefaultHeight;
    QSize screen;
    {
        std::lock_guard guard(screenMutex);
        if (screenSizeProvider)
            screen = screenSizeProvider();
    }
    MainFormLeft = screen.isValid() ? Centre(screen.width(), DefaultWidth) : 0;
    MainFormTop = screen.isValid() ? Centre(screen.height(), DefaultHeight) : 0;
    MainFormState = 0;
    TimeStampFormats.append(DefaultTimeStampFormats);
}

void TConfiguration::Load()
{
    LoadDocumentAtStartup = ReadBool(CommonKey, "LoadDocumentAtStartup", true);
    DocumentToLoad = ReadString(CommonKey, "DocumentToLoad", QString());
    SaveDocumentNameAtShutdown = ReadBool(CommonKey, "SaveDocumentNameAtShutdown", true);
    UseUserDefinedWindowCaption = ReadBool(CommonKey, "UseUserDefinedWindowCaption", false);
    UserDefinedWindowCaption =
        ReadString(CommonKey, "UserDefinedWindowCaption", QStringLiteral("Tidewell"));
    UserDefinedWindowErrorCaption =
        ReadString(CommonKey, "UserDefinedWindowErrorCaption", QStringLiteral("Tidewell (Error)"));
    MainFormLeft = ReadInteger(CommonKey, "MainFormLeft", MainFormLeft);
    MainFormTop = ReadInteger(CommonKey, "MainFormTop", MainFormTop);
    MainFormWidth = ReadInteger(CommonKey, "MainFormWidth", MainFormWidth);
    MainFormHeight = ReadInteger(CommonKey, "MainFormHeight", MainFormHeight);
    MainFormState = ReadInteger(CommonKey, "MainFormState", MainFormState);

    // The stored lists replace what is held, so loading twice does not double them.
    StartupDocuments.clear();
    const int documents = ReadInteger(StartupDocumentsKey, CountValue, 0);
    for (int i = 1; i <= documents; ++i) {
        const QString path = ReadString(StartupDocumentsKey, QStringLiteral("MRU_%1").arg(i), {});
        if (FileExists(path))
            StartupDocuments.append(path);
    }

    const int formats = ReadInteger(TimeStampFormatsKey, CountValue, 0);
    if (formats > 0)
        TimeStampFormats.clear();
    for (int i = 1; i <= formats; ++i) {
        const QString format =
            ReadString(TimeStampFormatsKey, QStringLiteral("Format_%1").arg(i), {});
        if (!format.isEmpty())
            TimeStampFormats.append(format);
    }

    for (int i = 0; i < ColumnSizeCount; ++i)
        ColumnSizes[i] = ReadInteger(ColumnSizesKey, QStringLiteral("Column%1").arg(i + 1), -1);

    TargetDataBases.clear();
    const int databases = ReadInteger(TargetDataBasesKey, CountValue, 0);
    for (int i = 1; i <= databases; ++i)
        TargetDataBases.append(
            ReadString(TargetDataBasesKey, QStringLiteral("ConnectionString%1").arg(i), {}));
}

void TConfiguration::Save()
{
    WriteBool(CommonKey, "LoadDocumentAtStartup", LoadDocumentAtStartup);
    WriteString(CommonKey, "DocumentToLoad", DocumentToLoad);
    WriteBool(CommonKey, "SaveDocumentNameAtShutdown", SaveDocumentNameAtShutdown);
    WriteBool(CommonKey, "UseUserDefinedWindowCaption", UseUserDefinedWindowCaption);
    WriteString(CommonKey, "UserDefinedWindowCaption", UserDefinedWindowCaption);
    WriteString(CommonKey, "UserDefinedWindowErrorCaption", UserDefinedWindowErrorCaption);
    WriteInteger(CommonKey, "MainFormLeft", MainFormLeft);
    WriteInteger(CommonKey, "MainFormTop", MainFormTop);
    WriteInteger(CommonKey, "MainFormWidth", MainFormWidth);
    WriteInteger(CommonKey, "MainFormHeight", MainFormHeight);
    WriteInteger(CommonKey, "MainFormState", MainFormState);

    const int documents =
        static_cast<int>(std::min<qsizetype>(StartupDocuments.size(), MostRecentlyUsedLimit));
    WriteInteger(StartupDocumentsKey, CountValue, documents);
    for (int i = 1; i <= documents; ++i) {
        const QString name = QStringLiteral("MRU_%1").arg(i);
        if (FileExists(StartupDocuments[i - 1])) {
            WriteString(StartupDocumentsKey, name, StartupDocuments[i - 1]);
        } else if (OpenSubKey(StartupDocumentsKey, false)) {
            // An older save's entry under this number would come back at the next load.
            m_Registry.DeleteValue(name);
        }
    }

    WriteInteger(TimeStampFormatsKey, CountValue,
                 static_cast<std::int32_t>(TimeStampFormats.size()));
    for (int i = 1; i <= TimeStampFormats.size(); ++i)
        WriteString(TimeStampFormatsKey, QStringLiteral("Format_%1").arg(i),
                    TimeStampFormats[i - 1]);

    for (int i = 0; i < ColumnSizeCount; ++i)
        WriteInteger(ColumnSizesKey, QStringLiteral("Column%1").arg(i + 1), ColumnSizes[i]);

    const int databases =
        static_cast<int>(std::min<qsizetype>(TargetDataBases.size(), MostRecentlyUsedLimit));
    WriteInteger(TargetDataBasesKey, CountValue, databases);
    for (int i = 1; i <= databases; ++i)
        WriteString(TargetDataBasesKey, QStringLiteral("ConnectionString%1").arg(i),
                    TargetDataBases[i - 1]);
}

std::int32_t TConfiguration::ColumnSize(int index) const
{
    if (index < 0 || index >= ColumnSizeCount)
        throw EListError(index);
    return ColumnSizes[static_cast<std::size_t>(index)];
}

void TConfiguration::SetColumnSize(int index, std::int32_t value)
{
    if (index < 0 || index >= ColumnSizeCount)
        throw EListError(index);
    ColumnSizes[static_cast<std::size_t>(index)] = value;
}

// ---- the installation key
// -------------------------------------------------------------------------

QString ChooseInstallationKey(const QString &executableFilePath)
{
    const QString installationsKey = AppInfo().RegistryKey;
    const QString executable =
        executableFilePath.isEmpty() ? AppInfo().ExePath + AppInfo().ExeName : executableFilePath;

    TRegistry registry(HKEY_LOCAL_MACHINE);
    QStringList stale;
    QString own;
    if (registry.OpenKey(installationsKey, false)) {
        struct Installation
        {
            QString Name;
            std::optional<QString> Path;
        };
        std::vector<Installation> installations;
        TRegistry reader(HKEY_LOCAL_MACHINE);
        for (const QString &name : registry.GetKeyNames()) {
            reader.OpenKey(installationsKey + name, false);
            installations.push_back({name, reader.ReadString("Path")});
        }
        for (const Installation &installation : installations) {
            if (installation.Path && FileExists(*installation.Path))
                continue;
            if (installation.Name.startsWith(u'{') && installation.Name.endsWith(u'}') &&
                StringToGUID(installation.Name))
                stale << installation.Name;
        }
        // Linux file names are case-sensitive, so the path comparison is exact.
        for (const Installation &installation : installations)
            if (installation.Path && *installation.Path == executable) {
                own = installation.Name;
                break;
            }
    }

    if (own.isEmpty() && stale.isEmpty()) {
        own = GUIDToString(CreateGUID());
        if (registry.OpenKey(installationsKey + own, true))
            registry.WriteString("Path", executable);
    } else if (own.isEmpty()) {
        own = stale.takeFirst();
    }
    for (const QString &name : stale)
        registry.DeleteKey(installationsKey + name);
    return own;
}

namespace {
std::unique_ptr<TConfiguration> &ConfigurationInstance()
{
    static std::unique_ptr<TConfiguration> instance;
    return instance;
}
} // namespace

TConfiguration &CreateConfiguration(const QString &executableFilePath)
{
    const QString guid = ChooseInstallationKey(executableFilePath);
    ConfigurationInstance() = std::make_unique<TConfiguration>(
        HKEY_LOCAL_MACHINE, AppInfo().RegistryKey + guid + QStringLiteral("\\"));
    return *ConfigurationInstance();
}

TConfiguration *Configuration()
{
    return ConfigurationInstance().get();
}

void FreeConfiguration()
{
    ConfigurationInstance().reset();
}
