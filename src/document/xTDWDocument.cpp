#include "document/xTDWDocument.h"

#include "acquisition/ExceptionText.h"
#include "acquisition/xOPCClientBridge.h"
#include "database/xADOBridge.h"
#include "document/IniFile.h"
#include "eventlog/xEventLog.h"
#include "platform/com/Guid.h"
#include "platform/crypto/CredentialCipher.h"
#include "platform/system/Convert.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

const QString CrLf = QStringLiteral("\r\n");
const QChar Tab = QLatin1Char('\t');

const QString SecVersionInfo = QStringLiteral("VersionInfo");
const QString SecConfigDataBase = QStringLiteral("ConfigDataBase");
const QString SecRemoteOPCServer = QStringLiteral("RemoteOPCServer");
const QString SecADOConnection = QStringLiteral("ADOConnection");
const QString KeyConnectionString = QStringLiteral("ConnectionString");
const QString KeyUserName = QStringLiteral("UserName");
const QString KeyPassword = QStringLiteral("Password");
const QString KeyTransmitterCount = QStringLiteral("TransmitterCount");
const QString ParamUserID = QStringLiteral("User ID");
const QString ParamPassword = QStringLiteral("Password");

const QString ConfigDBSeparator =
    QStringLiteral("//----------------------- The next lines will be ignored if the section "
                   "[ConfigDataBase] exists -----------------------//");

[[noreturn]] void Raise(const QString &message)
{
    throw Exception(message);
}

bool IsIgnoredLine(const QString &line)
{
    const QString trimmed = line.trimmed();
    return trimmed.isEmpty() || trimmed.startsWith(QLatin1String("//"));
}

// Item, rule and column values keep their TAB fields: only blanks around the value go.
QString TrimBlanks(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

void SplitEntry(const QString &line, QString &key, QString &value)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    key = equals < 0 ? QString() : line.left(equals).trimmed();
    value = equals < 0 ? QString() : TrimBlanks(line.mid(equals + 1));
}

std::int32_t ReadInteger(const TIniFile &ini, const QString &section, const QString &key,
                         std::int32_t defaultValue)
{
    const QString text = ini.ReadString(section, key);
    return text.isEmpty() ? defaultValue : StrToInt(text);
}

QString DecryptedOr(const TIniFile &ini, const QString &section, const QString &key,
                    const QString &fallback)
{
    const QString stored = ini.ReadString(section, key);
    return stored.isEmpty() ? fallback : DecryptCredential(stored);
}

// Moves "User ID" and "Password" out of a connection string.
void ExtractCredentials(QString &connectionString, QString &user, QString &password)
{
    if (ContainsConnectionParameter(ParamUserID, connectionString)) {
        user = ExtractConnectionParameter(ParamUserID, connectionString);
        DeleteConnectionParameter(ParamUserID, connectionString);
    }
    if (ContainsConnectionParameter(ParamPassword, connectionString)) {
        password = ExtractConnectionParameter(ParamPassword, connectionString);
        DeleteConnectionParameter(ParamPassword, connectionString);
    }
}

