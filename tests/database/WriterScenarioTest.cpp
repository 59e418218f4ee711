// Write cycles against a real database, once per backend (instantiated by each test executable).
#include "WriterScenarioTest.h"

#include "database/DateTimePattern.h"

#include <cmath>

TEST_P(WriterTest, ConnectReadsColumnTypesAndSizes)
{
    Sql->Exec(QStringLiteral(
        "CREATE TABLE t (k VARCHAR(12), i INTEGER, d DOUBLE PRECISION, ts TIMESTAMP)"));
    auto bridge = NewBridge();
    TADOTableTransmitter *table = AddTable(*bridge, QStringLiteral("t"), tt_TableInsert);
    auto *k = AddColumn<TKeyADOTableField>(table, "K");
    auto *i = AddColumn<TLinkedADOTableField>(table, "i");
    auto *d = AddColumn<TLinkedADOTableField>(table, "D");
    auto *ts = AddColumn<TTransmitTimeADOTableField>(table, "ts");
    auto *missing = AddColumn<TConstantADOTableField>(table, "missing");

    ASSERT_TRUE(bridge->TryToConnect());
    EXPECT_TRUE(IsStringDataType(k->DataType)) << k->DataType;
    EXPECT_EQ(k->Size, 12);
    EXPECT_EQ(i->DataType, adInteger);
    EXPECT_EQ(d->DataType, adDouble);
    EXPECT_EQ(ts->DataType, adDBTimeStamp);
    EXPECT_EQ(missing->DataType, adEmpty);
    EXPECT_EQ(missing->Size, 0);
    EXPECT_GT(bridge->ConnectTime.Local, 0.0);
    const auto events = Events.Take();
    const TLoggedEvent *connected =
        FindEvent(events, QStringLiteral("ADO: Die Verbindung zur Datenbank wurde aufgebaut."));
    ASSERT_NE(connected, nullptr);
    EXPECT_EQ(connected->Type, etDebug);
    EXPECT_EQ(connected->Sender, QStringLiteral("TADOBridge"));
}

TEST_P(WriterTest, InsertTableAndStatusTableGetValueAndTranslatedQuality)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t (a DOUBLE PRECISION, b VARCHAR(20), c TIMESTAMP)"));
    Sql->Exec(QStringLiteral("CREATE TABLE s (a VARCHAR(20), b VARCHAR(20), c TIMESTAMP)"));
    auto bridge = NewBridge();
    TADOTableTransmitter *table =
        AddTable(*bridge, QStringLiteral("t"), tt_TableInsert, QStringLiteral("s"));
    table->QualityTranslation().AddRule(0xC0, 0xC0, TVariant::FromString(QStringLiteral("G")));
    table->QualityTranslation().AddRule(0xC0, 0x00, TVariant::FromString(QStringLiteral("B")));
    AddColumn<TLinkedADOTableField>(table, "a")->Alias = QStringLiteral("Item1");
    AddColumn<TConstantADOTableField>(table, "b")->Value =
        TVariant::FromString(QStringLiteral("Linie 1"));
    AddColumn<TTransmitTimeADOTableField>(table, "c");

    SetItem(QStringLiteral("Item1"), TVariant::FromR8(2.5), 0xC0);
    Start(*bridge);
    bridge->Transmit();
    SetItem(QStringLiteral("Item1"), TVariant::FromR8(3.5), 0x18);
    bridge->Transmit();

    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a, b FROM t ORDER BY a")),
              (QStringList{"2.5|Linie 1", "3.5|Linie 1"}));
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a, b FROM s ORDER BY a DESC")),
              (QStringList{"G|Linie 1", "B|Linie 1"}));
    // the time column holds the start of the last cycle, to the second
    const TVariant written = Sql->Value(QStringLiteral("SELECT MAX(c) FROM t"));
    TVariant asDate;
    ASSERT_EQ(written.ChangeType(VT_DATE, asDate, QLocale::c()), S_OK)
        << written.ToString().toStdString();
    EXPECT_LT(std::abs(asDate.AsDouble() - bridge->LastWriteTime.Local) * SecsPerDay, 1.0);
    EXPECT_EQ(Sql->Count(QStringLiteral("s WHERE c IS NOT NULL")), 2);
    EXPECT_EQ(bridge->ErrorFlags(), 0);
    EXPECT_TRUE(bridge->Connected);
}

