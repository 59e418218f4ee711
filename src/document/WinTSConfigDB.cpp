// Building a document from a configuration database in the WIN_TS format.
#include "document/xTDWDocument.h"

#include "acquisition/ExceptionText.h"
#include "acquisition/xOPCClientBridge.h"
#include "database/xADOBridge.h"
#include "eventlog/xEventLog.h"
#include "platform/ado/Ado.h"

#include <cmath>
#include <map>
#include <optional>

namespace {

const QString Where = QStringLiteral("LoadFromWinTSConfigDB");

class TParameters
{
public:
    TParameters(TADOConnection &connection, const QString &table)
        : m_Connection(connection), m_Table(table)
    {
    }

    // The value of the first row, Null when the row holds NULL; nothing without a row.
    void Read(int id, bool required)
    {
        const QString statement =
            QStringLiteral("SELECT ID, Value FROM \"%1\" WHERE (KanalID = 0) AND (ID = %2)")
                .arg(m_Table)
                .arg(id);
        TADORecordset recordset;
        try {
            recordset.Open(statement, &m_Connection, adOpenUnspecified, adLockReadOnly, adCmdText);
        } catch (const Exception &e) {
            throw Exception(
                QStringLiteral("Beim Öffnen der Tabelle \"%1\" ist ein Fehler "
                               "aufgetreten. Meldung: %2; Verwendetes SQL-Statement: %3")
                    .arg(m_Table, e.Message(), statement));
        }
        std::optional<TVariant> value;
        if (!recordset.Eof())
            value = recordset.Fields(1);
        recordset.Close();
        // A required parameter holding NULL has no usable value either.
        if (required && (!value || value->IsNull() || value->IsEmpty()))
            throw Exception(
                QStringLiteral("In der Tabelle \"%1\" fehlt der erforderliche Parameter "
                               "mit der ID %2. Verwendetes SQL-Statement: %3")
                    .arg(m_Table)
                    .arg(id)
                    .arg(statement));
        if (value)
            m_Values[id] = *value;
    }

    bool IsNull(int id) const
    {
        const auto it = m_Values.find(id);
        return it == m_Values.end() || it->second.IsNull() || it->second.IsEmpty();
    }
    // NULL for a missing row, as the parameters without another default have it.
    TVariant Value(int id) const { return IsNull(id) ? TVariant::Null() : m_Values.at(id); }
    QString Text(int id) const { return IsNull(id) ? QString() : m_Values.at(id).ToString(); }
    bool Bool(int id, bool defaultValue) const
    {
        return Converted(id, VT_BOOL, defaultValue).AsBool();
    }
    double Number(int id, double defaultValue) const
    {
        return Converted(id, VT_R8, defaultValue).AsDouble();
    }

private:
    template <class T> TVariant Converted(int id, VARTYPE type, T defaultValue) const
    {
        if (IsNull(id)) {
            if constexpr (std::is_same_v<T, bool>)
                return TVariant::FromBool(defaultValue);
            else
                return TVariant::FromR8(defaultValue);
        }
        TVariant out;
        if (FAILED(m_Values.at(id).ChangeType(type, out)))
            throw Exception(QStringLiteral("Der Parameter mit der ID %1 in der Tabelle \"%2\" hat "
                                           "den ungültigen Wert \"%3\".")
                                .arg(id)
                                .arg(m_Table, m_Values.at(id).ToString()));
        return out;
    }

    TADOConnection &m_Connection;
    QString m_Table;
    std::map<int, TVariant> m_Values;
};

void OpenConnection(TADOConnection &connection, TWinTSConfigDBInfo &info,
                    const TEditConnectionStringHook &edit)
{
    try {
        connection.Open(info.ConnectionString, info.UserName, info.Password);
        return;
    } catch (const Exception &) {
        // the user may correct user name and password once
    }
    if (edit)
        edit(info.ConnectionString, info.UserName, info.Password);
    try {
        connection.Open(info.ConnectionString, info.UserName, info.Password);
    } catch (const Exception &e) {
        throw Exception(QStringLiteral("Fehler beim Verbinden der Datenbank. Meldung: %1; "
                                       "Verwendeter connection string: %2")
                            .arg(e.Message(), info.ConnectionString));
    }
}

TEditConnectionStringHook &EditConnectionStringHookRef()
{
    static TEditConnectionStringHook hook;
    return hook;
}

} // namespace

void SetEditConnectionStringHook(TEditConnectionStringHook hook)
{
    EditConnectionStringHookRef() = std::move(hook);
}