// The numbers n of the sections "<prefix><n>" up to count, in ascending order. Looking only at
// sections that exist keeps a huge count in a broken file from looping for hours.
std::vector<int> NumberedSections(const TIniFile &ini, const QString &prefix, int count)
{
    std::vector<int> numbers;
    const QRegularExpression pattern(QStringLiteral("^%1([1-9][0-9]{0,9})$").arg(prefix),
                                     QRegularExpression::CaseInsensitiveOption);
    for (const QString &name : ini.SectionNames()) {
        const auto match = pattern.match(name);
        bool ok = false;
        const qlonglong n = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
        if (ok && n <= count)
            numbers.push_back(int(n));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::unique_ptr<TOPCClientBridge> ReadAcquisitionPart(const TIniFile &ini, TDataCache *dataCache)
{
    TRemoteServerInfo info;
    info.ComputerName = ini.ReadString(SecRemoteOPCServer, QStringLiteral("ComputerName"));
    const QString guidText = ini.ReadString(SecRemoteOPCServer, QStringLiteral("GUID"));
    if (!guidText.isEmpty()) {
        const auto guid = StringToGUID(guidText);
        if (!guid)
            Raise(QStringLiteral("'%1' ist keine gültige GUID.").arg(guidText));
        info.GUID = *guid;
    }
    info.ID = ini.ReadString(SecRemoteOPCServer, QStringLiteral("ID"));
    info.Name = ini.ReadString(SecRemoteOPCServer, QStringLiteral("Name"));
    auto bridge = std::make_unique<TOPCClientBridge>(info, dataCache);

    const int count = ReadInteger(ini, SecRemoteOPCServer, KeyTransmitterCount, 0);
    for (int n : NumberedSections(ini, QStringLiteral("OPCTransmitter"), count)) {
        const QStringList &lines = ini.ReadSectionLines(QStringLiteral("OPCTransmitter%1").arg(n));
        if (std::all_of(lines.cbegin(), lines.cend(), IsIgnoredLine))
            continue;
        TOPCClientTransmitter *transmitter =
            TOPCClientTransmitter::Create(bridge.get(), QStringLiteral("CallbackGroup%1").arg(n));
        transmitter->UpdateRate = 1000;
        for (const QString &line : lines) {
            if (IsIgnoredLine(line))
                continue;
            QString key, value;
            SplitEntry(line, key, value);
            if (key.isEmpty())
                Raise(QStringLiteral("Fehler in \"%1\": Alias erwartet").arg(line));
            if (key == QLatin1String("UpdateRate")) {
                try {
                    transmitter->UpdateRate = DWORD(StrToInt(value));
                } catch (const EConvertError &e) {
                    Raise(QStringLiteral("Fehler in \"%1\": Ungültiger Wert für UpdateRate (%2)")
                              .arg(line, e.Message()));
                }
                continue;
            }
            const qsizetype firstTab = value.indexOf(Tab);
            const QString path = firstTab < 0 ? value : value.left(firstTab);
            const QString rest = firstTab < 0 ? QString() : value.mid(firstTab + 1);
            const QString itemID = rest.section(Tab, 0, 0);
            if (path.trimmed().isEmpty() && itemID.trimmed().isEmpty())
                Raise(
                    QStringLiteral("Fehler in \"%1\": Pfad oder ID muss angegeben sein").arg(line));
            TOPCBridgedItem::Create(transmitter, path.trimmed(), itemID.trimmed(), key);
        }
    }
    return bridge;
}

void ReadRules(const TIniFile &ini, const QString &section, TADOTableTransmitter &transmitter)
{
    for (const QString &line : ini.ReadSectionLines(section)) {
        if (IsIgnoredLine(line))
            continue;
        QString key, value;
        SplitEntry(line, key, value);
        if (key.left(4).compare(QLatin1String("Rule"), Qt::CaseInsensitive) != 0)
            Raise(QStringLiteral("Ungültiger Schlüssel %1 in Zeile %2 in Section [%3]")
                      .arg(key, line, section));
        try {
            const QStringList fields = value.split(Tab);
            const quint8 andMask = quint8(StrToInt(fields.value(0)) & 0xFF);
            const quint8 xorMask = quint8(StrToInt(fields.value(1)) & 0xFF);
            transmitter.QualityTranslation().AddRule(andMask, xorMask,
                                                     TVariant::FromString(fields.value(2)));
        } catch (const Exception &e) {
            Raise(QStringLiteral("Fehler in Zeile %1 in Section [%2]: %3")
                      .arg(line, section, e.Message()));
        }
    }
}

void ReadField(const QString &line, TADOTableTransmitter &transmitter)
{
    QString name, value;
    SplitEntry(line, name, value);
    if (name.isEmpty())
        Raise(QStringLiteral("Feldname erwartet"));
    const QStringList fields = value.split(Tab);
    const QString kind = fields.value(0).trimmed();
    const QString rest = value.section(Tab, 1);
    TADOTableField *field = nullptr;
    if (kind.compare(QLatin1String("DATA"), Qt::CaseInsensitive) == 0) {
        auto *linked = transmitter.AddField<TLinkedADOTableField>();
        linked->Alias = fields.value(1);
        if (fields.size() > 2) {
            linked->UseSubstituteValue = true;
            linked->SubstituteValue = TVariant::FromString(fields.value(2));
        }
        field = linked;
    } else if (kind.compare(QLatin1String("XTIME"), Qt::CaseInsensitive) == 0) {
        auto *time = transmitter.AddField<TTransmitTimeADOTableField>();
        time->TimeFormat = fields.value(1);
        time->UTC =
            fields.value(2).trimmed().compare(QLatin1String("UTC"), Qt::CaseInsensitive) == 0;
        field = time;
    } else if (kind.compare(QLatin1String("CONST"), Qt::CaseInsensitive) == 0) {
        field = transmitter.AddField<TConstantADOTableField>();
        field->Value = TVariant::FromString(fields.value(1));
    } else if (kind.compare(QLatin1String("KEY"), Qt::CaseInsensitive) == 0) {
        field = transmitter.AddField<TKeyADOTableField>();
        field->Value = TVariant::FromString(rest);
    } else {
        Raise(QStringLiteral("Ungültiger Feldtyp %1").arg(kind));
    }
    field->Name = name;
}

std::unique_ptr<TADOBridge> ReadDatabasePart(const TIniFile &ini, TDataCache *dataCache)
{
    QString connectionString = ini.ReadString(SecADOConnection, KeyConnectionString);
    if (connectionString.isEmpty())
        Raise(QStringLiteral("Kein Connection-String angegeben in Section [ADOConnection]"));
    QString user, password;
    ExtractCredentials(connectionString, user, password);
    user = DecryptedOr(ini, SecADOConnection, KeyUserName, user);
    password = DecryptedOr(ini, SecADOConnection, KeyPassword, password);
    auto bridge = std::make_unique<TADOBridge>(connectionString, user, password, dataCache);
    bridge->ForcedWriteInterval = std::uint32_t(
        ReadInteger(ini, SecADOConnection, QStringLiteral("ForcedWriteInterval"), 15000));

    const int count = ReadInteger(ini, SecADOConnection, KeyTransmitterCount, 0);
    for (int n = 1; n <= count; ++n) {
        const QString config = QStringLiteral("ADOTransmitter%1 Config").arg(n);
        const QString table = ini.ReadString(config, QStringLiteral("Table"));
        if (table.isEmpty())
            Raise(QStringLiteral("Kein Tabellenname angegeben in Section [%1]").arg(config));
        TADOTableTransmitter *transmitter = bridge->AddTableTransmitter();
        transmitter->TableName = table;
        transmitter->StatusTableName = ini.ReadString(config, QStringLiteral("StatusTable"));
        const int type = ReadInteger(ini, config, QStringLiteral("TableType"), 0) & 0xFF;
        if (type > tt_None)
            Raise(
                QStringLiteral("Ungültiger Tabellentyp %1 in Section [%2]").arg(type).arg(config));
        transmitter->SetTableType(TTableType(type));

        ReadRules(ini, QStringLiteral("ADOTransmitter%1 QualityTranslation").arg(n), *transmitter);

        const QString fieldsSection = QStringLiteral("ADOTransmitter%1 Fields").arg(n);
        for (const QString &line : ini.ReadSectionLines(fieldsSection)) {
            if (IsIgnoredLine(line))
                continue;
            try {
                ReadField(line, *transmitter);
            } catch (const Exception &e) {
                Raise(QStringLiteral("Fehler in Zeile %1 in Section [%2]: %3")
                          .arg(line, fieldsSection, e.Message()));
            }
        }
    }
    return bridge;
}

void WriteAcquisitionPart(QStringList &out, const TOPCClientBridge &bridge)
{
    const TRemoteServerInfo &info = bridge.OPCDAClient().ServerInfo;
    out << QStringLiteral("[RemoteOPCServer]")
        << QStringLiteral("ComputerName=") + info.ComputerName
        << QStringLiteral("GUID=") + GUIDToString(info.GUID) << QStringLiteral("ID=") + info.ID
        << QStringLiteral("Name=") + info.Name
        << QStringLiteral("TransmitterCount=%1").arg(bridge.TransmitterCount());
    for (int n = 1; n <= bridge.TransmitterCount(); ++n) {
        const TOPCClientTransmitter &transmitter = *bridge.Transmitters(n - 1);
        out << QString() << QStringLiteral("[OPCTransmitter%1]").arg(n)
            << QStringLiteral("UpdateRate=%1").arg(transmitter.UpdateRate)
            << QStringLiteral("//Item-Format: Alias=Path<TAB>ID");
        for (int i = 0; i < transmitter.ItemCount(); ++i) {
            const TOPCBridgedItem &item = *transmitter.Items(i);
            out << item.Alias + QLatin1Char('=') + item.Path + Tab + item.ItemID;
        }
    }
    out << QString();
}

QString HexByte(quint8 value)
{
    return QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString FieldLine(const TADOTableField &field)
{
    QString value;
    if (auto *linked = dynamic_cast<const TLinkedADOTableField *>(&field)) {
        value = QStringLiteral("DATA") + Tab + linked->Alias;
        if (linked->UseSubstituteValue)
            value += Tab + linked->SubstituteValue.ToString();
    } else if (auto *time = dynamic_cast<const TTransmitTimeADOTableField *>(&field)) {
        value = QStringLiteral("XTIME") + Tab + time->TimeFormat;
        if (time->UTC)
            value += Tab + QStringLiteral("UTC");
    } else if (dynamic_cast<const TKeyADOTableField *>(&field)) {
        value = QStringLiteral("KEY") + Tab + field.Value.ToString();
    } else {
        value = QStringLiteral("CONST") + Tab + field.Value.ToString();
    }
    return field.Name + QLatin1Char('=') + value;
}

void WriteDatabasePart(QStringList &out, const TADOBridge &bridge)
{
    const TDataBaseController &controller = bridge.DataBaseController();
    out << QStringLiteral("[ADOConnection]")
        << QStringLiteral("ConnectionString=") + controller.ConnectionString()
        << QStringLiteral("UserName=") + EncryptCredential(controller.UserID())
        << QStringLiteral("Password=") + EncryptCredential(controller.Password())
        << QStringLiteral("ForcedWriteInterval=%1").arg(bridge.ForcedWriteInterval)
        << QStringLiteral("TransmitterCount=%1").arg(bridge.TransmitterCount());
    for (int n = 1; n <= bridge.TransmitterCount(); ++n) {
        const auto *transmitter =
            dynamic_cast<const TADOTableTransmitter *>(bridge.Transmitters(n - 1));
        out << QString() << QStringLiteral("[ADOTransmitter%1 Config]").arg(n);
        if (!transmitter)
            continue;
        out << QStringLiteral("Table=") + transmitter->TableName
            << QStringLiteral("StatusTable=") + transmitter->StatusTableName
            << QStringLiteral("TableType=%1").arg(int(transmitter->TableType())) << QString();
        const TOPCQualityTranslationTable &rules = transmitter->QualityTranslation();
        if (rules.Count() > 0) {
            out << QStringLiteral("[ADOTransmitter%1 QualityTranslation]").arg(n)
                << QStringLiteral(
                       "//Format: Rule<#>=$<ANDMask><TAB>$<XORMask><TAB><Substitue Value>");
            for (int k = 0; k < rules.Count(); ++k) {
                const TOPCQualityTranslationItem &rule = *rules.Items(k);
                out << QStringLiteral("Rule%1=$%2\t$%3\t%4")
                           .arg(k + 1)
                           .arg(HexByte(rule.ANDMask), HexByte(rule.XORMask),
                                rule.SubstituteValue.ToString());
            }
            out << QString();
        }
        if (transmitter->FieldCount() > 0) {
            out << QStringLiteral("[ADOTransmitter%1 Fields]").arg(n)
                << QStringLiteral("//Format for data values: "
                                  "<Fieldname>=DATA<TAB><Alias><TAB><Substitute Value>")
                << QStringLiteral("//Format for transmission timestamp values: "
                                  "<Fieldname>=XTIME<TAB><Format><TAB>[UTC]")
                << QStringLiteral("//Format for constant values: <Fieldname>=CONST<TAB><Value>");
            for (int i = 0; i < transmitter->FieldCount(); ++i)
                out << FieldLine(*transmitter->Fields(i));
            out << QString();
        }
    }
}

} // namespace

TWinTSConfigDBInfo DefaultWinTSConfigDBInfo()
{
    TWinTSConfigDBInfo info;
    info.ParameterTable = QStringLiteral("Tab Viper#Parameter");
    info.IODataTable = QStringLiteral("Tab Viper#IO_Data2VM600");
    info.KKSLookupTable = QStringLiteral("Tab KKS");
    info.DBAPointTable = QStringLiteral("Tab Viper#DBA_POINT");
    return info;
}

TTDWDocument::TTDWDocument()
{
    Clear();
}

TTDWDocument::~TTDWDocument()
{
    try {
        Clear();
    } catch (...) {
        // a destructor must not throw; Clear logs what it can
    }
}

void TTDWDocument::CloseDocument()
{
    if (m_OPCBridge) {
        try {
            m_OPCBridge->Disconnect();
        } catch (...) {
            EventLogger().Log(etError, 1, this, CurrentExceptionText());
        }
    }
    if (m_DataBaseBridge) {
        try {
            m_DataBaseBridge->Disconnect();
        } catch (...) {
            EventLogger().Log(etError, 1, this, CurrentExceptionText());
        }
    }
    EventLogger().Log(etInformation, 5, nullptr, QStringLiteral("Das Dokument wurde geschlossen"));
    ConfigDBLink = 0;
}

void TTDWDocument::Clear()
{
    CloseDocument();
    try {
        m_OPCBridge.reset();
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
    try {
        m_DataBaseBridge.reset();
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
    m_FileName.clear();
    m_IsUntitled = true;
    m_Modified = false;
}

void TTDWDocument::SetOPCBridge(std::unique_ptr<TOPCClientBridge> bridge)
{
    m_OPCBridge = std::move(bridge);
    m_Modified = true;
}

void TTDWDocument::SetDataBaseBridge(std::unique_ptr<TADOBridge> bridge)
{
    m_DataBaseBridge = std::move(bridge);
    m_Modified = true;
}

void TTDWDocument::SetModified(bool modified)
{
    m_Modified = modified;
    if (modified && ConfigDBLink == 1)
        ConfigDBLink = 2;
}

void TTDWDocument::LoadFromFile(const QString &path, TDataCache *dataCache)
{
    if (!QFileInfo(path).isFile())
        Raise(QStringLiteral("Datei nicht gefunden."));
    const TIniFile ini = TIniFile::FromFile(path);

    const int version = ReadInteger(ini, SecVersionInfo, QStringLiteral("FileVersion"), 0);
    // Versions above ours come from a newer writer whose additions we would silently drop.
    if (version < 0 || version > FileVersion)
        Raise(QStringLiteral("Beim Öffnen der Datei \"%1\" ist ein Fehler aufgetreten.\r\n"
                             "Die Dateiversion ist nicht kompatibel.")
                  .arg(QFileInfo(path).fileName()));

    const bool fromConfigDB = ini.SectionExists(SecConfigDataBase);
    if (fromConfigDB) {
        EventLogger().Log(
            etInformation, 3, this,
            QStringLiteral(
                "In der Datei wurden Angaben zu einer Konfigurationsdatenbank gefunden. "
                "Es wird versucht die Konfiguration aus der Datenbank zu laden. Der Rest "
                "der Datei wird ignoriert."));
        const QString format = ini.ReadString(SecConfigDataBase, QStringLiteral("DataBaseFormat"),
                                              QStringLiteral("WIN_TS"));
        // Loading nothing and then rewriting the file would replace it with an empty configuration.
        if (format != QLatin1String("WIN_TS"))
            Raise(QStringLiteral("Das Format \"%1\" der Konfigurationsdatenbank wird nicht "
                                 "unterstützt. Die Datei wurde nicht verändert.")
                      .arg(format));
        ReadConfigDataBaseSection(ini, dataCache);
        ConfigDBLink = 1;
    } else {
        auto opcBridge = ReadAcquisitionPart(ini, dataCache);
        auto dbBridge = ReadDatabasePart(ini, dataCache);
        SetOPCBridge(std::move(opcBridge));
        SetDataBaseBridge(std::move(dbBridge));
        ConfigDBLink = 0;
    }
    m_FileName = path;
    m_Modified = false;
    m_IsUntitled = false;
    if (fromConfigDB)
        SaveToFile(path);
}

void TTDWDocument::ReadConfigDataBaseSection(const TIniFile &ini, TDataCache *dataCache)
{
    const QString version =
        ini.ReadString(SecConfigDataBase, QStringLiteral("FormatVersion"), QStringLiteral("10"));
    if (version != QLatin1String("10"))
        Raise(
            QStringLiteral("Die Version \"%1\" des Formats der Konfigurationsdatenbank wird nicht "
                           "unterstützt. Die Datei wurde nicht verändert.")
                .arg(version));
    TWinTSConfigDBInfo info = DefaultWinTSConfigDBInfo();
    info.ConnectionString = ini.ReadString(SecConfigDataBase, KeyConnectionString);
    if (info.ConnectionString.isEmpty())
        Raise(QStringLiteral("Fehler in Section [%1]. Der Wert \"%2\" ist nicht vorhanden.")
                  .arg(SecConfigDataBase, KeyConnectionString));
    ExtractCredentials(info.ConnectionString, info.UserName, info.Password);
    info.UserName = DecryptedOr(ini, SecConfigDataBase, KeyUserName, info.UserName);
    info.Password = DecryptedOr(ini, SecConfigDataBase, KeyPassword, info.Password);
    const auto table = [&](const QString &key, QString &name) {
        const QString value = ini.ReadString(SecConfigDataBase, key);
        if (!value.isEmpty())
            name = value;
    };
    table(QStringLiteral("ParameterTable"), info.ParameterTable);
    table(QStringLiteral("IODataTable"), info.IODataTable);
    table(QStringLiteral("KKSLookupTable"), info.KKSLookupTable);
    table(QStringLiteral("DBAPointTable"), info.DBAPointTable);
    LoadFromWinTSConfigDB(info, dataCache);
}

QString TTDWDocument::SaveToText() const
{
    QStringList out;
    out << QStringLiteral("[VersionInfo]") << QStringLiteral("FileVersion=%1").arg(FileVersion)
        << QString();
    if (ConfigDBLink != 0) {
        out << QStringLiteral("[ConfigDataBase]")
            << QStringLiteral("ConnectionString=") + ConfigDB.ConnectionString
            << QStringLiteral("UserName=") + EncryptCredential(ConfigDB.UserName)
            << QStringLiteral("Password=") + EncryptCredential(ConfigDB.Password)
            << QStringLiteral("DataBaseFormat=WIN_TS") << QStringLiteral("FormatVersion=10")
            << QStringLiteral("ParameterTable=") + ConfigDB.ParameterTable
            << QStringLiteral("IODataTable=") + ConfigDB.IODataTable
            << QStringLiteral("KKSLookupTable=") + ConfigDB.KKSLookupTable
            << QStringLiteral("DBAPointTable=") + ConfigDB.DBAPointTable << QString()
            << ConfigDBSeparator << QString();
    }
    if (m_OPCBridge)
        WriteAcquisitionPart(out, *m_OPCBridge);
    if (m_DataBaseBridge)
        WriteDatabasePart(out, *m_DataBaseBridge);
    return out.join(CrLf) + CrLf;
}

void TTDWDocument::SaveToFile(const QString &path)
{
    const QString target = path.isEmpty() ? m_FileName : path;
    WriteFileAtomically(target, EncodeDocumentText(SaveToText()));
    m_FileName = target;
    m_Modified = false;
    m_IsUntitled = false;
}
