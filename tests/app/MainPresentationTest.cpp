#include "app/MainPresentation.h"
#include "app/xHelp.h"

#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/xTDWDocument.h"
#include "opc/xOPC.h"
#include "platform/opcda/OpcDa.h"
#include "settings/xCommon.h"

#include "AppTestSupport.h"
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QColor Red = StatusColor::Red;

std::string Describe(const TStatusText &status)
{
    return (status.Text + QStringLiteral(" / ") + status.Color.name()).toStdString();
}

} // namespace

TEST(MainPresentation, SourceServerStatusForEachStateAndErrorFlag)
{
    const QString failed = QStringLiteral("OPC-Status: '%1'").arg(OPCServerStateText(2));
    const struct
    {
        TServerStatusFacts Facts;
        TStatusText Expected;
    } cases[] = {
        {{true, asRunning, 0, OPC_STATUS_RUNNING}, {"OK", StatusColor::Green}},
        {{true, asRunning, 0, OPC_STATUS_FAILED}, {failed, Red}},
        {{true, asRunning, 0, OPC_STATUS_NOCONFIG},
         {QStringLiteral("OPC-Status: '%1'").arg(OPCServerStateText(3)), StatusColor::Olive}},
        {{true, asRunning, 0, OPC_STATUS_SUSPENDED},
         {QStringLiteral("OPC-Status: '%1'").arg(OPCServerStateText(4)), StatusColor::Maroon}},
        {{true, asRunning, 0, OPC_STATUS_TEST},
         {QStringLiteral("OPC-Status: '%1'").arg(OPCServerStateText(5)), StatusColor::Navy}},
        // The connection error wins over groups, groups over items.
        {{true, asRunning, 0x01 | 0x08 | 0x10, OPC_STATUS_RUNNING}, {"Fehler in Verbindung", Red}},
        {{true, asRunning, 0x08 | 0x02, OPC_STATUS_RUNNING}, {"Fehlerhafte Gruppe(n)", Red}},
        {{true, asRunning, 0x02, OPC_STATUS_RUNNING}, {"Fehler in OPC-Element(en)", Red}},
        {{true, asRunning, 0x04, OPC_STATUS_RUNNING}, {"Fehler in OPC-Element(en)", Red}},
        {{true, asRunning, 0x10, OPC_STATUS_RUNNING}, {"Fehler in OPC-Element(en)", Red}},
        {{true, asPaused, 0x01, OPC_STATUS_RUNNING}, {"'Angehalten'", Red}},
        {{false, asStopped, 0, 0}, {"'Gestoppt'", Red}},
        {{false, asRunning, 0, 0}, {failed, Red}},
        {{false, asPaused, 0, 0}, {failed, Red}},
    };
    for (const auto &c : cases) {
        const TStatusText status = SourceServerStatus(c.Facts);
        EXPECT_EQ(status, c.Expected) << Describe(status) << " expected " << Describe(c.Expected);
    }
}

TEST(MainPresentation, DataBaseStatusForEachStateAndErrorFlag)
{
    const struct
    {
        TDataBaseStatusFacts Facts;
        TStatusText Expected;
    } cases[] = {
        {{asRunning, 0, true}, {"OK", StatusColor::Green}},
        {{asRunning, 0, false}, {"Nicht verbunden", Red}},
        {{asRunning, 0x04 | 0x01 | 0x02, true}, {"Fehler in Datenbank", Red}},
        {{asRunning, 0x01 | 0x02, true}, {"Fehler in Tabelle(n)", Red}},
        {{asRunning, 0x10, true}, {"Fehler in Tabelle(n)", Red}},
        {{asRunning, 0x20, true}, {"Fehler in Tabelle(n)", Red}},
        {{asRunning, 0x08, true}, {"Fehler in Tabelle(n)", Red}},
        {{asRunning, 0x02, true}, {"Fehler in Feld(ern)", Red}},
        {{asRunning, 0x40, true}, {"Fehler in Feld(ern)", Red}},
        {{asRunning, 0x80, true}, {"Fehler in Feld(ern)", Red}},
        {{asPaused, 0x04, false}, {"'Angehalten'", Red}},
        {{asStopped, 0, true}, {"'Gestoppt'", Red}},
    };
    for (const auto &c : cases) {
        const TStatusText status = DataBaseStatus(c.Facts);
        EXPECT_EQ(status, c.Expected) << Describe(status) << " expected " << Describe(c.Expected);
    }
}