TEST_P(WriterTest, UpdateTableCountsKeyRowsBeforeWriting)
{
    Sql->Exec(QStringLiteral("CREATE TABLE u (k VARCHAR(10), n INTEGER, a INTEGER)"));
    auto bridge = NewBridge();
    TADOTableTransmitter *table = AddTable(*bridge, QStringLiteral("u"), tt_TableUpdate);
    // a key with the quote character in it must still select its row
    AddColumn<TKeyADOTableField>(table, "k")->Value = TVariant::FromString(QStringLiteral("l'1"));
    AddColumn<TKeyADOTableField>(table, "n")->Value = TVariant::FromString(QStringLiteral("5"));
    AddColumn<TLinkedADOTableField>(table, "a")->Alias = QStringLiteral("Item1");
    SetItem(QStringLiteral("Item1"), TVariant::FromI4(1), 0xC0);
    Start(*bridge);
    const QString noRows = QStringLiteral(
        "Die Update-Tabelle \"u\" enthält keine Datensätze. Schreibvorgänge in diese Tabelle "
        "können nicht durchgeführt werden.");
    const QString severalRows = QStringLiteral(
        "Die Update-Tabelle \"u\" enthält mehr als einen zu überschreibenen Datensatz. "
        "Schreibvorgänge werden zwar durchgeführt, jedoch werden alle Datensätze überschrieben. "
        "Dies kann beim Schreiben von Primärschlüsseln zu Fehlern führen.");

    SetItem(QStringLiteral("Item1"), TVariant::FromI4(1), 0xC0);
    bridge->Transmit();
    bridge->Transmit();
    QStringList messages = Events.TakeMessages();
    EXPECT_EQ(CountOf(messages, noRows), 1);
    EXPECT_EQ(table->ErrorFlags, de_NoRowToUpdate);
    EXPECT_EQ(CountStartingWith(messages, QStringLiteral("InsistentExecuteCommand")), 0);

    for (int row = 0; row < 3; ++row)
        Sql->Exec(QStringLiteral("INSERT INTO u (k, n, a) VALUES ('l''1', 5, 0)"));
    Sql->Exec(QStringLiteral("INSERT INTO u (k, n, a) VALUES ('l''1', 6, 0)"));
    SetItem(QStringLiteral("Item1"), TVariant::FromI4(2), 0xC0);
    bridge->Transmit();
    bridge->Transmit();
    messages = Events.TakeMessages();
    EXPECT_EQ(CountOf(messages, severalRows), 1);
    EXPECT_EQ(table->ErrorFlags, 0);
    EXPECT_TRUE(table->MultipleRowsReported());
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT n, a FROM u ORDER BY n")),
              (QStringList{"5|2", "5|2", "5|2", "6|0"}));

    Sql->Exec(QStringLiteral("DELETE FROM u WHERE a = 2"));
    Sql->Exec(QStringLiteral("INSERT INTO u (k, n, a) VALUES ('l''1', 5, 0)"));
    SetItem(QStringLiteral("Item1"), TVariant::FromI4(3), 0xC0);
    bridge->Transmit();
    EXPECT_FALSE(table->MultipleRowsReported());
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT n, a FROM u ORDER BY n")),
              (QStringList{"5|3", "6|0"}));
    // every count ran with the apostrophe
    EXPECT_EQ(bridge->QuoteChar(), u'\'');
}

