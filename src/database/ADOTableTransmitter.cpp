#include "database/ADOTableTransmitter.h"

#include "cache/xDataCache.h"
#include "database/ADOProgress.h"
#include "database/xADOBridge.h"
#include "eventlog/xEventLog.h"
#include "platform/system/TickCounter.h"

#include <QStringList>
#include <algorithm>
#include <limits>
#include <mutex>

namespace {

QString MessageOf(const std::exception &error)
{
    if (const auto *exception = dynamic_cast<const Exception *>(&error))
        return exception->Message();
    return QString::fromLocal8Bit(error.what());
}

bool SameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool HasColumn(TADOXCatalog &catalog, int tableIndex, const QString &name)
{
    for (const TADOXColumn &column : catalog.Columns(tableIndex))
        if (SameName(column.Name, name))
            return true;
    return false;
}

// Closes the recordset however reading it ends.
class TRecordsetCloser
{
public:
    explicit TRecordsetCloser(TADORecordset &recordset) : m_Recordset(recordset) {}
    ~TRecordsetCloser()
    {
        try {
            m_Recordset.Close();
        } catch (...) {
            // closing a broken recordset cannot be helped here
        }
    }
    TRecordsetCloser(const TRecordsetCloser &) = delete;
    TRecordsetCloser &operator=(const TRecordsetCloser &) = delete;

private:
    TADORecordset &m_Recordset;
};

} // namespace

// TADOTransmitter

TADOTransmitter::TADOTransmitter(TADOBridge *bridge) : m_Bridge(bridge)
{
    if (!bridge)
        RaiseMissingParameter(QStringLiteral("TADOTransmitter.Create"),
                              QStringLiteral("AADOBridge"));
}

TADOTransmitter::~TADOTransmitter() = default;

// TADOTableTransmitter

TADOTableTransmitter::TADOTableTransmitter(TADOBridge *bridge) : TADOTransmitter(bridge) {}

TADOTableTransmitter::~TADOTableTransmitter()
{
    m_ValueCommand.reset();
    m_StatusCommand.reset();
    for (auto &field : m_Fields)
        field.reset();
}

TADOTableField *TADOTableTransmitter::Fields(int index) const
{
    if (index < 0 || index >= FieldCount())
        throw EListError(index);
    return m_Fields[std::size_t(index)].get();
}

void TADOTableTransmitter::SetTableType(TTableType type)
{
    const QString where = QStringLiteral("TADOTableTransmitter.SetTableType");
    if (m_TableType != tt_None)
        RaiseInternalError(where, QStringLiteral("Die Eigenschaft TableType des Transmitters wurde "
                                                 "bereits gesetzt."));
    if (type == tt_None)
        RaiseInternalError(
            where,
            QStringLiteral("Die Eigenschaft TableType kann nicht auf tt_None gesetzt werden."));
    m_TableType = type;
}

void TADOTableTransmitter::LogEnabledChange(const QString &table, bool on)
{
    EventLogger().Log(etInformation, 3, this,
                      (on ? QStringLiteral("Die Tabelle \"%1\" wurde wieder aktiviert.")
                          : QStringLiteral("Die Tabelle \"%1\" wurde aus Sicherheitsgründen "
                                           "deaktiviert."))
                          .arg(table));
}

void TADOTableTransmitter::SetEnabled(bool on)
{
    if (on == m_Enabled)
        return;
    m_Enabled = on;
    LogEnabledChange(TableName, on);
}

void TADOTableTransmitter::SetStatusEnabled(bool on)
{
    if (on == m_StatusEnabled)
        return;
    m_StatusEnabled = on;
    LogEnabledChange(StatusTableName, on);
}

TADOCommand *TADOTableTransmitter::GetValueCommand()
{
    if (m_ValueCommand) {
        EventLogger().Log(etDebug, 3, nullptr,
                          QStringLiteral("ValueTable-Command wurde angefordert."));
    } else {
        EventLogger().Log(etDebug, 3, nullptr, QStringLiteral("ValueTable-Command wird erzeugt."));
        m_ValueCommand = BuildCommand(tsValue);
    }
    return m_ValueCommand.get();
}