TEST(MainPresentation, PanelsWithoutBridgeShowDashes)
{
    const TSourceServerPanel server =
        DescribeSourceServer(nullptr, asRunning, 0, [] { return 0.0; });
    EXPECT_EQ(server.Status, (TStatusText{"'Kein OPC-Server ausgewählt'", Red}));
    for (const QString &field :
         {server.Name, server.ID, server.Computer, server.Version, server.VendorInfo,
          server.ActiveSince, server.ServerTime, server.LastUpdate, server.ExecutionTime})
        EXPECT_EQ(field, "-");

    const TDataBasePanel db = DescribeDataBase(nullptr, asRunning, 0, -1, 0);
    EXPECT_EQ(db.Status, (TStatusText{"'Keine Datenbank ausgewählt'", Red}));
    for (const QString &field :
         {db.ForcedWrite, db.Connection, db.ConnectedSince, db.LastWrite, db.ExecutionTime})
        EXPECT_EQ(field, "-");
}

TEST(MainPresentation, DataBasePanelOfADisconnectedBridge)
{
    TADOBridge bridge(QStringLiteral("Provider=SQLite;Data Source=/nowhere/x.sqlite"),
                      QStringLiteral("user"), QStringLiteral("secret"), nullptr);
    const TDateTime now = 46000.5;
    TDataBasePanel panel = DescribeDataBase(&bridge, asRunning, now + 12.4 / 86400, 1.5f, now);
    EXPECT_EQ(panel.Status, (TStatusText{"Nicht verbunden", Red}));
    EXPECT_EQ(panel.ForcedWrite,
              "12 Sekunden (<a href=\"actEditDBForceWriteIntervall\">Ändern...</a>)");
    EXPECT_FALSE(panel.Connection.contains("secret"));
    EXPECT_EQ(panel.ConnectedSince, "-");
    EXPECT_EQ(panel.LastWrite, "-");
    EXPECT_EQ(panel.ExecutionTime, "1,5 ms");

    // An overdue write never counts below zero; outside asRunning there is no countdown.
    panel = DescribeDataBase(&bridge, asRunning, now - 1, -1, now);
    EXPECT_TRUE(panel.ForcedWrite.startsWith("0 Sekunden")) << panel.ForcedWrite.toStdString();
    EXPECT_EQ(panel.ExecutionTime, "-");
    EXPECT_EQ(DescribeDataBase(&bridge, asPaused, now + 1, 0, now).ForcedWrite, "-");
    EXPECT_EQ(DescribeDataBase(&bridge, asPaused, now + 1, 0, now).ExecutionTime, "0 ms");
}

TEST(MainPresentation, MillisecondsKeepUpToThreeDecimals)
{
    EXPECT_EQ(FormatMilliseconds(0), "0 ms");
    EXPECT_EQ(FormatMilliseconds(12.3456), "12,346 ms");
    EXPECT_EQ(FormatMilliseconds(7.1), "7,1 ms");
}

class CurrentValueRows : public ::testing::Test
{
protected:
    TDataCacheItem &Add(const QString &id,
                        std::initializer_list<std::pair<const char *, const char *>> attributes)
    {
        TDataCacheItem *item = Cache.Add(id);
        for (const auto &[name, value] : attributes)
            item->WriteAttribute(QString::fromUtf8(name), QString::fromUtf8(value));
        return *item;
    }

    TDataCache Cache;
};