TEST_P(WriterTest, UpdateTableWithStatusTableOverwritesBothRows)
{
    Sql->Exec(QStringLiteral("CREATE TABLE u (k INTEGER, a INTEGER, b VARCHAR(10))"));
    Sql->Exec(QStringLiteral("CREATE TABLE su (k INTEGER, a VARCHAR(10), b VARCHAR(10))"));
    Sql->Exec(QStringLiteral("INSERT INTO u (k, a, b) VALUES (1, 0, '')"));
    Sql->Exec(QStringLiteral("INSERT INTO su (k, a, b) VALUES (1, '', '')"));
    auto bridge = NewBridge();
    TADOTableTransmitter *table =
        AddTable(*bridge, QStringLiteral("u"), tt_TableUpdate, QStringLiteral("su"));
    AddColumn<TKeyADOTableField>(table, "k")->Value = TVariant::FromString(QStringLiteral("1"));
    AddColumn<TLinkedADOTableField>(table, "a")->Alias = QStringLiteral("Item1");
    AddColumn<TConstantADOTableField>(table, "b")->Value =
        TVariant::FromString(QStringLiteral("x"));
    SetItem(QStringLiteral("Item1"), TVariant::FromI4(42), 0x40);
    Start(*bridge);
    bridge->Transmit();
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a, b FROM u")), QStringList{"42|x"});
    // no rules: the numeric quality
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a, b FROM su")), QStringList{"64|x"});
    EXPECT_EQ(bridge->ErrorFlags(), 0);
}

TEST_P(WriterTest, OneFailingTableLeavesTheOthersCommitted)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t1 (a INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE t2 (a INTEGER CHECK (a < 100))"));
    Sql->Exec(QStringLiteral("CREATE TABLE t3 (a INTEGER)"));
    auto bridge = NewBridge();
    TADOTableTransmitter *tables[3];
    for (int i = 0; i < 3; ++i) {
        tables[i] = AddTable(*bridge, QStringLiteral("t%1").arg(i + 1), tt_TableInsert);
        AddColumn<TLinkedADOTableField>(tables[i], "a")->Alias = QStringLiteral("Item1");
    }
    SetItem(QStringLiteral("Item1"), TVariant::FromI4(500), 0xC0);
    Start(*bridge);
    bridge->Transmit();
    bridge->Transmit();

    EXPECT_EQ(Sql->Count(QStringLiteral("t1")), 2);
    EXPECT_EQ(Sql->Count(QStringLiteral("t2")), 0);
    EXPECT_EQ(Sql->Count(QStringLiteral("t3")), 2);
    EXPECT_EQ(tables[0]->ErrorFlags, 0);
    EXPECT_EQ(tables[1]->ErrorFlags, de_WriteError);
    EXPECT_EQ(tables[2]->ErrorFlags, 0);
    EXPECT_TRUE(bridge->Connected);
    QStringList messages = Events.TakeMessages();
    const QString errorStart = QStringLiteral(
        "Beim Schreiben in die Tabelle \"t2\" ist ein Fehler aufgetreten.  Meldung: ");
    ASSERT_EQ(CountStartingWith(messages, errorStart), 1) << messages.join(u'\n').toStdString();
    const QString error = *std::find_if(messages.begin(), messages.end(),
                                        [&](const QString &m) { return m.startsWith(errorStart); });
    EXPECT_TRUE(error.endsWith(QStringLiteral("; Verwendetes SQL-Statement: INSERT INTO \"t2\" (a) "
                                              "VALUES (?); Verwendete Werte für Parameter: "
                                              "[(500)]")))
        << error.toStdString();
    EXPECT_GE(CountStartingWith(messages, QStringLiteral("InsistentExecuteCommand: Nach einen oder "
                                                         "mehreren erfolglosen Versuchen wird "
                                                         "erneut probiert")),
              2);
    EXPECT_EQ(CountOf(messages, QStringLiteral("InsistentExecuteCommand: Nach einen oder "
                                               "mehreren erfolglosen Versuch wird das Ausführen "
                                               "des Commands abgebrochen.")),
              2);

    SetItem(QStringLiteral("Item1"), TVariant::FromI4(7), 0xC0);
    bridge->Transmit();
    EXPECT_EQ(Sql->Count(QStringLiteral("t2")), 1);
    EXPECT_EQ(tables[1]->ErrorFlags, 0);
    const auto events = Events.Take();
    const TLoggedEvent *recovered = FindEvent(
        events, QStringLiteral("Das Schreiben in die Tabelle \"t2\" war nach einem erfolglosen "
                               "Versuch wieder erfolgreich."));
    ASSERT_NE(recovered, nullptr);
    EXPECT_EQ(recovered->Type, etInformation);
    EXPECT_EQ(recovered->Sender, QString());
}