TADOCommand *TADOTableTransmitter::GetStatusCommand()
{
    if (!m_StatusCommand)
        m_StatusCommand = BuildCommand(tsStatus);
    return m_StatusCommand.get();
}

std::unique_ptr<TADOCommand> TADOTableTransmitter::BuildCommand(TSide side)
{
    const bool status = side == tsStatus;
    const QString &table = status ? StatusTableName : TableName;
    auto command = std::make_unique<TADOCommand>();
    command->SetActiveConnection(Bridge()->DataBaseController().Connection());
    command->CommandType = adCmdText;
    EventLogger().Log(etDebug, 4, this,
                      QStringLiteral("ADO: Command für Tabelle \"%1\" wird erzeugt.").arg(table));

    auto known = [status](const TADOTableField &field) {
        return ((status ? field.StatusErrorFlags : field.ErrorFlags) & de_Unknown) == 0;
    };
    auto addParameter = [&](const TADOTableField &field) {
        command->CreateParameter(field.Name, status ? field.StatusDataType : field.DataType,
                                 adParamInput, status ? field.StatusSize : field.Size);
    };

    switch (m_TableType) {
    case tt_TableInsert: {
        QStringList columns;
        QStringList markers;
        for (const auto &field : m_Fields) {
            if (!known(*field))
                continue;
            columns << field->Name;
            markers << QStringLiteral("?");
            addParameter(*field);
        }
        // Only the value table's name is quoted.
        const QString head = status ? QStringLiteral("INSERT INTO %1").arg(table)
                                    : QStringLiteral("INSERT INTO \"%1\"").arg(table);
        command->SetCommandText(
            QStringLiteral("%1 (%2) VALUES (%3)")
                .arg(head, columns.join(QStringLiteral(", ")), markers.join(QStringLiteral(", "))));
        break;
    }
    case tt_TableUpdate: {
        QStringList assignments;
        for (const auto &field : m_Fields) {
            if (dynamic_cast<const TKeyADOTableField *>(field.get()) || !known(*field))
                continue;
            assignments << field->Name + QStringLiteral(" = ?");
            addParameter(*field);
        }
        QString text =
            QStringLiteral("UPDATE %1 SET ").arg(table) + assignments.join(QStringLiteral(", "));
        if (HasFieldOfClass<TKeyADOTableField>()) {
            QStringList conditions;
            for (const auto &field : m_Fields) {
                if (!dynamic_cast<const TKeyADOTableField *>(field.get()) || !known(*field))
                    continue;
                conditions << field->Name + QStringLiteral(" = ?");
                addParameter(*field);
            }
            text += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
        }
        command->SetCommandText(text);
        break;
    }
    case tt_None:
        throw Exception(QStringLiteral("Es wurde kein Tabellentyp für die Tabelle \"%1\" angegeben")
                            .arg(table));
    }
    return command;
}

void TADOTableTransmitter::PrepareCommands()
{
    ReleaseCommands();
    if (m_Enabled)
        GetValueCommand();
    if (!StatusTableName.isEmpty() && m_StatusEnabled)
        GetStatusCommand();
}

void TADOTableTransmitter::ReleaseCommands()
{
    const auto release = [this](std::unique_ptr<TADOCommand> &command, const QString &table) {
        if (!command)
            return;
        command.reset();
        EventLogger().Log(
            etDebug, 4, this,
            QStringLiteral("ADO: Das Command-Objekt für die Tabelle \"%1\" wurde freigegeben.")
                .arg(table));
    };
    release(m_ValueCommand, TableName);
    release(m_StatusCommand, StatusTableName);
}

void TADOTableTransmitter::Close()
{
    ReleaseCommands();
}

