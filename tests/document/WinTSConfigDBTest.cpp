#include "document/xTDWDocument.h"

#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/IniFile.h"
#include "eventlog/xEventLog.h"
#include "platform/ado/Ado.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A configuration database with the default table names, in SQLite.
class WinTSConfigDBTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EventLogger().TakeEntries();
        Connection.Open(Database.ConnectionString(), QString(), QString());
        Execute("CREATE TABLE \"Tab Viper#Parameter\" (KanalID INTEGER, ID INTEGER, Value TEXT)");
        Execute("CREATE TABLE \"Tab Viper#IO_Data2VM600\" (PointID INTEGER, KKSID INTEGER, "
                "Enabled BOOLEAN)");
        Execute("CREATE TABLE \"Tab Viper#DBA_POINT\" (PointID INTEGER, MachineID INTEGER)");
        Execute("CREATE TABLE \"Tab KKS\" (ID INTEGER, KKS TEXT)");
        for (const auto &[id, value] :
             std::initializer_list<std::pair<int, const char *>>{{4, "Ziel"},
                                                                 {10, "M"},
                                                                 {11, "S"},
                                                                 {12, "P"},
                                                                 {13, "Zeit"},
                                                                 {14, "hh:nn"},
                                                                 {15, "False"},
                                                                 {16, "30"},
                                                                 {17, "True"},
                                                                 {18, "-1"},
                                                                 {19, "500"},
                                                                 {20, ""},
                                                                 {21, "Tidewell.OPCSimulation.1"},
                                                                 {22, "G"},
                                                                 {24, "B"}})
            SetParameter(id, value);
        SetParameter(23, nullptr);
        SetParameter(7, "other channel", 1);
    }

    void Execute(const QString &sql)
    {
        TADOCommand command;
        command.SetActiveConnection(&Connection);
        command.SetCommandText(sql);
        command.Execute();
    }
    void SetParameter(int id, const char *value, int channel = 0)
    {
        Execute(QStringLiteral("DELETE FROM \"Tab Viper#Parameter\" WHERE ID = %1").arg(id));
        Execute(QStringLiteral("INSERT INTO \"Tab Viper#Parameter\" VALUES (%1, %2, %3)")
                    .arg(channel)
                    .arg(id)
                    .arg(value ? QStringLiteral("'%1'").arg(value) : QStringLiteral("NULL")));
    }
    // A point of a machine with its KKS identifier; null arguments store NULL.
    void AddPoint(int point, const char *machine, const char *kks, bool enabled = true)
    {
        static int nextKks = 1;
        const int kksID = nextKks++;
        Execute(QStringLiteral("INSERT INTO \"Tab Viper#IO_Data2VM600\" VALUES (%1, %2, %3)")
                    .arg(point)
                    .arg(kksID)
                    .arg(enabled ? 1 : 0));
        Execute(QStringLiteral("INSERT INTO \"Tab Viper#DBA_POINT\" VALUES (%1, %2)")
                    .arg(point)
                    .arg(machine ? QString::fromLatin1(machine) : QStringLiteral("NULL")));
        Execute(QStringLiteral("INSERT INTO \"Tab KKS\" VALUES (%1, %2)")
                    .arg(kksID)
                    .arg(kks ? QStringLiteral("'%1'").arg(kks) : QStringLiteral("NULL")));
    }
    TWinTSConfigDBInfo Info() const
    {
        TWinTSConfigDBInfo info = DefaultWinTSConfigDBInfo();
        info.ConnectionString = Database.ConnectionString();
        return info;
    }
    std::vector<QString> Messages()
    {
        std::vector<QString> messages;
        for (const auto &entry : EventLogger().TakeEntries())
            messages.push_back(entry->Message);
        return messages;
    }

    TempSQLiteDatabase Database;
    TADOConnection Connection;
    TDataCache Cache;
    QTemporaryDir Dir;
};

const TADOTableTransmitter &Table(const TTDWDocument &document, int index)
{
    return dynamic_cast<const TADOTableTransmitter &>(
        *document.DataBaseBridge()->Transmitters(index));
}

} // namespace

