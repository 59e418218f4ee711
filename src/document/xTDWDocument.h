// The configuration document: the acquisition bridge and the database bridge of one configuration,
// read from and written to a ".tdw" file, or taken from a configuration database.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

class TADOBridge;
class TDataCache;
class TIniFile;
class TOPCClientBridge;

// Where a configuration database is and which of its tables hold the configuration.
struct TWinTSConfigDBInfo
{
    QString ConnectionString; // without user and password
    QString UserName;
    QString Password;
    QString ParameterTable;
    QString IODataTable;
    QString KKSLookupTable;
    QString DBAPointTable;
};

// The default table names of a configuration database.
TWinTSConfigDBInfo DefaultWinTSConfigDBInfo();

// The connection editor shown after a failed connection to a configuration database: it may
// correct user and password (the connection string is shown read-only). The GUI installs it;
// without one the second attempt uses the same values.
using TEditConnectionStringHook =
    std::function<void(const QString &connectionString, QString &userName, QString &password)>;
void SetEditConnectionStringHook(TEditConnectionStringHook hook);

class TTDWDocument
{
public:
    TTDWDocument();
    ~TTDWDocument();
    TTDWDocument(const TTDWDocument &) = delete;
    TTDWDocument &operator=(const TTDWDocument &) = delete;

    static constexpr int FileVersion = 13;

    const QString &FileName() const { return m_FileName; }
    bool IsUntitled() const { return m_IsUntitled; }
    bool Modified() const { return m_Modified; }
    TADOBridge *DataBaseBridge() const { return m_DataBaseBridge.get(); }
    TOPCClientBridge *OPCBridge() const { return m_OPCBridge.get(); }
    // 0 no configuration database, 1 loaded from one, 2 loaded from one and changed since.
    quint8 ConfigDBLink = 0;
    TWinTSConfigDBInfo ConfigDB;

    void CloseDocument();
    void Clear();
    void SetOPCBridge(std::unique_ptr<TOPCClientBridge> bridge);
    void SetDataBaseBridge(std::unique_ptr<TADOBridge> bridge);
    void SetModified(bool modified);

    // Raises with a German message when the file cannot be read or is not a valid document; the
    // document then holds what it held before.
    void LoadFromFile(const QString &path, TDataCache *dataCache);
    // An empty path means FileName. The previous file survives a failed save, and the document
    // then keeps its FileName and Modified.
    void SaveToFile(const QString &path = QString());
    // The whole file text as SaveToFile writes it.
    QString SaveToText() const;

    void ReadConfigDataBaseSection(const TIniFile &ini, TDataCache *dataCache);
    void LoadFromWinTSConfigDB(const TWinTSConfigDBInfo &info, TDataCache *dataCache);

private:
    QString m_FileName;
    bool m_IsUntitled = true;
    bool m_Modified = false;
    std::unique_ptr<TADOBridge> m_DataBaseBridge;
    std::unique_ptr<TOPCClientBridge> m_OPCBridge;
};