QString TADOTableTransmitter::CountRowsStatement(TSide side, QChar quote) const
{
    const bool status = side == tsStatus;
    if (!HasFieldOfClass<TKeyADOTableField>())
        return status ? QStringLiteral("SELECT COUNT(*) FROM %1").arg(StatusTableName)
                      : QStringLiteral("SELECT COUNT(*) FROM \"%1\"").arg(TableName);
    QString condition;
    for (const auto &field : m_Fields) {
        if (!dynamic_cast<const TKeyADOTableField *>(field.get()))
            continue;
        QString value = field->Value.ToString();
        if (IsStringDataType(status ? field->StatusDataType : field->DataType)) {
            // Doubled inside the literal, so a key like O'Brien stays one value.
            value.replace(quote, QString(2, quote));
            value = quote + value + quote;
        }
        if (!condition.isEmpty())
            condition += QStringLiteral(" AND");
        condition += QStringLiteral(" (%1 = %2)").arg(field->Name, value);
    }
    return QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2")
        .arg(status ? StatusTableName : TableName, condition);
}

int TADOTableTransmitter::RunCount(const QString &statement)
{
    TADORecordset *recordset = Bridge()->Recordset();
    TADOConnection *connection = Bridge()->DataBaseController().Connection();
    if (!recordset || !connection)
        throw Exception(QStringLiteral("Es besteht keine Verbindung zur Datenbank"));
    if (recordset->State() != adStateClosed)
        recordset->Close();
    recordset->Open(statement, connection, adOpenUnspecified, adLockReadOnly, adCmdText);
    TRecordsetCloser closer(*recordset);
    bool ok = false;
    const std::int64_t count = recordset->Fields(0).ToInt64(&ok);
    if (!ok)
        throw Exception(QStringLiteral("Die Anzahl der Datensätze konnte nicht gelesen werden."));
    return int(std::clamp<std::int64_t>(count, 0, std::numeric_limits<int>::max()));
}

int TADOTableTransmitter::CountRows(TSide side)
{
    if (!HasFieldOfClass<TKeyADOTableField>())
        return RunCount(CountRowsStatement(side, Bridge()->QuoteChar()));
    try {
        return RunCount(CountRowsStatement(side, Bridge()->QuoteChar()));
    } catch (...) {
        // The other quote character may be the one this database takes for strings.
        Bridge()->SwapQuoteChars();
    }
    return RunCount(CountRowsStatement(side, Bridge()->QuoteChar()));
}

void TADOTableTransmitter::CheckRowCount(TSide side)
{
    const bool status = side == tsStatus;
    TDBErrorFlags &flags = status ? StatusErrorFlags : ErrorFlags;
    bool &multipleReported = status ? m_StatusMultipleRowsReported : m_MultipleRowsReported;
    const QString &table = status ? StatusTableName : TableName;
    int count = 0;
    try {
        count = CountRows(side);
    } catch (...) {
        return; // the write itself will tell
    }
    if (count == 1) {
        flags &= ~de_NoRowToUpdate;
        multipleReported = false;
    } else if (count == 0) {
        if (!(flags & de_NoRowToUpdate)) {
            EventLogger().Log(etError, 1, this,
                              QStringLiteral("Die Update-Tabelle \"%1\" enthält keine Datensätze. "
                                             "Schreibvorgänge in diese Tabelle können nicht "
                                             "durchgeführt werden.")
                                  .arg(table));
            flags |= de_NoRowToUpdate;
        }
    } else {
        flags &= ~de_NoRowToUpdate;
        if (!multipleReported) {
            EventLogger().Log(
                etWarning, 2, this,
                QStringLiteral("Die Update-Tabelle \"%1\" enthält mehr als einen zu "
                               "überschreibenen Datensatz. Schreibvorgänge werden zwar "
                               "durchgeführt, jedoch werden alle Datensätze überschrieben. Dies "
                               "kann beim Schreiben von Primärschlüsseln zu Fehlern führen.")
                    .arg(table));
            multipleReported = true;
        }
    }
}