TEST_P(WriterTest, ValueOfWrongTypeAndUnknownAliasFailOnlyTheirTable)
{
    // SQLite keeps text in an INTEGER column unless told otherwise.
    Sql->Exec(Db.Name == QLatin1String("SQLite")
                  ? QStringLiteral("CREATE TABLE t1 (a INTEGER CHECK (typeof(a) = 'integer'))")
                  : QStringLiteral("CREATE TABLE t1 (a INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE t2 (a INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE t3 (a VARCHAR(10))"));
    auto bridge = NewBridge();
    AddColumn<TConstantADOTableField>(AddTable(*bridge, QStringLiteral("t1"), tt_TableInsert), "a")
        ->Value = TVariant::FromString(QStringLiteral("keine Zahl"));
    AddColumn<TLinkedADOTableField>(AddTable(*bridge, QStringLiteral("t2"), tt_TableInsert), "a")
        ->Alias = QStringLiteral("NoSuchItem");
    AddColumn<TConstantADOTableField>(AddTable(*bridge, QStringLiteral("t3"), tt_TableInsert), "a")
        ->Value = TVariant::FromString(QStringLiteral("ok"));
    Start(*bridge);
    bridge->Transmit();
    EXPECT_EQ(Sql->Count(QStringLiteral("t1")), 0);
    EXPECT_EQ(Sql->Count(QStringLiteral("t2")), 0);
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a FROM t3")), QStringList{"ok"});
    const QStringList messages = Events.TakeMessages();
    EXPECT_EQ(CountStartingWith(messages, QStringLiteral("Beim Schreiben in die Tabelle \"t1\"")),
              1);
    EXPECT_EQ(CountStartingWith(
                  messages, QStringLiteral("Beim Schreiben in die Tabelle \"t2\" ist ein Fehler "
                                           "aufgetreten.  Meldung: Ungültige ItemID;")),
              1);
}