TEST_F(WinTSConfigDBTest, ThreeMachinesBecomeThreeTablesAndOneGroup)
{
    AddPoint(3, "2", "KKS-B1");
    AddPoint(1, "1", "KKS-A1");
    AddPoint(2, "1", "KKS-A2");
    AddPoint(9, "1", "KKS-OFF", false);
    AddPoint(4, "3", "KKS-C1");
    TTDWDocument document;
    document.LoadFromWinTSConfigDB(Info(), &Cache);

    const TOPCClientBridge &opc = *document.OPCBridge();
    EXPECT_EQ(opc.OPCDAClient().ServerInfo.ID, "Tidewell.OPCSimulation.1");
    ASSERT_EQ(opc.TransmitterCount(), 1);
    EXPECT_EQ(opc.Transmitters(0)->Name, "CallbackGroup1");
    EXPECT_EQ(opc.Transmitters(0)->UpdateRate, 500u);
    ASSERT_EQ(opc.Transmitters(0)->ItemCount(), 4);
    EXPECT_EQ(opc.Transmitters(0)->Items(0)->Path, opc.Transmitters(0)->Items(0)->Alias);
    EXPECT_TRUE(opc.Transmitters(0)->Items(0)->ItemID.isEmpty());

    const TADOBridge &db = *document.DataBaseBridge();
    EXPECT_EQ(db.DataBaseController().ConnectionString(), "Data Source=Ziel");
    EXPECT_EQ(db.ForcedWriteInterval, 30000u);
    ASSERT_EQ(db.TransmitterCount(), 3);
    const struct
    {
        const char *Table, *Status;
        int Points;
    } expected[] = {{"M1", "S1", 2}, {"M2", "S2", 1}, {"M3", "S3", 1}};
    for (int i = 0; i < 3; ++i) {
        const TADOTableTransmitter &table = Table(document, i);
        EXPECT_EQ(table.TableName, expected[i].Table);
        EXPECT_EQ(table.StatusTableName, expected[i].Status);
        EXPECT_EQ(table.TableType(), tt_TableInsert);
        ASSERT_EQ(table.QualityTranslation().Count(), 2); // parameter 23 is NULL
        EXPECT_EQ(table.QualityTranslation().Translate(0xC0), TVariant::FromString("G"));
        EXPECT_EQ(table.QualityTranslation().Translate(0x18), TVariant::FromString("B"));
        ASSERT_EQ(table.FieldCount(), 1 + expected[i].Points);
        const auto &time = dynamic_cast<const TTransmitTimeADOTableField &>(*table.Fields(0));
        EXPECT_EQ(time.Name, "Zeit");
        EXPECT_EQ(time.TimeFormat, "hh:nn");
    }
    const auto &first = dynamic_cast<const TLinkedADOTableField &>(*Table(document, 0).Fields(1));
    EXPECT_EQ(first.Name, "P1");
    EXPECT_EQ(first.Alias, "KKS-A1");
    EXPECT_TRUE(first.UseSubstituteValue);
    EXPECT_EQ(first.SubstituteValue.ToString(), "-1");
    EXPECT_EQ(document.ConfigDB.ConnectionString, Database.ConnectionString());
}

TEST_F(WinTSConfigDBTest, RecordsWithNullAreSkippedWithAWarningEach)
{
    SetParameter(11, nullptr);
    AddPoint(1, nullptr, "KKS-X");
    AddPoint(2, "1", nullptr);
    AddPoint(3, "1", "KKS-A3");
    TTDWDocument document;
    document.LoadFromWinTSConfigDB(Info(), &Cache);
    const auto messages = Messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "In der Tabelle \"Tab Viper#IO_Data2VM600\" wurde ein Datensatz gefunden, "
                        "dessen Attribut \"MachineID\" keinen Wert (NULL) enthält. Der Datensatz "
                        "wird ignoriert."),
              messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "Dem Attribut \"KKS\" wurde kein Wert zugewiesen (NULL). Datensatz wird "
                        "ignoriert."),
              messages.end());
    ASSERT_EQ(document.DataBaseBridge()->TransmitterCount(), 1);
    EXPECT_TRUE(Table(document, 0).StatusTableName.isEmpty());
    EXPECT_EQ(Table(document, 0).FieldCount(), 2); // time column and point 3
    EXPECT_EQ(document.OPCBridge()->Transmitters(0)->ItemCount(), 1);
}