void TADOTableTransmitter::WriteSide(TSide side)
{
    const bool status = side == tsStatus;
    TDBErrorFlags &flags = status ? StatusErrorFlags : ErrorFlags;
    const QString &table = status ? StatusTableName : TableName;
    TADOCommand *command = nullptr;
    QString error;
    try {
        command = status ? GetStatusCommand() : GetValueCommand();
        for (const auto &field : m_Fields) {
            if (((status ? field->StatusErrorFlags : field->ErrorFlags) & de_Unknown) != 0)
                continue;
            if (!status) {
                field->UpdateValue();
                command->ParamByName(field->Name).Value = field->Value;
            } else if (const auto *qualified =
                           dynamic_cast<const TQualifiedADOTableField *>(field.get())) {
                command->ParamByName(field->Name).Value =
                    m_QualityTranslation.Translate(qualified->Quality);
            } else {
                command->ParamByName(field->Name).Value = field->Value;
            }
        }
        InsistentExecuteCommand(command, 150);
    } catch (const std::exception &e) {
        error = MessageOf(e);
    } catch (...) {
        error = QStringLiteral("Unbekannter Fehler");
    }
    if (error.isNull()) {
        if (flags & de_WriteError)
            EventLogger().Log(etInformation, 3, nullptr,
                              QStringLiteral("Das Schreiben in die Tabelle \"%1\" war nach einem "
                                             "erfolglosen Versuch wieder erfolgreich.")
                                  .arg(table));
        flags &= ~de_WriteError;
        Bridge()->Connected = true;
        return;
    }
    if (!(flags & de_WriteError)) {
        // Without a command (it could not be built) there is no statement to show.
        EventLogger().Log(etError, 1, this,
                          QStringLiteral("Beim Schreiben in die Tabelle \"%1\" ist ein Fehler "
                                         "aufgetreten.  Meldung: %2; Verwendetes SQL-Statement: "
                                         "%3; Verwendete Werte für Parameter: %4")
                              .arg(table, error, command ? command->CommandText() : QString(),
                                   command ? GetValuesAsString(command) : QStringLiteral("[]")));
    }
    flags |= de_WriteError;
}

void TADOTableTransmitter::Transmit()
{
    if (m_Enabled && !(ErrorFlags & de_Unknown)) {
        if (m_TableType == tt_TableUpdate)
            CheckRowCount(tsValue);
        if (!(ErrorFlags & de_NoRowToUpdate))
            WriteSide(tsValue);
    }
    if (m_Enabled && m_StatusEnabled && !StatusTableName.isEmpty() &&
        !(StatusErrorFlags & de_Unknown) && ErrorFlags == 0) {
        if (m_TableType == tt_TableUpdate)
            CheckRowCount(tsStatus);
        if (!(StatusErrorFlags & de_NoRowToUpdate))
            WriteSide(tsStatus);
    }
}

QString TADOTableTransmitter::GetValuesAsString(const TADOCommand *ACommand)
{
    if (!ACommand)
        RaiseMissingParameter(QStringLiteral("GetValuesAsString"), QStringLiteral("ACommand"));
    QStringList values;
    for (int i = 0; i < ACommand->ParameterCount(); ++i)
        values << QStringLiteral("(") + ACommand->Parameters(i).Value.ToString() +
                      QStringLiteral(")");
    return QStringLiteral("[") + values.join(QStringLiteral(", ")) + QStringLiteral("]");
}