TEST_P(WriterTest, ValidationMarksMissingTablesColumnsAndKeys)
{
    Sql->Exec(QStringLiteral("CREATE TABLE v (k INTEGER, a INTEGER, Value1 INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE VIEW w AS SELECT k, a FROM v"));
    auto bridge = NewBridge();
    TADOTableTransmitter *missing =
        AddTable(*bridge, QStringLiteral("mt"), tt_TableInsert, QStringLiteral("ms"));
    AddColumn<TConstantADOTableField>(missing, "a");
    TADOTableTransmitter *view = AddTable(*bridge, QStringLiteral("w"), tt_TableInsert);
    AddColumn<TConstantADOTableField>(view, "a");
    TADOTableTransmitter *keyless = AddTable(*bridge, QStringLiteral("V"), tt_TableUpdate);
    AddColumn<TKeyADOTableField>(keyless, "k");
    AddColumn<TKeyADOTableField>(keyless, "kx");
    AddColumn<TConstantADOTableField>(keyless, "a");
    TADOTableTransmitter *same =
        AddTable(*bridge, QStringLiteral("v"), tt_TableInsert, QStringLiteral("V"));
    auto *upper = AddColumn<TConstantADOTableField>(same, "VALUE1");
    auto *gone = AddColumn<TConstantADOTableField>(same, "gone");

    bridge->ValidateWithProgress();
    const QStringList messages = Events.TakeMessages();
    const auto has = [&](const QString &text) { return messages.contains(text); };
    EXPECT_TRUE(has(QStringLiteral("Die Tabelle \"mt\" konnte nicht in der Datenbank gefunden "
                                   "werden.")));
    EXPECT_TRUE(has(QStringLiteral("Die Tabelle \"w\" konnte nicht in der Datenbank gefunden "
                                   "werden.")));
    EXPECT_TRUE(
        has(QStringLiteral("Die Tabelle \"mt\" wurde aus Sicherheitsgründen deaktiviert.")));
    EXPECT_TRUE(
        has(QStringLiteral("Die Tabelle \"ms\" wurde aus Sicherheitsgründen deaktiviert.")));
    // the status table is not looked for once both are off
    EXPECT_FALSE(has(QStringLiteral("Die Tabelle \"ms\" konnte nicht in der Datenbank gefunden "
                                    "werden.")));
    EXPECT_EQ(missing->ErrorFlags, de_Unknown);
    EXPECT_FALSE(missing->Enabled());
    EXPECT_FALSE(missing->StatusEnabled());
    EXPECT_FALSE(view->Enabled());

    EXPECT_TRUE(has(QStringLiteral("Das Tabellenfeld \"kx\" wurde nicht in der Tabelle \"V\" "
                                   "gefunden.")));
    EXPECT_TRUE(has(QStringLiteral(
        "Die Tabelle \"V\" benötigt das Schlüsselfeld \"kx\" zur eindeutigen Identifizierung des "
        "zu überschreibenen Datensatzes. Das Schlüsselfeld wurde nicht in der Tabelle gefunden.")));
    EXPECT_TRUE(has(QStringLiteral("Die Tabelle \"V\" wurde aus Sicherheitsgründen deaktiviert.")));
    EXPECT_FALSE(keyless->Enabled());
    EXPECT_EQ(keyless->ErrorFlags, de_Unknown);
    // after the switch-off the later column is not checked any more
    EXPECT_EQ(keyless->Fields(2)->ErrorFlags, 0);

    EXPECT_TRUE(same->Enabled());
    EXPECT_TRUE(same->StatusEnabled());
    EXPECT_EQ(upper->ErrorFlags | upper->StatusErrorFlags, 0);
    EXPECT_EQ(gone->ErrorFlags, de_Unknown);
    EXPECT_EQ(gone->StatusErrorFlags, de_Unknown);
    EXPECT_EQ(CountOf(messages, QStringLiteral("Das Tabellenfeld \"gone\" wurde nicht in der "
                                               "Tabelle \"v\" gefunden.")),
              1);
    EXPECT_EQ(CountOf(messages, QStringLiteral("Das Tabellenfeld \"gone\" wurde nicht in der "
                                               "Tabelle \"V\" gefunden.")),
              1);

    // The missing tables appear: the next validation switches them on again.
    Sql->Exec(QStringLiteral("CREATE TABLE mt (a INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE ms (a INTEGER)"));
    bridge->ValidateWithProgress();
    const QStringList again = Events.TakeMessages();
    EXPECT_TRUE(again.contains(QStringLiteral("Die Tabelle \"mt\" wurde wieder aktiviert.")));
    EXPECT_TRUE(again.contains(QStringLiteral("Die Tabelle \"ms\" wurde wieder aktiviert.")));
    EXPECT_EQ(missing->ErrorFlags | missing->StatusErrorFlags, 0);
    EXPECT_TRUE(missing->Enabled() && missing->StatusEnabled());
}

TEST_P(WriterTest, MissingColumnsAreLeftOutOfTheRow)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t (a INTEGER, c INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE u (k INTEGER, a INTEGER)"));
    Sql->Exec(QStringLiteral("INSERT INTO u (k, a) VALUES (1, 0)"));
    auto bridge = NewBridge();
    TADOTableTransmitter *insert = AddTable(*bridge, QStringLiteral("t"), tt_TableInsert);
    AddColumn<TConstantADOTableField>(insert, "a")->Value = TVariant::FromString("1");
    AddColumn<TConstantADOTableField>(insert, "b")->Value = TVariant::FromString("2");
    AddColumn<TConstantADOTableField>(insert, "c")->Value = TVariant::FromString("3");
    TADOTableTransmitter *update = AddTable(*bridge, QStringLiteral("u"), tt_TableUpdate);
    AddColumn<TKeyADOTableField>(update, "k")->Value = TVariant::FromString("1");
    AddColumn<TConstantADOTableField>(update, "a")->Value = TVariant::FromString("9");
    AddColumn<TConstantADOTableField>(update, "nope")->Value = TVariant::FromString("9");
    Start(*bridge);
    bridge->Transmit();
    EXPECT_EQ(insert->ValueCommand()->CommandText(),
              QStringLiteral("INSERT INTO \"t\" (a, c) VALUES (?, ?)"));
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a, c FROM t")), QStringList{"1|3"});
    EXPECT_TRUE(update->Enabled());
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a FROM u")), QStringList{"9"});
    EXPECT_EQ(bridge->ErrorFlags(), de_Unknown); // the columns' marks
}

