// The columns a table transmitter writes, where their values come from, the error bits shared by
// bridge, tables and columns, and the translation of OPC qualities for status tables.
#pragma once

#include "platform/ado/Ado.h"
#include "platform/com/Variant.h"

#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <vector>

class TADOTableTransmitter;

using TDBErrorFlags = quint8;
inline constexpr TDBErrorFlags de_Unknown = 0x01;
inline constexpr TDBErrorFlags de_AliasMissing = 0x02;
inline constexpr TDBErrorFlags de_DatabaseUnreachable = 0x04;
inline constexpr TDBErrorFlags de_NoRowToUpdate = 0x10;
inline constexpr TDBErrorFlags de_WriteError = 0x40;

enum TTableType : quint8 { tt_TableUpdate = 0, tt_TableInsert = 1, tt_None = 2 };

// The ADO types whose key values are quoted in row-count conditions.
bool IsStringDataType(DataTypeEnum type);

class TOPCQualityTranslationItem
{
public:
    quint8 ANDMask = 0;
    TVariant SubstituteValue;
    quint8 XORMask = 0;
};

class TOPCQualityTranslationTable
{
public:
    TOPCQualityTranslationItem *AddRule(quint8 andMask, quint8 xorMask,
                                        const TVariant &substituteValue);
    int Count() const { return int(m_Items.size()); }
    // EListError outside 0..Count-1.
    TOPCQualityTranslationItem *Items(int index) const;
    // The substitute of the first rule matching the low byte, else the quality as VT_I4. A
    // matching rule with a Null substitute ends the search with the numeric quality.
    TVariant Translate(quint16 quality) const;

private:
    std::vector<std::unique_ptr<TOPCQualityTranslationItem>> m_Items;
};

class TADOTableField
{
public:
    // Raises for a null transmitter. The transmitter's AddField appends the new field.
    explicit TADOTableField(TADOTableTransmitter *transmitter);
    virtual ~TADOTableField();
    TADOTableField(const TADOTableField &) = delete;
    TADOTableField &operator=(const TADOTableField &) = delete;

    TADOTableTransmitter *Transmitter() const { return m_Transmitter; }

    // Called just before a value-table row is written.
    virtual void UpdateValue() {}

    TDBErrorFlags ErrorFlags = 0; // value-table side
    QString Name;
    TVariant Value;
    TDBErrorFlags StatusErrorFlags = 0;
    DataTypeEnum DataType = adEmpty;
    DataTypeEnum StatusDataType = adEmpty;
    std::int32_t Size = 0;
    std::int32_t StatusSize = 0;

private:
    TADOTableTransmitter *m_Transmitter;
};

// A column with an OPC quality; its status-table value is the translated quality.
class TQualifiedADOTableField : public TADOTableField
{
public:
    using TADOTableField::TADOTableField;
    quint16 Quality = 0;
};

// "DATA": the value of a data cache entry, or a substitute while the quality is bad.
class TLinkedADOTableField : public TQualifiedADOTableField
{
public:
    using TQualifiedADOTableField::TQualifiedADOTableField;

    void UpdateValue() override;
    // Clears de_AliasMissing when the cache has the alias, else reports it once.
    void CheckAlias();
    // Publishes the column's database state in the cache entry.
    void UpdateDBState();
    // Publishes which tables and columns the cache entry feeds. EInvalidDataCacheItemID when the
    // alias has no entry.
    void RegisterInCache();

    TVariant SubstituteValue;
    QString Alias;
    int IndexHint = 0;
    bool UseSubstituteValue = false;

private:
    void ReportMissingAlias();
};

// "XTIME": the start time of the write cycle as text.
class TTransmitTimeADOTableField : public TADOTableField
{
public:
    using TADOTableField::TADOTableField;
    void UpdateValue() override;

    QString TimeFormat = QStringLiteral("YYYY-MM-DD hh:mm:ss");
    bool UTC = false;
};

// "CONST": the configured text in Value.
class TConstantADOTableField : public TADOTableField
{
public:
    using TADOTableField::TADOTableField;
};

// "KEY": the configured text in Value; identifies the row of an update table.
class TKeyADOTableField : public TADOTableField
{
public:
    using TADOTableField::TADOTableField;
};