void TADOTableTransmitter::InsistentExecuteCommand(TADOCommand *command, std::uint32_t budgetMs)
{
    if (!command)
        RaiseMissingParameter(QStringLiteral("InsistentExecuteCommand"),
                              QStringLiteral("ACommand"));
    const std::uint32_t start = GetTickCount();
    for (;;) {
        try {
            command->Execute(adExecuteNoRecords);
            EventLogger().Log(etDebug, 4, this,
                              QStringLiteral("InsistentExecuteCommand: Das Command wurde "
                                             "erfolgreich ausgeführt. (Benötigte Ausführzeit: %1 "
                                             "ms)")
                                  .arg(GetTickCount() - start));
            return;
        } catch (...) {
            const std::uint32_t elapsed = GetTickCount() - start;
            if (elapsed >= budgetMs) {
                EventLogger().Log(etDebug, 3, this,
                                  QStringLiteral("InsistentExecuteCommand: Nach einen oder "
                                                 "mehreren erfolglosen Versuch wird das Ausführen "
                                                 "des Commands abgebrochen."));
                throw;
            }
            EventLogger().Log(etDebug, 3, this,
                              QStringLiteral("InsistentExecuteCommand: Nach einen oder mehreren "
                                             "erfolglosen Versuchen wird erneut probiert, das "
                                             "Command auszuführen. (Vorherige Ausführzeit: %1 ms)")
                                  .arg(elapsed));
        }
        if (Bridge()->RetryWait)
            Bridge()->RetryWait(30);
    }
}

void TADOTableTransmitter::RegisterFieldsInCache()
{
    TDataCache *cache = Bridge()->DataCache();
    if (!cache)
        return;
    {
        std::scoped_lock lock(*cache);
        const QString name = QStringLiteral("%1.TargetTableFields").arg(TableName);
        for (int i = 0; i < cache->Count(); ++i)
            cache->Items(i)->WriteAttribute(name, QString());
    }
    for (const auto &field : m_Fields) {
        auto *linked = dynamic_cast<TLinkedADOTableField *>(field.get());
        if (!linked)
            continue;
        try {
            linked->RegisterInCache();
        } catch (const EInvalidDataCacheItemID &) {
            // Reported once by CheckAlias; the other columns still register.
            linked->CheckAlias();
        }
    }
}

void TADOTableTransmitter::UpdateDBStates()
{
    for (const auto &field : m_Fields)
        if (auto *linked = dynamic_cast<TLinkedADOTableField *>(field.get()))
            linked->UpdateDBState();
}

void TADOTableTransmitter::CheckAliases()
{
    for (const auto &field : m_Fields)
        if (auto *linked = dynamic_cast<TLinkedADOTableField *>(field.get()))
            linked->CheckAlias();
}

TADOTableTransmitter::TFoundTables
TADOTableTransmitter::FindTables(TADOXCatalog &catalog, TADOValidationProgress *progress) const
{
    TFoundTables found;
    const int count = catalog.TableCount();
    for (int i = 0; i < count; ++i) {
        if (progress)
            progress->StepActivity();
        const TADOXTable &table = catalog.Tables(i);
        bool done = false;
        if (table.Type == QLatin1String("TABLE")) {
            if (found.Value < 0 && SameName(table.Name, TableName)) {
                found.Value = i;
                done = StatusTableName.isEmpty() || found.Status >= 0;
            }
            if (!done && found.Status < 0 && !StatusTableName.isEmpty() &&
                SameName(table.Name, StatusTableName)) {
                found.Status = i;
                done = found.Value >= 0;
            }
        }
        if (progress)
            progress->StepActivity();
        if (done)
            break;
    }
    return found;
}

void TADOTableTransmitter::ReadColumnTypes(TADOXCatalog *catalog)
{
    if (!catalog)
        return;
    const TFoundTables found = FindTables(*catalog, nullptr);
    const auto read = [&](int tableIndex, bool status) {
        if (tableIndex < 0)
            return;
        const std::vector<TADOXColumn> &columns = catalog->Columns(tableIndex);
        for (const auto &field : m_Fields) {
            for (const TADOXColumn &column : columns) {
                if (!SameName(column.Name, field->Name))
                    continue;
                (status ? field->StatusDataType : field->DataType) = column.Type;
                (status ? field->StatusSize : field->Size) = column.DefinedSize;
            }
        }
    };
    read(found.Value, false);
    read(found.Status, true);
}

