#include "document/xTDWDocument.h"

#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/IniFile.h"
#include "eventlog/xEventLog.h"
#include "platform/crypto/CredentialCipher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The file the writer produces for a document that uses every feature of the format.
QString EveryFeatureText()
{
    const QStringList lines = {
        "[VersionInfo]",
        "FileVersion=13",
        "",
        "[RemoteOPCServer]",
        "ComputerName=leitstand",
        "GUID={12345678-9ABC-DEF0-1234-56789ABCDEF0}",
        "ID=Tidewell.OPCSimulation.1",
        "Name=Tidewell OPC-Simulation",
        "TransmitterCount=2",
        "",
        "[OPCTransmitter1]",
        "UpdateRate=500",
        "//Item-Format: Alias=Path<TAB>ID",
        "Temp1=Area1.Line1.Temp\tArea1.Line1.Temp",
        "Druck=\tArea1.Line1.Pressure",
        "Füllstand=Area1.Tank.Level\t",
        "",
        "[OPCTransmitter2]",
        "UpdateRate=2000",
        "//Item-Format: Alias=Path<TAB>ID",
        "Rate=Area1.Line1.Rate\tArea1.Line1.Rate",
        "",
        "[ADOConnection]",
        "ConnectionString=Provider=SQLite;Data Source=/tmp/demo.sqlite",
        "UserName=" + EncryptCredential("schreiber"),
        "Password=" + EncryptCredential("geheim"),
        "ForcedWriteInterval=15000",
        "TransmitterCount=2",
        "",
        "[ADOTransmitter1 Config]",
        "Table=Messwerte",
        "StatusTable=MesswerteStatus",
        "TableType=1",
        "",
        "[ADOTransmitter1 QualityTranslation]",
        "//Format: Rule<#>=$<ANDMask><TAB>$<XORMask><TAB><Substitue Value>",
        "Rule1=$C0\t$C0\tGut",
        "Rule2=$C0\t$40\tUnsicher",
        "Rule3=$C0\t$00\tSchlecht",
        "",
        "[ADOTransmitter1 Fields]",
        "//Format for data values: <Fieldname>=DATA<TAB><Alias><TAB><Substitute Value>",
        "//Format for transmission timestamp values: <Fieldname>=XTIME<TAB><Format><TAB>[UTC]",
        "//Format for constant values: <Fieldname>=CONST<TAB><Value>",
        "Temp=DATA\tTemp1",
        "Druck=DATA\tDruck\t-1",
        "Zeit=XTIME\tYYYY-MM-DD hh:mm:ss\tUTC",
        "Anlage=CONST\tLinie 1",
        "",
        "",
        "[ADOTransmitter2 Config]",
        "Table=Aktuell",
        "StatusTable=",
        "TableType=0",
        "",
        "[ADOTransmitter2 Fields]",
        "//Format for data values: <Fieldname>=DATA<TAB><Alias><TAB><Substitute Value>",
        "//Format for transmission timestamp values: <Fieldname>=XTIME<TAB><Format><TAB>[UTC]",
        "//Format for constant values: <Fieldname>=CONST<TAB><Value>",
        "Id=KEY\t1",
        "Rate=DATA\tRate",
        "Stand=XTIME\tDD.MM.YYYY hh:nn",
        "",
    };
    return lines.join("\r\n") + "\r\n";
}

class TDWDocumentTest : public ::testing::Test
{
protected:
    void SetUp() override { EventLogger().TakeEntries(); }

    QString Write(const QString &name, const QByteArray &bytes)
    {
        const QString path = Dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QString Write(const QString &name, const QString &text)
    {
        return Write(name, EncodeDocumentText(text));
    }
    QByteArray Read(const QString &path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }
    // The load error of a document text, empty when it loads.
    QString LoadError(const QString &text)
    {
        TTDWDocument document;
        try {
            document.LoadFromFile(Write("case.tdw", text), &Cache);
        } catch (const Exception &e) {
            EXPECT_EQ(document.OPCBridge(), nullptr);
            EXPECT_EQ(document.DataBaseBridge(), nullptr);
            return e.Message();
        }
        return QString();
    }

    QTemporaryDir Dir;
    TDataCache Cache;
};

const QString MinimalDatabasePart =
    "[ADOConnection]\r\nConnectionString=Provider=SQLite;Data Source=x.sqlite\r\n";

} // namespace

