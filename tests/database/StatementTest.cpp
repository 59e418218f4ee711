// Statement texts and parameters, built without a database.
#include "DatabaseTestSupport.h"
#include "database/xADOBridge.h"

#include <gtest/gtest.h>

namespace {

template <class F> QString MessageOf(F &&call)
{
    try {
        call();
    } catch (const Exception &e) {
        return e.Message();
    }
    return QStringLiteral("<no exception>");
}

QStringList ParameterNames(const TADOCommand &command)
{
    QStringList names;
    for (int i = 0; i < command.ParameterCount(); ++i)
        names << command.Parameters(i).Name;
    return names;
}

class StatementTest : public ::testing::Test
{
protected:
    StatementTest()
    {
        Table = Bridge.AddTableTransmitter();
        Table->TableName = QStringLiteral("T");
    }
    template <class F> F *Add(const char *name, DataTypeEnum type = adInteger, int size = 4)
    {
        auto *field = Table->AddField<F>();
        field->Name = QString::fromUtf8(name);
        field->DataType = type;
        field->Size = size;
        field->StatusDataType = type;
        field->StatusSize = size;
        return field;
    }

    TEventCapture Events;
    TADOBridge Bridge{QStringLiteral("Provider=SQLite;Data Source=unused.db"), QString(), QString(),
                      nullptr};
    TADOTableTransmitter *Table = nullptr;
};

} // namespace

TEST(TransmitterCreation, NullBridgeAndTableTypeRules)
{
    EXPECT_EQ(MessageOf([] { TADOTableTransmitter transmitter(nullptr); }),
              QStringLiteral("Interner Fehler in TADOTransmitter.Create. Dem Parameter AADOBridge "
                             "wurde kein Wert zugewiesen."));
    EXPECT_EQ(MessageOf([] { TADOBridge bridge(QString(), QString(), QString(), nullptr); }),
              QStringLiteral("Interner Fehler in TADOBridge.Create. Dem Parameter "
                             "AConnectionString wurde kein Wert zugewiesen."));

    TADOBridge bridge(QStringLiteral("Provider=SQLite;Data Source=x"), QString(), QString(),
                      nullptr);
    TADOTableTransmitter *table = bridge.AddTableTransmitter();
    EXPECT_EQ(table->TableType(), tt_None);
    EXPECT_TRUE(table->Enabled());
    EXPECT_TRUE(table->StatusEnabled());
    EXPECT_EQ(MessageOf([&] { table->SetTableType(tt_None); }),
              QStringLiteral("Interner Fehler in TADOTableTransmitter.SetTableType. Meldung: Die "
                             "Eigenschaft TableType kann nicht auf tt_None gesetzt werden."));
    table->SetTableType(tt_TableInsert);
    EXPECT_EQ(MessageOf([&] { table->SetTableType(tt_TableUpdate); }),
              QStringLiteral("Interner Fehler in TADOTableTransmitter.SetTableType. Meldung: Die "
                             "Eigenschaft TableType des Transmitters wurde bereits gesetzt."));
    EXPECT_EQ(table->TableType(), tt_TableInsert);
    EXPECT_EQ(bridge.TransmitterCount(), 1);
    EXPECT_EQ(bridge.Transmitters(0), table);
}