TEST_F(CurrentValueRows, OneRowPerWrittenColumnAndNoneForUnwrittenItems)
{
    TDataCacheItem &temp = Add("Temp", {{"ValueTables", "werte\r\naktuell"},
                                        {"werte.TargetTableFields", "temp"},
                                        {"werte.StatusTable", "wertestatus"},
                                        {"werte.temp.DBState", "OK"},
                                        {"aktuell.TargetTableFields", "temp"},
                                        {"aktuell.StatusTable", "-"},
                                        {"aktuell.temp.DBState", "Schreibfehler"},
                                        {"OPCState", "OK"},
                                        {"Description", "Temperatur"},
                                        {"ValueUnit", "°C"}});
    temp.SetValue(TVariant::FromR8(21.5), 0xC0,
                  {EncodeDateTime(QDate(2026, 12, 11), QTime(13, 4, 5, 67)), 0});
    Add("Unused", {{"OPCState", "OK"}});
    // Without the column list of its first table the item is skipped altogether.
    Add("Broken", {{"ValueTables", "a\r\nb"}, {"b.TargetTableFields", "x"}});
    TDataCacheItem &bad = Add("Bad", {{"ValueTables", "werte"},
                                      {"werte.TargetTableFields", "bad\r\nbad2"},
                                      {"OPCState", "Unbekanntes Element"}});
    bad.SetValue(TVariant::Null(), 0x18, {});

    std::vector<TCurrentValueRow> rows;
    ASSERT_EQ(FillCurrentValueRows(Cache, rows), 4);

    const QStringList first = {"Temp",       "Temperatur",         "OK", "13:04:05,067", "21,5",
                               "°C",         OPCQualityText(0xC0), "OK", "temp",         "werte",
                               "wertestatus"};
    for (int column = 0; column < CurrentValueColumnCount; ++column)
        EXPECT_EQ(rows[0].Texts[std::size_t(column)], first[column]) << column;
    EXPECT_EQ(rows[0].Item, &temp);
    EXPECT_FALSE(rows[0].Alert);

    EXPECT_EQ(rows[1].Texts[9], "aktuell");
    EXPECT_EQ(rows[1].Texts[10], "-");
    EXPECT_EQ(rows[1].Texts[7], "Schreibfehler");
    EXPECT_TRUE(rows[1].Alert) << "a failed write shows red";

    EXPECT_EQ(rows[2].Texts[0], "Bad");
    EXPECT_EQ(rows[2].Texts[1], "?");
    EXPECT_EQ(rows[2].Texts[4], "(NULL)");
    EXPECT_EQ(rows[2].Texts[5], "?");
    EXPECT_EQ(rows[2].Texts[6],
              OPCQualityText(0x18) + QStringLiteral(" (") + OPCSubStatusText(0x18) + u')');
    EXPECT_EQ(rows[2].Texts[7], "?");
    EXPECT_EQ(rows[2].Texts[10], "?");
    EXPECT_TRUE(rows[2].Alert) << "a failed read shows red";
    EXPECT_EQ(rows[3].Texts[8], "bad2");
}

TEST_F(CurrentValueRows, RowsAreReusedAndNeverShrunk)
{
    Add("A", {{"ValueTables", "t"}, {"t.TargetTableFields", "a"}, {"OPCState", "OK"}});
    std::vector<TCurrentValueRow> rows(5);
    rows[1].Texts[0] = QStringLiteral("stale");
    EXPECT_EQ(FillCurrentValueRows(Cache, rows), 1);
    EXPECT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].Texts[0], "A");
}

TEST_F(CurrentValueRows, DeferredValueTextsFollowTheValue)
{
    TDataCacheItem &item =
        Add("A", {{"ValueTables", "t"}, {"t.TargetTableFields", "a\r\nb"}, {"OPCState", "OK"}});
    item.SetValue(TVariant::FromI4(5), 0xC0, {});
    std::vector<TCurrentValueRow> rows;
    ASSERT_EQ(FillCurrentValueRows(Cache, rows, true), 2);
    EXPECT_TRUE(rows[0].ValueTextPending);
    EXPECT_EQ(CurrentValueText(rows[0]), "5");

    // Unchanged: the formatted text stays; a new value of another type is formatted again.
    FillCurrentValueRows(Cache, rows, true);
    EXPECT_FALSE(rows[0].ValueTextPending);
    EXPECT_EQ(rows[0].Texts[4], "5");
    item.SetValue(TVariant::FromR8(5.5), 0xC0, {});
    FillCurrentValueRows(Cache, rows, true);
    EXPECT_EQ(CurrentValueText(rows[0]), "5,5");
    EXPECT_EQ(CurrentValueText(rows[1]), "5,5");
    item.SetValue(TVariant::Null(), 0xC0, {});
    FillCurrentValueRows(Cache, rows, false);
    EXPECT_EQ(rows[1].Texts[4], "(NULL)");
}