TEST_F(TDWDocumentTest, EveryFeatureSurvivesLoadAndSaveByteForByte)
{
    const QString source = Write("source.tdw", EveryFeatureText());
    TTDWDocument document;
    document.LoadFromFile(source, &Cache);
    EXPECT_EQ(document.FileName(), source);
    EXPECT_FALSE(document.Modified());
    EXPECT_FALSE(document.IsUntitled());

    const TOPCClientBridge &opc = *document.OPCBridge();
    ASSERT_EQ(opc.TransmitterCount(), 2);
    EXPECT_EQ(opc.Transmitters(0)->Name, "CallbackGroup1");
    EXPECT_EQ(opc.Transmitters(0)->UpdateRate, 500u);
    const TOPCBridgedItem &pressure = *opc.Transmitters(0)->Items(1);
    EXPECT_EQ(pressure.Path, "");
    EXPECT_EQ(pressure.ItemID, "Area1.Line1.Pressure");
    EXPECT_EQ(opc.Transmitters(0)->Items(2)->Alias, "Füllstand");
    EXPECT_EQ(opc.Transmitters(0)->Items(2)->ItemID, "");

    const TADOBridge &db = *document.DataBaseBridge();
    EXPECT_EQ(db.DataBaseController().UserID(), "schreiber");
    EXPECT_EQ(db.DataBaseController().Password(), "geheim");
    const auto &values = dynamic_cast<const TADOTableTransmitter &>(*db.Transmitters(0));
    EXPECT_EQ(values.TableType(), tt_TableInsert);
    EXPECT_EQ(values.QualityTranslation().Translate(0x56), TVariant::FromString("Unsicher"));
    const auto &substituted = dynamic_cast<const TLinkedADOTableField &>(*values.Fields(1));
    EXPECT_TRUE(substituted.UseSubstituteValue);
    EXPECT_EQ(substituted.SubstituteValue, TVariant::FromString("-1"));
    EXPECT_TRUE(dynamic_cast<const TTransmitTimeADOTableField &>(*values.Fields(2)).UTC);

    const QString copy = Dir.filePath("copy.tdw");
    document.SaveToFile(copy);
    EXPECT_EQ(Read(copy), Read(source));
    EXPECT_EQ(document.FileName(), copy);
}