TEST_F(StatementTest, InsertQuotesOnlyTheValueTable)
{
    Table->SetTableType(tt_TableInsert);
    Table->StatusTableName = QStringLiteral("S");
    Add<TLinkedADOTableField>("A", adDouble, 8);
    Add<TConstantADOTableField>("B", adVarChar, 20);
    Add<TTransmitTimeADOTableField>("C", adDBTimeStamp, 16);
    Table->PrepareCommands();
    ASSERT_NE(Table->ValueCommand(), nullptr);
    ASSERT_NE(Table->StatusCommand(), nullptr);
    EXPECT_EQ(Table->ValueCommand()->CommandText(),
              QStringLiteral("INSERT INTO \"T\" (A, B, C) VALUES (?, ?, ?)"));
    EXPECT_EQ(Table->StatusCommand()->CommandText(),
              QStringLiteral("INSERT INTO S (A, B, C) VALUES (?, ?, ?)"));
    const TADOCommand &command = *Table->ValueCommand();
    EXPECT_EQ(ParameterNames(command), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(command.CommandType, adCmdText);
    EXPECT_EQ(command.Parameters(1).Type, adVarChar);
    EXPECT_EQ(command.Parameters(1).Size, 20);
    EXPECT_EQ(command.Parameters(1).Direction, adParamInput);
    EXPECT_TRUE(command.Parameters(1).Value.IsEmpty());
    EXPECT_EQ(command.Parameters(2).Type, adDBTimeStamp);
}

TEST_F(StatementTest, UpdatePutsKeysIntoWhereAndSkipsUnknownColumns)
{
    Table->SetTableType(tt_TableUpdate);
    Table->StatusTableName = QStringLiteral("S");
    Add<TKeyADOTableField>("K", adVarChar, 10);
    Add<TLinkedADOTableField>("A");
    Add<TConstantADOTableField>("B")->StatusErrorFlags = de_Unknown;
    Add<TKeyADOTableField>("N");
    Add<TLinkedADOTableField>("X")->ErrorFlags = de_Unknown;
    Table->PrepareCommands();
    EXPECT_EQ(Table->ValueCommand()->CommandText(),
              QStringLiteral("UPDATE T SET A = ?, B = ? WHERE K = ? AND N = ?"));
    EXPECT_EQ(ParameterNames(*Table->ValueCommand()), (QStringList{"A", "B", "K", "N"}));
    EXPECT_EQ(Table->StatusCommand()->CommandText(),
              QStringLiteral("UPDATE S SET A = ?, X = ? WHERE K = ? AND N = ?"));
    EXPECT_EQ(Table->ValueCommand()->Parameters(2).Type, adVarChar);
    EXPECT_EQ(Table->ValueCommand()->Parameters(2).Size, 10);
}

TEST_F(StatementTest, UpdateWithoutKeysHasNoWhere)
{
    Table->SetTableType(tt_TableUpdate);
    Add<TLinkedADOTableField>("A");
    EXPECT_EQ(Table->GetValueCommand()->CommandText(), QStringLiteral("UPDATE T SET A = ?"));
}

TEST_F(StatementTest, CommandTracesAndRelease)
{
    Table->SetTableType(tt_TableInsert);
    Table->StatusTableName = QStringLiteral("S");
    Add<TLinkedADOTableField>("A");
    Events.Take();
    Table->GetValueCommand();
    Table->GetValueCommand();
    Table->GetStatusCommand();
    Table->ReleaseCommands();
    Table->ReleaseCommands();
    EXPECT_EQ(Events.TakeMessages(),
              (QStringList{"ValueTable-Command wird erzeugt.",
                           "ADO: Command für Tabelle \"T\" wird erzeugt.",
                           "ValueTable-Command wurde angefordert.",
                           "ADO: Command für Tabelle \"S\" wird erzeugt.",
                           "ADO: Das Command-Objekt für die Tabelle \"T\" wurde freigegeben.",
                           "ADO: Das Command-Objekt für die Tabelle \"S\" wurde freigegeben."}));
    EXPECT_EQ(Table->ValueCommand(), nullptr);
    EXPECT_EQ(Table->StatusCommand(), nullptr);
}

TEST_F(StatementTest, DisabledTablesGetNoPreparedCommand)
{
    Table->SetTableType(tt_TableInsert);
    Table->StatusTableName = QStringLiteral("S");
    Add<TLinkedADOTableField>("A");
    Table->SetStatusEnabled(false);
    Table->PrepareCommands();
    EXPECT_NE(Table->ValueCommand(), nullptr);
    EXPECT_EQ(Table->StatusCommand(), nullptr);
    Table->SetEnabled(false);
    Table->PrepareCommands();
    EXPECT_EQ(Table->ValueCommand(), nullptr);
}

TEST_F(StatementTest, TableWithoutTypeCannotBuild)
{
    Add<TLinkedADOTableField>("A");
    EXPECT_EQ(MessageOf([&] { Table->GetValueCommand(); }),
              QStringLiteral("Es wurde kein Tabellentyp für die Tabelle \"T\" angegeben"));
    EXPECT_EQ(Table->ValueCommand(), nullptr);
}

TEST_F(StatementTest, RowCountConditionsQuoteStringKeysSafely)
{
    Table->SetTableType(tt_TableUpdate);
    Table->StatusTableName = QStringLiteral("S");
    Add<TKeyADOTableField>("K", adVarChar, 10)->Value = TVariant::FromString(QStringLiteral("a"));
    Add<TKeyADOTableField>("N", adInteger)->Value = TVariant::FromString(QStringLiteral("5"));
    Add<TLinkedADOTableField>("A");
    const auto value = TADOTableTransmitter::tsValue;
    EXPECT_EQ(Table->CountRowsStatement(value, u'\''),
              QStringLiteral("SELECT COUNT(*) FROM T WHERE  (K = 'a') AND (N = 5)"));
    EXPECT_EQ(Table->CountRowsStatement(value, u'"'),
              QStringLiteral("SELECT COUNT(*) FROM T WHERE  (K = \"a\") AND (N = 5)"));
    EXPECT_EQ(Table->CountRowsStatement(TADOTableTransmitter::tsStatus, u'\''),
              QStringLiteral("SELECT COUNT(*) FROM S WHERE  (K = 'a') AND (N = 5)"));

    // A quote inside the key stays inside the literal.
    Table->Fields(0)->Value = TVariant::FromString(QStringLiteral("x') OR ('1'='1"));
    EXPECT_EQ(Table->CountRowsStatement(value, u'\''),
              QStringLiteral("SELECT COUNT(*) FROM T WHERE  (K = 'x'') OR (''1''=''1') AND "
                             "(N = 5)"));
    Table->Fields(0)->Value = TVariant::FromString(QStringLiteral("say \"hi\""));
    EXPECT_EQ(Table->CountRowsStatement(value, u'"'),
              QStringLiteral("SELECT COUNT(*) FROM T WHERE  (K = \"say \"\"hi\"\"\") AND (N = 5)"));
}

TEST_F(StatementTest, RowCountWithoutKeysCountsTheWholeTable)
{
    Table->SetTableType(tt_TableUpdate);
    Table->StatusTableName = QStringLiteral("S");
    Add<TLinkedADOTableField>("A");
    EXPECT_EQ(Table->CountRowsStatement(TADOTableTransmitter::tsValue, u'\''),
              QStringLiteral("SELECT COUNT(*) FROM \"T\""));
    EXPECT_EQ(Table->CountRowsStatement(TADOTableTransmitter::tsStatus, u'\''),
              QStringLiteral("SELECT COUNT(*) FROM S"));
}

TEST(GetValuesAsString, ParametersInOrderInTheLocale)
{
    EXPECT_EQ(MessageOf([] { TADOTableTransmitter::GetValuesAsString(nullptr); }),
              QStringLiteral("Interner Fehler in GetValuesAsString. Dem Parameter ACommand wurde "
                             "kein Wert zugewiesen."));
    TADOCommand command;
    EXPECT_EQ(TADOTableTransmitter::GetValuesAsString(&command), QStringLiteral("[]"));
    command.CreateParameter(QStringLiteral("A"), adDouble, adParamInput, 8).Value =
        TVariant::FromR8(1.5);
    command.CreateParameter(QStringLiteral("B"), adVarChar, adParamInput, 8).Value =
        TVariant::FromString(QStringLiteral("abc"));
    command.CreateParameter(QStringLiteral("C"), adVarChar, adParamInput, 8).Value =
        TVariant::Null();
    command.CreateParameter(QStringLiteral("D"), adVarChar, adParamInput, 8);
    // the test run's locale is German
    EXPECT_EQ(TADOTableTransmitter::GetValuesAsString(&command),
              QStringLiteral("[(1,5), (abc), (), ()]"));
}