TEST(MainPresentation, EventTexts)
{
    TEventLogEntry entry;
    entry.SenderName = QStringLiteral("TOPCClientBridge");
    entry.Sender = reinterpret_cast<const void *>(quintptr(0x1234ABCD));
    entry.ThreadID = 7;
    EXPECT_EQ(EventSenderText(entry, 7), "TOPCClientBridge at $1234ABCD");
    EXPECT_EQ(EventSenderText(entry, 8), "TOPCClientBridge at $1234ABCD [Thread $0007]");
    entry.Sender = nullptr;
    EXPECT_EQ(EventSenderText(entry, 7), "TOPCClientBridge");

    EXPECT_EQ(EventRowText("2026-12-11 13:04:05,067", TEventImage::Warning, "Achtung", "System"),
              "2026-12-11 13:04:05,067 Warnung: Achtung [System]");
    EXPECT_EQ(EventRowText("t", TEventImage::None, "m", ""), "t: m []");
    EXPECT_EQ(EventTimeText(EncodeDateTime(QDate(2026, 12, 11), QTime(13, 4, 5, 67))),
              "2026-12-11 13:04:05,067");

    const struct
    {
        TEventType Type;
        TEventImage Image;
    } images[] = {{etError, TEventImage::Error},
                  {etSilentError, TEventImage::Error},
                  {etWarning, TEventImage::Warning},
                  {etSilentWarning, TEventImage::Warning},
                  {etInformation, TEventImage::Information},
                  {etDebug, TEventImage::Debug},
                  {etAuditSuccess, TEventImage::None},
                  {etGeneric, TEventImage::None}};
    for (const auto &c : images)
        EXPECT_EQ(EventImageOf(c.Type), c.Image) << int(c.Type);
}

TEST(MainPresentation, CaptionFollowsTheSettingsAndTheStatuses)
{
    TConfiguration settings(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Test\\"));
    settings.UserDefinedWindowCaption = QStringLiteral("Linie 1");
    settings.UserDefinedWindowErrorCaption = QStringLiteral("Linie 1 (Fehler)");
    const struct
    {
        bool UserDefined;
        const char *Server;
        const char *DataBase;
        const char *Expected;
    } cases[] = {
        {false, "Fehler in Verbindung", "", "Tidewell"},
        {true, "OK", "OK", "Linie 1"},
        {true, "", "", "Linie 1"},
        {true, "OK", "Nicht verbunden", "Linie 1 (Fehler)"},
        {true, "", "Nicht verbunden", "Linie 1 (Fehler)"},
        {true, "'Angehalten'", "", "Linie 1 (Fehler)"},
    };
    for (const auto &c : cases) {
        settings.UseUserDefinedWindowCaption = c.UserDefined;
        EXPECT_EQ(WindowCaption(&settings, c.Server, c.DataBase), c.Expected)
            << c.Server << " / " << c.DataBase;
    }
    EXPECT_EQ(WindowCaption(nullptr, "x", "y"), "Tidewell");
}

TEST(MainPresentation, StatusBarNamesFileAndConfigurationDatabase)
{
    QTemporaryDir dir;
    TTDWDocument document;
    EXPECT_EQ(DescribeStatusBarDocument(document).Image, -1);
    EXPECT_TRUE(DescribeStatusBarDocument(document).Text.isEmpty());

    document.ConfigDB.ConnectionString = QStringLiteral("Provider=SQLite;Data Source=konfig.db");
    document.ConfigDBLink = 1;
    EXPECT_EQ(DescribeStatusBarDocument(document).Text, "konfig.db");
    EXPECT_EQ(DescribeStatusBarDocument(document).Image, 1);

    document.SaveToFile(dir.filePath(QStringLiteral("anlage.tdw")));
    EXPECT_EQ(DescribeStatusBarDocument(document).Text, "anlage.tdw -> konfig.db");
    EXPECT_EQ(DescribeStatusBarDocument(document).Image, 2);
    document.ConfigDBLink = 0;
    EXPECT_EQ(DescribeStatusBarDocument(document).Text, "anlage.tdw");
    EXPECT_EQ(DescribeStatusBarDocument(document).Image, 0);
}

TEST(MainPresentation, EveryHelpContextHasAShippedPage)
{
    THelp help; // registers the pages
    EXPECT_EQ(HelpTopicOfContext(2), "firststeps.htm");
    EXPECT_EQ(HelpTopicOfContext(9), "usingaconfigurationdatabase.htm");
    EXPECT_EQ(HelpUrl(1).fileName(), "index.htm");
    EXPECT_EQ(HelpUrl(10).fileName(), "index.htm");
    for (int context = 0; context <= 10; ++context) {
        const QString path = QLatin1Char(':') + HelpUrl(context).path();
        QFile page(path);
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << path.toStdString();
        EXPECT_TRUE(page.readAll().contains("<h1>")) << path.toStdString();
    }
}