TEST_F(TDWDocumentTest, ReaderFollowsTheFormatsLooseEnds)
{
    // LF line ends, no version, odd letter case, a gap in the transmitter sections, rule numbers
    // that are ignored, and an item key that only looks like UpdateRate.
    const QString text = "[remoteopcserver]\n"
                         "transmittercount=3\n"
                         "[OPCTransmitter1]\n"
                         "  // comment\n"
                         "\n"
                         "updaterate=Path.Of.Item\n"
                         "UpdateRate=250\n"
                         "[OPCTransmitter3]\n"
                         "A=P\n"
                         "UpdateRate=750\n"
                         "[OPCTransmitter4]\n"
                         "Beyond=The.Count\n"
                         "[ADOConnection]\n"
                         "ConnectionString=Provider=SQLite;User ID=anna;Data Source=x;Password=pw\n"
                         "TransmitterCount=1\n"
                         "[ADOTransmitter1 Config]\n"
                         "Table=T\n"
                         "[ADOTransmitter1 QualityTranslation]\n"
                         "rule7=$FF\t$00\t0\n"
                         "[ADOTransmitter1 Fields]\n"
                         "C=const\tx\ty\n"
                         "K=Key\ta\tb\n";
    TTDWDocument document;
    document.LoadFromFile(Write("loose.tdw", QString(text)), &Cache);
    const TOPCClientBridge &opc = *document.OPCBridge();
    ASSERT_EQ(opc.TransmitterCount(), 2);
    EXPECT_EQ(opc.Transmitters(0)->Name, "CallbackGroup1");
    EXPECT_EQ(opc.Transmitters(0)->UpdateRate, 250u);
    EXPECT_EQ(opc.Transmitters(0)->Items(0)->Alias, "updaterate");
    EXPECT_EQ(opc.Transmitters(0)->Items(0)->Path, "Path.Of.Item");
    EXPECT_EQ(opc.Transmitters(1)->Name, "CallbackGroup3");
    EXPECT_EQ(opc.Transmitters(1)->UpdateRate, 750u);

    const TADOBridge &db = *document.DataBaseBridge();
    EXPECT_EQ(db.DataBaseController().UserID(), "anna");
    EXPECT_EQ(db.DataBaseController().Password(), "pw");
    EXPECT_EQ(db.DataBaseController().ConnectionString(), "Provider=SQLite;Data Source=x;");
    const auto &table = dynamic_cast<const TADOTableTransmitter &>(*db.Transmitters(0));
    EXPECT_EQ(table.TableType(), tt_TableUpdate);
    ASSERT_EQ(table.QualityTranslation().Count(), 1);
    EXPECT_EQ(table.QualityTranslation().Items(0)->ANDMask, 0xFF);
    EXPECT_EQ(table.QualityTranslation().Items(0)->XORMask, 0x00);
    EXPECT_EQ(table.QualityTranslation().Items(0)->SubstituteValue, TVariant::FromString("0"));
    EXPECT_EQ(table.Fields(0)->Value, TVariant::FromString("x"));
    EXPECT_EQ(table.Fields(1)->Value, TVariant::FromString("a\tb"));
}