TEST_F(WinTSConfigDBTest, MissingRequiredParametersAndTablesEndTheLoad)
{
    Execute("DELETE FROM \"Tab Viper#Parameter\" WHERE ID = 21");
    TTDWDocument document;
    try {
        document.LoadFromWinTSConfigDB(Info(), &Cache);
        ADD_FAILURE();
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(),
                  "In der Tabelle \"Tab Viper#Parameter\" fehlt der erforderliche Parameter mit "
                  "der ID 21. Verwendetes SQL-Statement: SELECT ID, Value FROM \"Tab "
                  "Viper#Parameter\" WHERE (KanalID = 0) AND (ID = 21)");
    }
    EXPECT_EQ(document.OPCBridge(), nullptr);

    TWinTSConfigDBInfo info = Info();
    info.ParameterTable = "Fehlt";
    EXPECT_THROW(document.LoadFromWinTSConfigDB(info, &Cache), Exception);
    info = Info();
    info.KKSLookupTable.clear();
    try {
        document.LoadFromWinTSConfigDB(info, &Cache);
        ADD_FAILURE();
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().startsWith("Interner Fehler in LoadFromWinTSConfigDB. Meldung: "));
    }
}

TEST_F(WinTSConfigDBTest, FailedConnectionAsksOnceThenReportsTheSecondFailure)
{
    int asked = 0;
    SetEditConnectionStringHook([&](const QString &, QString &user, QString &) {
        ++asked;
        user = "corrected";
    });
    TWinTSConfigDBInfo info = Info();
    info.ConnectionString = "Provider=SQLite;Data Source=" + Dir.filePath("no/such/dir.sqlite");
    TTDWDocument document;
    try {
        document.LoadFromWinTSConfigDB(info, &Cache);
        ADD_FAILURE();
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().startsWith("Fehler beim Verbinden der Datenbank. Meldung: "));
        EXPECT_TRUE(
            e.Message().endsWith("; Verwendeter connection string: " + info.ConnectionString));
    }
    EXPECT_EQ(asked, 1);
    SetEditConnectionStringHook(nullptr);
}

TEST_F(WinTSConfigDBTest, LinkedDocumentIsRebuiltAndRewrittenOnEveryLoad)
{
    AddPoint(1, "1", "KKS-A1");
    const QString path = Dir.filePath("linked.tdw");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(EncodeDocumentText(
            "[ConfigDataBase]\r\nConnectionString=" + Database.ConnectionString() +
            "\r\n[ADOConnection]\r\n"
            "ConnectionString=ignored\r\n"));
    }
    TTDWDocument document;
    document.LoadFromFile(path, &Cache);
    EXPECT_EQ(document.ConfigDBLink, 1);
    EXPECT_FALSE(document.Modified());
    ASSERT_EQ(document.DataBaseBridge()->TransmitterCount(), 1);

    const TIniFile written = TIniFile::FromFile(path);
    EXPECT_EQ(written.ReadString("ConfigDataBase", "DataBaseFormat"), "WIN_TS");
    EXPECT_EQ(written.ReadString("ConfigDataBase", "ParameterTable"), "Tab Viper#Parameter");
    EXPECT_EQ(written.ReadString("ADOConnection", "ConnectionString"), "Data Source=Ziel");
    EXPECT_EQ(written.ReadString("ADOTransmitter1 Config", "Table"), "M1");

    // A point added in the database appears at the next load.
    AddPoint(2, "1", "KKS-A2");
    TTDWDocument again;
    again.LoadFromFile(path, &Cache);
    EXPECT_EQ(Table(again, 0).FieldCount(), 3);
    EXPECT_EQ(TIniFile::FromFile(path).ReadString("ADOTransmitter1 Fields", "P2"),
              "DATA\tKKS-A2\t-1");
}