TEST_P(WriterTest, ProbeKeepsConnectionWhileATableAnswers)
{
    Sql->Exec(QStringLiteral("CREATE TABLE here (a INTEGER)"));
    auto bridge = NewBridge();
    std::uint32_t tick = 100000;
    bridge->TickSource = [&] { return tick; };
    // Both tables are switched off by validation: nothing is ever written.
    AddColumn<TConstantADOTableField>(AddTable(*bridge, QStringLiteral("gone"), tt_TableInsert),
                                      "a");
    AddColumn<TKeyADOTableField>(AddTable(*bridge, QStringLiteral("here"), tt_TableUpdate), "k");
    Start(*bridge);
    Events.Take();
    bridge->Transmit();
    QStringList messages = Events.TakeMessages();
    EXPECT_TRUE(messages.contains(QStringLiteral(
        "Es konnte kein erfolgreicher Schreibvorgang ausgeführt werden. Das Vorhandensein der "
        "Datenbankverbindung wird nochmals überprüft")));
    EXPECT_TRUE(messages.contains(QStringLiteral("Datenbankverbindung besteht weiterhin.")));
    EXPECT_TRUE(bridge->Connected);

    Sql->Exec(QStringLiteral("DROP TABLE here"));
    bridge->Transmit();
    messages = Events.TakeMessages();
    EXPECT_TRUE(messages.contains(QStringLiteral("ADO: Die Verbindung zur Datenbank wurde "
                                                 "getrennt.")));
    EXPECT_FALSE(bridge->Connected);
    EXPECT_FALSE(bridge->DataBaseController().Connected());
    EXPECT_EQ(bridge->ProbeCommand(), nullptr);

    // Not within the reconnect interval of the last attempt...
    tick += 19999;
    bridge->Transmit();
    EXPECT_FALSE(bridge->Connected);
    EXPECT_FALSE(Events.TakeMessages().contains(QStringLiteral("DB-Verbinung wird getrennt.")));
    // ...but after it.
    tick += 1;
    Sql->Exec(QStringLiteral("CREATE TABLE here (a INTEGER)"));
    ASSERT_TRUE(bridge->TryToConnect());
    bridge->ValidateWithProgress();
    bridge->Transmit();
    messages = Events.TakeMessages();
    EXPECT_TRUE(messages.contains(QStringLiteral("Datenbankverbindung besteht weiterhin.")));
    EXPECT_TRUE(bridge->Connected);
}

TEST_P(WriterTest, StatementsAreRenewedAfterTheInterval)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t (a INTEGER)"));
    auto bridge = NewBridge();
    std::uint32_t tick = 5000;
    bridge->TickSource = [&] { return tick; };
    AddColumn<TConstantADOTableField>(AddTable(*bridge, QStringLiteral("t"), tt_TableInsert), "a")
        ->Value = TVariant::FromString("1");
    Start(*bridge);
    bridge->Transmit();
    EXPECT_EQ(bridge->LastCommandRenewalTick, 5000u);
    const QString released =
        QStringLiteral("ADO: Das Command-Objekt für die Tabelle \"t\" wurde freigegeben.");
    const QString built = QStringLiteral("ValueTable-Command wird erzeugt.");
    Events.Take();
    tick += 899999;
    bridge->Transmit();
    QStringList messages = Events.TakeMessages();
    EXPECT_EQ(CountOf(messages, released), 0);
    EXPECT_EQ(CountOf(messages, built), 0);
    tick += 1;
    bridge->Transmit();
    messages = Events.TakeMessages();
    EXPECT_EQ(CountOf(messages, released), 1);
    EXPECT_EQ(CountOf(messages, built), 1);
    EXPECT_EQ(bridge->LastCommandRenewalTick, tick);
    EXPECT_EQ(Sql->Count(QStringLiteral("t")), 3);
}