TEST_F(TDWDocumentTest, BrokenFilesAreRefusedWithTheirMessage)
{
    const struct
    {
        QString Text;
        QString Message;
    } cases[] = {
        {"[RemoteOPCServer]\r\nTransmitterCount=0\r\n",
         "Kein Connection-String angegeben in Section [ADOConnection]"},
        {"[VersionInfo]\r\nFileVersion=x\r\n" + MinimalDatabasePart,
         "'x' ist kein gültiger Integerwert"},
        {"[VersionInfo]\r\nFileVersion=14\r\n" + MinimalDatabasePart,
         "Beim Öffnen der Datei \"case.tdw\" ist ein Fehler aufgetreten.\r\nDie Dateiversion ist "
         "nicht kompatibel."},
        {"[RemoteOPCServer]\r\nGUID=12345678\r\n" + MinimalDatabasePart,
         "'12345678' ist keine gültige GUID."},
        {"[RemoteOPCServer]\r\nTransmitterCount=1\r\n[OPCTransmitter1]\r\n=Path\r\n" +
             MinimalDatabasePart,
         "Fehler in \"=Path\": Alias erwartet"},
        {"[RemoteOPCServer]\r\nTransmitterCount=1\r\n[OPCTransmitter1]\r\nno equals sign\r\n" +
             MinimalDatabasePart,
         "Fehler in \"no equals sign\": Alias erwartet"},
        {"[RemoteOPCServer]\r\nTransmitterCount=1\r\n[OPCTransmitter1]\r\nUpdateRate=schnell\r\n" +
             MinimalDatabasePart,
         "Fehler in \"UpdateRate=schnell\": Ungültiger Wert für UpdateRate ('schnell' ist kein "
         "gültiger Integerwert)"},
        {"[RemoteOPCServer]\r\nTransmitterCount=1\r\n[OPCTransmitter1]\r\nA=\r\n" +
             MinimalDatabasePart,
         "Fehler in \"A=\": Pfad oder ID muss angegeben sein"},
        {MinimalDatabasePart + "TransmitterCount=2\r\n[ADOTransmitter1 Config]\r\nTable=T\r\n",
         "Kein Tabellenname angegeben in Section [ADOTransmitter2 Config]"},
        {MinimalDatabasePart + "TransmitterCount=1\r\n[ADOTransmitter1 Config]\r\nTable=T\r\n"
                               "[ADOTransmitter1 QualityTranslation]\r\nRegel1=$C0\t$C0\tGut\r\n",
         "Ungültiger Schlüssel Regel1 in Zeile Regel1=$C0\t$C0\tGut in Section "
         "[ADOTransmitter1 QualityTranslation]"},
        {MinimalDatabasePart + "TransmitterCount=1\r\n[ADOTransmitter1 Config]\r\nTable=T\r\n"
                               "[ADOTransmitter1 QualityTranslation]\r\nRule1=C0\t$C0\tGut\r\n",
         "Fehler in Zeile Rule1=C0\t$C0\tGut in Section [ADOTransmitter1 QualityTranslation]: "
         "'C0' ist kein gültiger Integerwert"},
        {MinimalDatabasePart + "TransmitterCount=1\r\n[ADOTransmitter1 Config]\r\nTable=T\r\n"
                               "[ADOTransmitter1 Fields]\r\nA=LINK\tx\r\n",
         "Fehler in Zeile A=LINK\tx in Section [ADOTransmitter1 Fields]: Ungültiger Feldtyp LINK"},
        {MinimalDatabasePart + "TransmitterCount=1\r\n[ADOTransmitter1 Config]\r\nTable=T\r\n"
                               "TableType=7\r\n",
         "Ungültiger Tabellentyp 7 in Section [ADOTransmitter1 Config]"},
        {"[ConfigDataBase]\r\nDataBaseFormat=OTHER\r\n" + MinimalDatabasePart,
         "Das Format \"OTHER\" der Konfigurationsdatenbank wird nicht unterstützt. Die Datei wurde "
         "nicht verändert."},
        {"[ConfigDataBase]\r\nFormatVersion=11\r\n",
         "Die Version \"11\" des Formats der Konfigurationsdatenbank wird nicht unterstützt. Die "
         "Datei wurde nicht verändert."},
        {"[ConfigDataBase]\r\nUserName=abc\r\n",
         "Fehler in Section [ConfigDataBase]. Der Wert \"ConnectionString\" ist nicht vorhanden."},
        {MinimalDatabasePart + "UserName=kein*base64\r\n",
         "Der verschlüsselte Text ist ungültig: er ist kein gültiger Base64-Text aus ganzen "
         "Blöcken "
         "zu 8 Bytes."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LoadError(c.Text), c.Message) << c.Text.toStdString();

    TTDWDocument document;
    try {
        document.LoadFromFile(Dir.filePath("missing.tdw"), &Cache);
        ADD_FAILURE();
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Datei nicht gefunden.");
    }
}

TEST_F(TDWDocumentTest, DocumentsWithoutVersionOrOpcPartLoad)
{
    TTDWDocument document;
    document.LoadFromFile(Write("plain.tdw", MinimalDatabasePart), &Cache);
    ASSERT_NE(document.OPCBridge(), nullptr);
    EXPECT_EQ(document.OPCBridge()->TransmitterCount(), 0);
    EXPECT_FALSE(document.OPCBridge()->Connect()); // no server configured
    EXPECT_TRUE(EventLogger().TakeEntries().empty());
}

TEST_F(TDWDocumentTest, TextsBeyondWindows1252AreSavedAsUtf8AndReadBack)
{
    TTDWDocument document;
    document.LoadFromFile(Write("source.tdw", EveryFeatureText()), &Cache);
    document.OPCBridge()->Transmitters(1)->Items(0)->Alias = "Temperatur 温度";
    const QString path = Dir.filePath("utf8.tdw");
    document.SaveToFile(path);
    EXPECT_TRUE(Read(path).startsWith("\xEF\xBB\xBF"));

    TTDWDocument again;
    again.LoadFromFile(path, &Cache);
    EXPECT_EQ(again.OPCBridge()->Transmitters(1)->Items(0)->Alias, "Temperatur 温度");
}

TEST_F(TDWDocumentTest, EmptyCredentialsAreWrittenAsOneBlockAndReadBackEmpty)
{
    TTDWDocument document;
    document.LoadFromFile(Write("plain.tdw", MinimalDatabasePart), &Cache);
    const TIniFile ini(document.SaveToText());
    EXPECT_EQ(ini.ReadString("ADOConnection", "UserName").size(), 12);
    EXPECT_EQ(ini.ReadString("ADOConnection", "Password").size(), 12);

    const QString path = Dir.filePath("saved.tdw");
    document.SaveToFile(path);
    TTDWDocument again;
    again.LoadFromFile(path, &Cache);
    EXPECT_EQ(again.DataBaseBridge()->DataBaseController().UserID(), "");
    EXPECT_EQ(again.DataBaseBridge()->DataBaseController().Password(), "");
}

TEST_F(TDWDocumentTest, FailedSaveKeepsThePreviousFileAndTheDocumentState)
{
    const QString path = Write("doc.tdw", EveryFeatureText());
    TTDWDocument document;
    document.LoadFromFile(path, &Cache);
    document.SetModified(true);
    // A directory in place of the file: the save cannot replace it.
    const QString blocked = Dir.filePath("blocked.tdw");
    ASSERT_TRUE(QDir(Dir.path()).mkdir("blocked.tdw"));
    EXPECT_THROW(document.SaveToFile(blocked), Exception);
    EXPECT_EQ(document.FileName(), path);
    EXPECT_TRUE(document.Modified());
    EXPECT_TRUE(QFileInfo(blocked).isDir());
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList({"doc.tdw"}));
}