void TTDWDocument::LoadFromWinTSConfigDB(const TWinTSConfigDBInfo &ADBInfo, TDataCache *dataCache)
{
    if (ADBInfo.ConnectionString.isEmpty())
        RaiseMissingParameter(Where, QStringLiteral("ADBConnectionString"));
    if (ADBInfo.ParameterTable.isEmpty() || ADBInfo.IODataTable.isEmpty() ||
        ADBInfo.KKSLookupTable.isEmpty())
        RaiseInternalError(Where,
                           QStringLiteral("Informationen können nicht aus der "
                                          "Konfigurationsdatenbank geladen werden. Mindestens "
                                          "ein erforderlicher Tabellenname wurde nicht "
                                          "angegeben."));
    TWinTSConfigDBInfo info = ADBInfo;
    TADOConnection connection;
    connection.ConnectionTimeout = 15;
    connection.CursorLocation = adUseServer;
    EventLogger().Log(
        etInformation, 5, this,
        QStringLiteral("Es wird versucht, die Konfigurationsdatenbank anzusprechen."));
    OpenConnection(connection, info, EditConnectionStringHookRef());
    EventLogger().Log(
        etInformation, 5, this,
        QStringLiteral("Die Verbindung zur Datenbank wurde erfolgreich hergestellt."));
    EventLogger().Log(
        etInformation, 5, this,
        QStringLiteral("Es wird versucht, die Tabelle \"%1\" zu öffnen.").arg(info.ParameterTable));

    TParameters parameters(connection, info.ParameterTable);
    for (int id : {19, 4, 10, 11, 12, 13, 14, 15, 16, 17})
        parameters.Read(id, id == 4 || id == 10);
    const bool useSubstitute = parameters.Bool(17, true);
    parameters.Read(18, useSubstitute);
    for (int id : {20, 21, 22, 23, 24})
        parameters.Read(id, id == 21);

    TRemoteServerInfo server;
    server.ComputerName = parameters.Text(20);
    server.ID = parameters.Text(21);
    auto opcBridge = std::make_unique<TOPCClientBridge>(server, dataCache);
    auto dbBridge = std::make_unique<TADOBridge>(
        QStringLiteral("Data Source=") + parameters.Text(4), QString(), QString(), dataCache);
    dbBridge->ForcedWriteInterval = std::uint32_t(std::llround(parameters.Number(16, 60) * 1000));

    const QString join =
        QStringLiteral(
            "SELECT pt.MachineID, pt.PointID, ks.KKS FROM (\"%1\" AS io INNER JOIN \"%2\" "
            "AS pt ON io.PointID = pt.PointID) INNER JOIN \"%3\" AS ks ON io.KKSID = "
            "ks.ID WHERE io.Enabled = TRUE ORDER BY MachineID")
            .arg(info.IODataTable, info.DBAPointTable, info.KKSLookupTable);
    TADORecordset points;
    try {
        points.Open(join, &connection, adOpenUnspecified, adLockReadOnly, adCmdText);
    } catch (const Exception &e) {
        throw Exception(
            QStringLiteral("Beim Versuch die Tabellen \"%1\", \"%2\" und \"%3\" zu "
                           "verknüpfen ist ein Fehler aufgetreten. Verwendetes "
                           "SQL-Statement: %4; Meldung: %5")
                .arg(info.IODataTable, info.DBAPointTable, info.KKSLookupTable, join, e.Message()));
    }

    // Counting a keyset is not possible on every driver, so the records are read instead.
    TOPCClientTransmitter *group = nullptr;
    TADOTableTransmitter *table = nullptr;
    const auto nullWarning = [&](const QString &attribute) {
        EventLogger().Log(etWarning, 2, this,
                          QStringLiteral("Dem Attribut \"%1\" wurde kein Wert zugewiesen (NULL). "
                                         "Datensatz wird ignoriert.")
                              .arg(attribute));
    };
    for (; !points.Eof(); points.MoveNext()) {
        if (!group) {
            group =
                TOPCClientTransmitter::Create(opcBridge.get(), QStringLiteral("CallbackGroup1"));
            group->UpdateRate = DWORD(parameters.Number(19, 1000));
        }
        const TVariant machine = points.Fields(0);
        if (machine.IsNull()) {
            EventLogger().Log(etWarning, 2, this,
                              QStringLiteral("In der Tabelle \"%1\" wurde ein Datensatz gefunden, "
                                             "dessen Attribut \"MachineID\" keinen Wert (NULL) "
                                             "enthält. Der Datensatz wird ignoriert.")
                                  .arg(info.IODataTable));
            continue;
        }
        const QString tableName = parameters.Text(10) + machine.ToString();
        if (!table || table->TableName.compare(tableName, Qt::CaseInsensitive) != 0) {
            table = dbBridge->AddTableTransmitter();
            table->TableName = tableName;
            if (!parameters.Text(11).isEmpty())
                table->StatusTableName = parameters.Text(11) + machine.ToString();
            table->SetTableType(parameters.Bool(15, true) ? tt_TableUpdate : tt_TableInsert);
            const struct
            {
                quint8 XORMask;
                int ID;
            } rules[] = {{0xC0, 22}, {0x40, 23}, {0x00, 24}};
            for (const auto &rule : rules)
                if (!parameters.IsNull(rule.ID))
                    table->QualityTranslation().AddRule(0xC0, rule.XORMask,
                                                        parameters.Value(rule.ID));
            if (!parameters.Text(13).isEmpty()) {
                auto *time = table->AddField<TTransmitTimeADOTableField>();
                time->Name = parameters.Text(13);
                if (!parameters.Text(14).isEmpty())
                    time->TimeFormat = parameters.Text(14);
            }
        }
        const TVariant point = points.Fields(1);
        if (point.IsNull()) {
            nullWarning(QStringLiteral("PointID"));
            continue;
        }
        const TVariant kks = points.Fields(2);
        if (kks.IsNull()) {
            nullWarning(QStringLiteral("KKS"));
            continue;
        }
        bool ok = false;
        const qint64 pointID = point.ToInt64(&ok);
        auto *field = table->AddField<TLinkedADOTableField>();
        field->Name = parameters.Text(12) + (ok ? QString::number(pointID) : point.ToString());
        field->Alias = kks.ToString();
        field->UseSubstituteValue = useSubstitute;
        field->SubstituteValue = parameters.Value(18);
        TOPCBridgedItem::Create(group, kks.ToString(), QString(), kks.ToString());
    }
    points.Close();
    connection.Close();

    SetDataBaseBridge(std::move(dbBridge));
    SetOPCBridge(std::move(opcBridge));
    ConfigDB = info;
}