TEST_P(WriterTest, UnreachableDatabaseIsReportedOnceAndRetriedAfterInterval)
{
    const TTestDatabase bad = Scratch->Unreachable();
    TADOBridge bridge(bad.ConnectionString, bad.UserID, bad.Password, &Cache);
    std::uint32_t tick = 50000;
    bridge.TickSource = [&] { return tick; };
    AddColumn<TConstantADOTableField>(AddTable(bridge, QStringLiteral("t"), tt_TableInsert), "a");
    bridge.Transmit();
    tick += 5000;
    bridge.Transmit();
    auto events = Events.Take();
    QStringList messages;
    for (const auto &event : events)
        messages << event.Message;
    EXPECT_EQ(CountOf(messages, QStringLiteral("DB-Verbinung wird getrennt.")), 1);
    const QString failure =
        QStringLiteral("Es kann keine Verbindung zur Datenbank aufgebaut werden. Meldung: ");
    ASSERT_EQ(CountStartingWith(messages, failure), 1);
    const auto it = std::find_if(events.begin(), events.end(), [&](const auto &event) {
        return event.Message.startsWith(failure);
    });
    EXPECT_EQ(it->Type, etError);
    EXPECT_EQ(it->Sender, QStringLiteral("TADOBridge"));
    EXPECT_GT(it->Message.size(), failure.size()); // carries the driver's reason
    EXPECT_EQ(bridge.ErrorFlags(), de_DatabaseUnreachable);

    tick += 15000;
    bridge.Transmit();
    messages = Events.TakeMessages();
    EXPECT_EQ(CountOf(messages, QStringLiteral("DB-Verbinung wird getrennt.")), 1);
    EXPECT_EQ(CountStartingWith(messages, failure), 0);

    // The database comes within reach: the next attempt clears the mark.
    const TTestDatabase good = Scratch->Database();
    bridge.DataBaseController().SetConnectionString(good.ConnectionString);
    bridge.DataBaseController().SetUserID(good.UserID);
    bridge.DataBaseController().SetPassword(good.Password);
    tick += 20000;
    EXPECT_TRUE(bridge.TryToConnect());
    EXPECT_EQ(bridge.ErrorFlags() & de_DatabaseUnreachable, 0);
}

TEST_P(WriterTest, TransmitWithoutTablesConnectsAndDoesNotProbe)
{
    auto bridge = NewBridge();
    EXPECT_EQ(bridge->LastWriteTime.Local, -1.0);
    bridge->Transmit();
    EXPECT_TRUE(bridge->Connected);
    EXPECT_GT(bridge->LastWriteTime.Local, 0.0);
    EXPECT_FALSE(Events.TakeMessages().contains(QStringLiteral(
        "Es konnte kein erfolgreicher Schreibvorgang ausgeführt werden. Das Vorhandensein der "
        "Datenbankverbindung wird nochmals überprüft")));
    bridge->Disconnect();
    EXPECT_FALSE(bridge->Connected);
    EXPECT_FALSE(bridge->DataBaseController().Connected());
    EXPECT_EQ(bridge->Recordset(), nullptr);
}

TEST_P(WriterTest, ValidationShowsItsStepsAndUpdatesStatesAfterAnError)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t (a INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE s (a INTEGER)"));
    auto bridge = NewBridge();
    TRecordingProgress progress;
    bridge->SetValidationProgress(&progress);
    TADOTableTransmitter *table =
        AddTable(*bridge, QStringLiteral("t"), tt_TableInsert, QStringLiteral("s"));
    AddColumn<TLinkedADOTableField>(table, "a")->Alias = QStringLiteral("Item1");
    Cache.Add(QStringLiteral("Item1"));
    bridge->ValidateWithProgress();
    EXPECT_EQ(progress.Captions, QStringList{"Bitte warten..."});
    ASSERT_GE(progress.Steps.size(), 4);
    EXPECT_EQ(progress.Steps[0].left(2), QStringLiteral("0:"));
    EXPECT_EQ(progress.Steps.mid(1),
              (QStringList{"1:\"t\" / \"s\"", "2:", "2:\"a\" in Tabelle \"t\"",
                           "2:\"a\" in Tabelle \"s\""}));
    EXPECT_GE(progress.Activity, 2);
    EXPECT_EQ(Attribute(QStringLiteral("Item1"), QStringLiteral("t.a.DBState")),
              QStringLiteral("OK"));

    // A failing check ends the window with its exception; the states are published anyway.
    Sql->Exec(QStringLiteral("DROP TABLE t"));
    auto failing = std::make_unique<TFailingTransmitter>(bridge.get());
    bridge->AddTransmitter(std::move(failing));
    EXPECT_THROW(bridge->ValidateWithProgress(), Exception);
    EXPECT_EQ(Attribute(QStringLiteral("Item1"), QStringLiteral("t.a.DBState")),
              QStringLiteral("Unbekannte Zieltabelle"));
}

