// The database side of a loaded configuration: one connection, the table transmitters that write
// into it, and the write cycle that runs them inside one transaction.
#pragma once

#include "database/ADOProgress.h"
#include "database/ADOTableField.h"
#include "database/ADOTableTransmitter.h"
#include "database/xDBCom.h"
#include "platform/ado/Ado.h"
#include "settings/ZonedDateTime.h"

#include <QChar>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TDataCache;

class TADOBridge
{
public:
    // Raises for an empty connection string. user and password replace whatever the connection
    // string carried, even when empty. dataCache is not owned and may be null.
    TADOBridge(const QString &AConnectionString, const QString &userID, const QString &password,
               TDataCache *dataCache);
    ~TADOBridge();
    TADOBridge(const TADOBridge &) = delete;
    TADOBridge &operator=(const TADOBridge &) = delete;

    // Creates a table transmitter and appends it to Transmitters.
    TADOTableTransmitter *AddTableTransmitter();
    // Appends a transmitter created for this bridge.
    TADOTransmitter *AddTransmitter(std::unique_ptr<TADOTransmitter> transmitter);
    int TransmitterCount() const { return int(m_Transmitters.size()); }
    // EListError outside 0..TransmitterCount-1.
    TADOTransmitter *Transmitters(int index) const;

    TDataBaseController &DataBaseController() { return *m_DataBaseController; }
    const TDataBaseController &DataBaseController() const { return *m_DataBaseController; }
    TDataCache *DataCache() const { return m_DataCache; }

    // Connects unless connected; not within ReconnectInterval of the last attempt.
    bool TryToConnect();
    void PrepareTransmission();
    void ValidateWithProgress();
    void ReadColumnTypes();
    // One write cycle over all tables in one transaction. Errors of beginning or committing the
    // transaction propagate (the transaction is rolled back first).
    void Transmit();
    void Disconnect();
    void UpdateDBStates();
    void CheckAliases();
    // The union of the bridge's, the tables' and the columns' error bits.
    TDBErrorFlags ErrorFlags() const;
    // The bridge's own bits (de_DatabaseUnreachable).
    TDBErrorFlags BridgeErrorFlags() const { return m_ErrorFlags; }

    // Null while disconnected.
    TADOCommand *ProbeCommand() const { return m_ProbeCommand.get(); }
    TADORecordset *Recordset() const { return m_Recordset.get(); }

    // First: the quote of string keys in row counts; swapped when such a count fails.
    QChar QuoteChar() const { return m_QuoteChars[0]; }
    QChar OtherQuoteChar() const { return m_QuoteChars[1]; }
    void SwapQuoteChars() { std::swap(m_QuoteChars[0], m_QuoteChars[1]); }

    // The window that shows validation; the quiet one unless the GUI sets its own (not owned).
    void SetValidationProgress(TADOValidationProgress *progress);
    TADOValidationProgress &ValidationProgress() const { return *m_Progress; }

    std::uint32_t CommandRenewalInterval = 900000; // ms
    bool Connected = false;
    std::uint32_t ForcedWriteInterval = 0; // ms, used by the runtime control
    std::uint32_t LastCommandRenewalTick = 0;
    std::uint32_t LastConnectAttemptTick = 0; // 0: no attempt yet
    TZonedDateTime LastWriteTime{-1.0, 0};
    std::uint32_t ReconnectInterval = 20000; // ms
    TZonedDateTime ConnectTime;

    // Millisecond ticks for the reconnect and renewal intervals; GetTickCount unless replaced.
    std::function<std::uint32_t()> TickSource;
    // The pause between two attempts of a statement; sleeps unless replaced.
    std::function<void(std::uint32_t ms)> RetryWait;

private:
    std::uint32_t Now() const;
    // Statements, probe and recordset refer to the connection, so they go before it does.
    void ReleaseConnectionObjects();
    void CloseConnection();
    void ProbeConnection();

    std::unique_ptr<TDataBaseController> m_DataBaseController;
    std::vector<std::unique_ptr<TADOTransmitter>> m_Transmitters;
    TDataCache *m_DataCache;
    TDBErrorFlags m_ErrorFlags = 0;
    std::unique_ptr<TADOCommand> m_ProbeCommand;
    std::unique_ptr<TADORecordset> m_Recordset;
    QChar m_QuoteChars[2] = {u'\'', u'"'};
    TADOValidationProgress *m_Progress;
};
