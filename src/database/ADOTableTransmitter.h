// A table transmitter writes one target table of the database bridge, and optionally a status
// table with the same column names, through prepared parameterised statements.
#pragma once

#include "database/ADOTableField.h"
#include "platform/ado/Ado.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

class TADOBridge;
class TADOValidationProgress;

class TADOTransmitter
{
public:
    // Raises for a null bridge. The bridge's AddTransmitter appends the new transmitter.
    explicit TADOTransmitter(TADOBridge *bridge);
    virtual ~TADOTransmitter();
    TADOTransmitter(const TADOTransmitter &) = delete;
    TADOTransmitter &operator=(const TADOTransmitter &) = delete;

    TADOBridge *Bridge() const { return m_Bridge; }

    virtual void RegisterFieldsInCache() {}
    virtual void ReleaseCommands() {}
    virtual void ReadColumnTypes(TADOXCatalog *) {}
    virtual void PrepareCommands() {}
    virtual void Close() {}
    virtual void Transmit() {}
    virtual void Validate(TADOValidationProgress *, TADOXCatalog *) {}
    virtual void CheckAliases() {}

private:
    TADOBridge *m_Bridge;
};

class TADOTableTransmitter : public TADOTransmitter
{
public:
    enum TSide { tsValue, tsStatus };

    explicit TADOTableTransmitter(TADOBridge *bridge);
    ~TADOTableTransmitter() override;

    // Creates a column of class T and appends it to Fields.
    template <class T> T *AddField()
    {
        static_assert(std::is_base_of_v<TADOTableField, T>);
        auto field = std::make_unique<T>(this);
        T *result = field.get();
        m_Fields.push_back(std::move(field));
        return result;
    }
    int FieldCount() const { return int(m_Fields.size()); }
    // EListError outside 0..FieldCount-1.
    TADOTableField *Fields(int index) const;
    template <class T> bool HasFieldOfClass() const
    {
        for (const auto &field : m_Fields)
            if (dynamic_cast<const T *>(field.get()))
                return true;
        return false;
    }

    TOPCQualityTranslationTable &QualityTranslation() { return m_QualityTranslation; }
    const TOPCQualityTranslationTable &QualityTranslation() const { return m_QualityTranslation; }

    TTableType TableType() const { return m_TableType; }
    // Allowed once, and never to tt_None.
    void SetTableType(TTableType type);
    bool Enabled() const { return m_Enabled; }
    bool StatusEnabled() const { return m_StatusEnabled; }
    // Both log when the state changes.
    void SetEnabled(bool on);
    void SetStatusEnabled(bool on);
    bool MultipleRowsReported() const { return m_MultipleRowsReported; }
    bool StatusMultipleRowsReported() const { return m_StatusMultipleRowsReported; }

    // Built on first request.
    TADOCommand *GetValueCommand();
    TADOCommand *GetStatusCommand();
    // Null until built.
    TADOCommand *ValueCommand() const { return m_ValueCommand.get(); }
    TADOCommand *StatusCommand() const { return m_StatusCommand.get(); }

    void RegisterFieldsInCache() override;
    void ReleaseCommands() override;
    void ReadColumnTypes(TADOXCatalog *catalog) override;
    void PrepareCommands() override;
    void Close() override;
    void Transmit() override;
    void Validate(TADOValidationProgress *progress, TADOXCatalog *ADBCatalog) override;
    void CheckAliases() override;
    void UpdateDBStates();

    // The number of rows the keys select (update tables), through the bridge's recordset.
    int CountRows(TSide side);
    // The statement CountRows runs with quote as the quote character of string keys.
    QString CountRowsStatement(TSide side, QChar quote) const;
    // "[(v1), (v2), ...]" of the command's parameter values, for error messages.
    static QString GetValuesAsString(const TADOCommand *ACommand);
    // Executes, retrying every 30 ms until budgetMs have passed since the first attempt; the
    // last error propagates.
    void InsistentExecuteCommand(TADOCommand *command, std::uint32_t budgetMs);

    QString TableName;
    QString StatusTableName; // empty: no status table
    TDBErrorFlags ErrorFlags = 0;
    TDBErrorFlags StatusErrorFlags = 0;

private:
    struct TFoundTables
    {
        int Value = -1;
        int Status = -1;
    };
    TFoundTables FindTables(TADOXCatalog &catalog, TADOValidationProgress *progress) const;
    std::unique_ptr<TADOCommand> BuildCommand(TSide side);
    int RunCount(const QString &statement);
    void CheckRowCount(TSide side);
    void WriteSide(TSide side);
    void LogEnabledChange(const QString &table, bool on);

    std::vector<std::unique_ptr<TADOTableField>> m_Fields;
    TOPCQualityTranslationTable m_QualityTranslation;
    TTableType m_TableType = tt_None;
    bool m_Enabled = true;
    bool m_StatusEnabled = true;
    std::unique_ptr<TADOCommand> m_ValueCommand;
    std::unique_ptr<TADOCommand> m_StatusCommand;
    bool m_MultipleRowsReported = false;
    bool m_StatusMultipleRowsReported = false;
};