void TADOTableTransmitter::Validate(TADOValidationProgress *progress, TADOXCatalog *ADBCatalog)
{
    if (!ADBCatalog)
        RaiseMissingParameter(QStringLiteral("TADOTableTransmitter.Validate"),
                              QStringLiteral("ADBCatalog"));
    TADOXCatalog &catalog = *ADBCatalog;
    if (progress) {
        QString detail = QStringLiteral("\"%1\"").arg(TableName);
        if (!StatusTableName.isEmpty())
            detail += QStringLiteral(" / \"%1\"").arg(StatusTableName);
        progress->SelectStep(TADOValidationProgress::psTables, detail);
    }
    const TFoundTables found = FindTables(catalog, progress);
    if (found.Value >= 0)
        SetEnabled(true);
    if (found.Status >= 0)
        SetStatusEnabled(true);

    const QString tableMissing =
        QStringLiteral("Die Tabelle \"%1\" konnte nicht in der Datenbank gefunden werden.");
    if (found.Value < 0) {
        ErrorFlags |= de_Unknown;
        EventLogger().Log(etError, 1, this, tableMissing.arg(TableName));
        SetEnabled(false);
        SetStatusEnabled(false);
    } else {
        ErrorFlags &= ~de_Unknown;
    }
    if (!StatusTableName.isEmpty() && m_StatusEnabled && found.Status < 0) {
        StatusErrorFlags |= de_Unknown;
        EventLogger().Log(etError, 1, this, tableMissing.arg(StatusTableName));
        SetStatusEnabled(false);
    } else {
        StatusErrorFlags &= ~de_Unknown;
    }

    if (progress)
        progress->SelectStep(TADOValidationProgress::psTableFields);
    const QString fieldDetail = QStringLiteral("\"%1\" in Tabelle \"%2\"");
    const QString fieldMissing =
        QStringLiteral("Das Tabellenfeld \"%1\" wurde nicht in der Tabelle \"%2\" gefunden.");
    const QString keyMissing = QStringLiteral(
        "Die Tabelle \"%1\" benötigt das Schlüsselfeld \"%2\" zur eindeutigen Identifizierung des "
        "zu überschreibenen Datensatzes. Das Schlüsselfeld wurde nicht in der Tabelle gefunden.");
    for (const auto &field : m_Fields) {
        const bool isKey = dynamic_cast<const TKeyADOTableField *>(field.get()) != nullptr;
        bool inValue = false;
        bool inStatus = false;
        if (m_Enabled && found.Value >= 0) {
            if (progress)
                progress->SelectStep(TADOValidationProgress::psTableFields,
                                     fieldDetail.arg(field->Name, TableName));
            inValue = HasColumn(catalog, found.Value, field->Name);
            if (inValue)
                field->ErrorFlags &= ~de_Unknown;
        }
        if (m_StatusEnabled && found.Status >= 0) {
            if (progress)
                progress->SelectStep(TADOValidationProgress::psTableFields,
                                     fieldDetail.arg(field->Name, StatusTableName));
            inStatus = HasColumn(catalog, found.Status, field->Name);
            if (inStatus)
                field->StatusErrorFlags &= ~de_Unknown;
        }
        if (m_Enabled && !inValue) {
            field->ErrorFlags |= de_Unknown;
            EventLogger().Log(etError, 1, this, fieldMissing.arg(field->Name, TableName));
            if (m_TableType == tt_TableUpdate && isKey) {
                EventLogger().Log(etError, 1, this, keyMissing.arg(TableName, field->Name));
                SetEnabled(false);
                ErrorFlags |= de_Unknown;
            }
        }
        if (!StatusTableName.isEmpty() && m_StatusEnabled && !inStatus) {
            field->StatusErrorFlags |= de_Unknown;
            EventLogger().Log(etError, 1, this, fieldMissing.arg(field->Name, StatusTableName));
            if (m_TableType == tt_TableUpdate && isKey) {
                EventLogger().Log(etError, 1, this, keyMissing.arg(StatusTableName, field->Name));
                SetStatusEnabled(false);
                StatusErrorFlags |= de_Unknown;
            }
        }
    }
}
