#include "database/ADOTableField.h"

#include "cache/xDataCache.h"
#include "database/ADOTableTransmitter.h"
#include "database/DateTimePattern.h"
#include "database/xADOBridge.h"
#include "eventlog/xEventLog.h"

#include <QStringList>
#include <mutex>

bool IsStringDataType(DataTypeEnum type)
{
    switch (type) {
    case adBSTR:
    case adChar:
    case adWChar:
    case adVarNumeric:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar: return true;
    default: return false;
    }
}

// TOPCQualityTranslationTable

TOPCQualityTranslationItem *TOPCQualityTranslationTable::AddRule(quint8 andMask, quint8 xorMask,
                                                                 const TVariant &substituteValue)
{
    auto item = std::make_unique<TOPCQualityTranslationItem>();
    item->ANDMask = andMask;
    item->XORMask = xorMask;
    item->SubstituteValue = substituteValue;
    m_Items.push_back(std::move(item));
    return m_Items.back().get();
}

TOPCQualityTranslationItem *TOPCQualityTranslationTable::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EListError(index);
    return m_Items[std::size_t(index)].get();
}

TVariant TOPCQualityTranslationTable::Translate(quint16 quality) const
{
    const quint8 low = quint8(quality & 0xFF);
    for (const auto &item : m_Items) {
        if (((low & item->ANDMask) ^ item->XORMask) == 0)
            return item->SubstituteValue.IsNull() ? TVariant::FromI4(quality)
                                                  : item->SubstituteValue;
    }
    return TVariant::FromI4(quality);
}

// TADOTableField

TADOTableField::TADOTableField(TADOTableTransmitter *transmitter) : m_Transmitter(transmitter)
{
    if (!transmitter)
        throw Exception(QStringLiteral("Das Feld \"FADOTableTransmitter\" einer Instanz der Klasse "
                                       "\"TADOTableField\" ist NIL."));
}

TADOTableField::~TADOTableField() = default;

// TLinkedADOTableField

namespace {

// The entry of alias, or null; the hint saves the search on every cycle after the first.
TDataCacheItem *FindEntry(const TDataCache &cache, const QString &alias, int &hint)
{
    if (hint >= 0 && hint < cache.Count() && cache.Items(hint)->ID() == alias)
        return cache.Items(hint);
    const int index = cache.IndexOf(alias);
    if (index < 0)
        return nullptr;
    hint = index;
    return cache.Items(index);
}

} // namespace

void TLinkedADOTableField::UpdateValue()
{
    TDataCache *cache = Transmitter()->Bridge()->DataCache();
    if (!cache)
        return;
    const TDataCacheValue cached = cache->GetValue(Alias, IndexHint);
    Quality = cached.Quality;
    // Bits 7 and 6 both clear: bad quality.
    const bool bad = (Quality & 0xC0) == 0;
    Value = bad && UseSubstituteValue ? SubstituteValue : cached.Value;
}

void TLinkedADOTableField::ReportMissingAlias()
{
    if (ErrorFlags & de_AliasMissing)
        return;
    EventLogger().Log(etError, 1, this,
                      QStringLiteral("Interner Fehler beim Überprüfen des Alias \"%1\" vom "
                                     "Tabellenfelds \"%2\". Alias wurde nicht im lokalen Cache "
                                     "gefunden.")
                          .arg(Alias, Name));
    ErrorFlags |= de_AliasMissing;
}

void TLinkedADOTableField::CheckAlias()
{
    TDataCache *cache = Transmitter()->Bridge()->DataCache();
    if (!cache)
        return;
    std::scoped_lock lock(*cache);
    if (FindEntry(*cache, Alias, IndexHint))
        ErrorFlags &= ~de_AliasMissing;
    else
        ReportMissingAlias();
}

void TLinkedADOTableField::UpdateDBState()
{
    TADOTableTransmitter *transmitter = Transmitter();
    TDataCache *cache = transmitter->Bridge()->DataCache();
    if (!cache)
        return;
    std::scoped_lock lock(*cache);
    TDataCacheItem *item = FindEntry(*cache, Alias, IndexHint);
    if (!item) {
        ReportMissingAlias();
        return;
    }
    const TDBErrorFlags tableFlags = transmitter->ErrorFlags | transmitter->StatusErrorFlags;
    QString state;
    if (transmitter->Bridge()->BridgeErrorFlags() & de_DatabaseUnreachable)
        state = QStringLiteral("Datenbank unerreichbar");
    else if (tableFlags & de_Unknown)
        state = QStringLiteral("Unbekannte Zieltabelle");
    else if (tableFlags & (de_WriteError | de_NoRowToUpdate))
        state = QStringLiteral("Schreibfehler");
    else if ((ErrorFlags | StatusErrorFlags) & de_Unknown)
        state = QStringLiteral("Unbekanntes Zieltabellenfeld");
    else
        state = QStringLiteral("OK");
    item->WriteAttribute(QStringLiteral("%1.%2.DBState").arg(transmitter->TableName, Name), state);
}

void TLinkedADOTableField::RegisterInCache()
{
    TADOTableTransmitter *transmitter = Transmitter();
    TDataCache *cache = transmitter->Bridge()->DataCache();
    if (!cache)
        return;
    std::scoped_lock lock(*cache);
    TDataCacheItem *item = cache->FindItem(Alias, IndexHint);
    const QString crlf = QStringLiteral("\r\n");

    const QString tablesName = QStringLiteral("ValueTables");
    QString tables = item->HasAttribute(tablesName) ? item->ReadAttributes(tablesName) : QString();
    // Whole lines: a table "T1" is not registered just because "T10" is.
    if (!tables.split(crlf).contains(transmitter->TableName, Qt::CaseSensitive)) {
        if (!tables.isEmpty())
            tables += crlf;
        tables += transmitter->TableName;
        item->WriteAttribute(tablesName, tables);
        item->WriteAttribute(QStringLiteral("%1.StatusTable").arg(transmitter->TableName),
                             transmitter->StatusTableName.isEmpty() ? QStringLiteral("-")
                                                                    : transmitter->StatusTableName);
    }

    const QString fieldsName = QStringLiteral("%1.TargetTableFields").arg(transmitter->TableName);
    QString fields = item->HasAttribute(fieldsName) ? item->ReadAttributes(fieldsName) : QString();
    if (!fields.isEmpty())
        fields += crlf;
    fields += Name;
    item->WriteAttribute(fieldsName, fields);
}

// TTransmitTimeADOTableField

void TTransmitTimeADOTableField::UpdateValue()
{
    const TZonedDateTime writeTime = Transmitter()->Bridge()->LastWriteTime;
    const TDateTime time = UTC ? LocalToUTC(writeTime) : writeTime.Local;
    Value = TVariant::FromString(FormatDateTimePattern(TimeFormat, time));
}