TEST_F(TDWDocumentTest, ModifiedAndConfigDBLinkFollowTheOperations)
{
    TTDWDocument document;
    EXPECT_TRUE(document.IsUntitled());
    document.ConfigDBLink = 1;
    document.SetModified(true);
    EXPECT_EQ(document.ConfigDBLink, 2);
    document.Clear();
    EXPECT_EQ(document.ConfigDBLink, 0);
    EXPECT_FALSE(document.Modified());
    document.SetDataBaseBridge(
        std::make_unique<TADOBridge>("Provider=SQLite;Data Source=x", "", "", &Cache));
    EXPECT_TRUE(document.Modified());
    const quint8 level = EventLogger().LoggingLevel();
    EventLogger().SetLoggingLevel(5); // the closing record has level 5
    EventLogger().TakeEntries();
    document.CloseDocument();
    EventLogger().SetLoggingLevel(level);
    const auto entries = EventLogger().TakeEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->Message, "Das Dokument wurde geschlossen");
}

// Thousands of mutations of a valid document: every load either succeeds or fails with a
// message, and none crashes, hangs or leaks (the sanitizer build runs this too).
TEST_F(TDWDocumentTest, MutatedDocumentsNeverCrashTheReader)
{
    const QByteArray original = EncodeDocumentText(EveryFeatureText());
    const QByteArray alphabet("[]=\t\r\n$;/xX0123456789-{}\xEF\xBB\xBF\xFF\x00", 29);
    QRandomGenerator random(20261211);
    int loaded = 0, refused = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = original;
        const int mutations = 1 + int(random.bounded(8));
        for (int m = 0; m < mutations && !bytes.isEmpty(); ++m) {
            const qsizetype at = random.bounded(bytes.size());
            switch (random.bounded(4)) {
            case 0: bytes[at] = alphabet[random.bounded(alphabet.size())]; break;
            case 1: bytes.remove(at, 1 + random.bounded(40)); break;
            case 2: bytes.insert(at, bytes.mid(random.bounded(bytes.size()), 30)); break;
            default: bytes.insert(at, "TransmitterCount=2147483647\r\n"); break;
            }
        }
        TTDWDocument document;
        try {
            document.LoadFromFile(Write("fuzz.tdw", bytes), &Cache);
            ++loaded;
        } catch (const Exception &e) {
            EXPECT_FALSE(e.Message().isEmpty());
            ++refused;
        }
        if (round % 100 == 0)
            EventLogger().TakeEntries();
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}