TEST_P(WriterTest, BrokenCycleIsRolledBackAndTheNextOneWritesAgain)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t (a INTEGER)"));
    auto bridge = NewBridge();
    AddColumn<TConstantADOTableField>(AddTable(*bridge, QStringLiteral("t"), tt_TableInsert), "a")
        ->Value = TVariant::FromString("1");
    auto *thrower = static_cast<TThrowingTransmitter *>(
        bridge->AddTransmitter(std::make_unique<TThrowingTransmitter>(bridge.get())));
    Start(*bridge);
    EXPECT_THROW(bridge->Transmit(), Exception);
    EXPECT_EQ(Sql->Count(QStringLiteral("t")), 0); // the row of the broken cycle is gone
    EXPECT_FALSE(bridge->DataBaseController().Connection()->InTransaction());
    thrower->Throw = false;
    bridge->Transmit();
    EXPECT_EQ(Sql->Count(QStringLiteral("t")), 1);
}

TEST_P(WriterTest, CycleBrokenBeforeAnyWriteReconnectsInsteadOfStickingOpen)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t (a INTEGER)"));
    auto bridge = NewBridge();
    std::uint32_t tick = 1000;
    bridge->TickSource = [&] { return tick; };
    auto *thrower = static_cast<TThrowingTransmitter *>(
        bridge->AddTransmitter(std::make_unique<TThrowingTransmitter>(bridge.get())));
    AddColumn<TConstantADOTableField>(AddTable(*bridge, QStringLiteral("t"), tt_TableInsert), "a")
        ->Value = TVariant::FromString("1");
    Start(*bridge);
    EXPECT_THROW(bridge->Transmit(), Exception);
    EXPECT_FALSE(bridge->Connected);
    thrower->Throw = false;
    tick += 20000;
    // the runtime control's next write
    ASSERT_TRUE(bridge->TryToConnect());
    Start(*bridge);
    bridge->Transmit();
    EXPECT_EQ(Sql->Count(QStringLiteral("t")), 1);
    EXPECT_EQ(bridge->ErrorFlags(), 0);
    EXPECT_FALSE(Events.TakeMessages().join(u'\n').contains(QStringLiteral("besteht bereits")));
}

TEST_P(WriterTest, TableWithoutTypeFailsOnlyItsOwnWrite)
{
    Sql->Exec(QStringLiteral("CREATE TABLE t (a INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE t2 (a INTEGER)"));
    auto bridge = NewBridge();
    TADOTableTransmitter *untyped = bridge->AddTableTransmitter();
    untyped->TableName = QStringLiteral("t");
    AddColumn<TConstantADOTableField>(untyped, "a");
    AddColumn<TConstantADOTableField>(AddTable(*bridge, QStringLiteral("t2"), tt_TableInsert), "a")
        ->Value = TVariant::FromString("1");
    bridge->ValidateWithProgress();
    // Preparing raises for the untyped table; the write cycle reports it and goes on.
    EXPECT_THROW(bridge->PrepareTransmission(), Exception);
    EXPECT_NO_THROW(bridge->Transmit());
    EXPECT_EQ(Sql->Count(QStringLiteral("t2")), 1);
    EXPECT_TRUE(Events.TakeMessages().contains(QStringLiteral(
        "Beim Schreiben in die Tabelle \"t\" ist ein Fehler aufgetreten.  Meldung: Es wurde kein "
        "Tabellentyp für die Tabelle \"t\" angegeben; Verwendetes SQL-Statement: ; Verwendete "
        "Werte für Parameter: []")));
    EXPECT_EQ(untyped->ErrorFlags, de_WriteError);
}
