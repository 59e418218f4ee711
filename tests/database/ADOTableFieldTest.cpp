#include "database/ADOTableField.h"

#include "DatabaseTestSupport.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"

#include <QDate>
#include <QTime>
#include <gtest/gtest.h>

namespace {

const QString Good = QStringLiteral("G");
const QString Uncertain = QStringLiteral("U");
const QString Bad = QStringLiteral("B");

void AddEditorRules(TOPCQualityTranslationTable &table)
{
    table.AddRule(0xC0, 0xC0, TVariant::FromString(Good));
    table.AddRule(0xC0, 0x40, TVariant::FromString(Uncertain));
    table.AddRule(0xC0, 0x00, TVariant::FromString(Bad));
}

// A bridge that never connects, with a cache and one table.
class FieldTest : public ::testing::Test
{
protected:
    FieldTest()
    {
        Table = Bridge.AddTableTransmitter();
        Table->TableName = QStringLiteral("T");
    }

    TLinkedADOTableField *AddLinked(const QString &name, const QString &alias)
    {
        auto *field = Table->AddField<TLinkedADOTableField>();
        field->Name = name;
        field->Alias = alias;
        return field;
    }
    void SetCacheValue(const QString &alias, const TVariant &value, quint16 quality)
    {
        if (!Cache.Exists(alias))
            Cache.Add(alias);
        int hint = 0;
        Cache.SetValue(alias, hint, value, TZonedDateTime{Now(), 0}, quality);
    }
    QString Attribute(const QString &alias, const QString &name)
    {
        const TDataCacheItem *item = Cache.Items(Cache.IndexOf(alias));
        return item->HasAttribute(name) ? item->ReadAttributes(name) : QStringLiteral("<absent>");
    }

    TEventCapture Events;
    TDataCache Cache;
    TADOBridge Bridge{QStringLiteral("Provider=SQLite;Data Source=unused.db"), QString(), QString(),
                      &Cache};
    TADOTableTransmitter *Table = nullptr;
};

} // namespace

TEST(QualityTranslation, FirstMatchingRuleDecides)
{
    TOPCQualityTranslationTable editor;
    AddEditorRules(editor);
    EXPECT_EQ(editor.Translate(0xC0), TVariant::FromString(Good));
    EXPECT_EQ(editor.Translate(0x56), TVariant::FromString(Uncertain));
    EXPECT_EQ(editor.Translate(0x18), TVariant::FromString(Bad));
    // only the low byte is matched
    EXPECT_EQ(editor.Translate(0x1C0), TVariant::FromString(Good));

    TOPCQualityTranslationTable none;
    EXPECT_EQ(none.Translate(0xC0), TVariant::FromI4(192));
    EXPECT_EQ(none.Translate(0x1C0), TVariant::FromI4(0x1C0)); // the whole word

    TOPCQualityTranslationTable nullFirst;
    nullFirst.AddRule(0xC0, 0xC0, TVariant::Null());
    nullFirst.AddRule(0x00, 0x00, TVariant::FromString(QStringLiteral("any")));
    EXPECT_EQ(nullFirst.Translate(0xC0), TVariant::FromI4(192));
    EXPECT_EQ(nullFirst.Translate(0x00), TVariant::FromString(QStringLiteral("any")));

    ASSERT_EQ(nullFirst.Count(), 2);
    EXPECT_EQ(nullFirst.Items(1)->ANDMask, 0x00);
    EXPECT_THROW(nullFirst.Items(2), EListError);
}

TEST(TableField, NullTransmitterIsRefused)
{
    try {
        TKeyADOTableField field(nullptr);
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Das Feld \"FADOTableTransmitter\" einer Instanz der "
                                              "Klasse \"TADOTableField\" ist NIL."));
    }
}

TEST_F(FieldTest, LinkedFieldTakesSubstituteOnlyForBadQuality)
{
    const struct
    {
        quint16 Quality;
        bool UseSubstitute;
        double Expected;
    } cases[] = {
        {0x00, true, -1.0}, {0x18, true, -1.0}, {0x40, true, 7.5},
        {0xC0, true, 7.5},  {0x00, false, 7.5},
    };
    TLinkedADOTableField *field = AddLinked(QStringLiteral("A"), QStringLiteral("Item1"));
    field->SubstituteValue = TVariant::FromR8(-1.0);
    for (const auto &c : cases) {
        SetCacheValue(QStringLiteral("Item1"), TVariant::FromR8(7.5), c.Quality);
        field->UseSubstituteValue = c.UseSubstitute;
        field->UpdateValue();
        EXPECT_EQ(field->Value, TVariant::FromR8(c.Expected)) << c.Quality;
        EXPECT_EQ(field->Quality, c.Quality);
    }
    field->Alias = QStringLiteral("Missing");
    EXPECT_THROW(field->UpdateValue(), EInvalidDataCacheItemID);
}

TEST_F(FieldTest, TransmitTimeFollowsFormatAndUTC)
{
    auto *field = Table->AddField<TTransmitTimeADOTableField>();
    EXPECT_EQ(field->TimeFormat, QStringLiteral("YYYY-MM-DD hh:mm:ss"));
    // 12:30:15 local at UTC+01:00: UTC minus local is -60 minutes
    Bridge.LastWriteTime =
        TZonedDateTime{EncodeDateTime(QDate(2026, 1, 2), QTime(12, 30, 15)), std::int8_t(-4)};
    field->UpdateValue();
    EXPECT_EQ(field->Value, TVariant::FromString(QStringLiteral("2026-01-02 12:30:15")));
    field->UTC = true;
    field->UpdateValue();
    EXPECT_EQ(field->Value, TVariant::FromString(QStringLiteral("2026-01-02 11:30:15")));
}

TEST_F(FieldTest, MissingAliasIsReportedOnceUntilFound)
{
    TLinkedADOTableField *field = AddLinked(QStringLiteral("A"), QStringLiteral("Item1"));
    const QString report = QStringLiteral("Interner Fehler beim Überprüfen des Alias \"Item1\" vom "
                                          "Tabellenfelds \"A\". Alias wurde nicht im lokalen "
                                          "Cache gefunden.");
    field->CheckAlias();
    field->UpdateDBState();
    field->CheckAlias();
    auto events = Events.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Message, report);
    EXPECT_EQ(events[0].Type, etError);
    EXPECT_EQ(events[0].Sender, QStringLiteral("TLinkedADOTableField"));
    EXPECT_EQ(Bridge.ErrorFlags() & de_AliasMissing, de_AliasMissing);

    Cache.Add(QStringLiteral("Item1"));
    field->CheckAlias();
    EXPECT_EQ(field->ErrorFlags & de_AliasMissing, 0);
    Cache.Clear();
    field->CheckAlias();
    EXPECT_EQ(Events.TakeMessages(), QStringList{report});
}

TEST_F(FieldTest, DBStateNamesTheFirstProblem)
{
    TLinkedADOTableField *field = AddLinked(QStringLiteral("A"), QStringLiteral("Item1"));
    Cache.Add(QStringLiteral("Item1"));
    const QString attribute = QStringLiteral("T.A.DBState");
    const struct
    {
        TDBErrorFlags Table, Status, Field, FieldStatus;
        const char *Text;
    } cases[] = {
        {0, 0, 0, 0, "OK"},
        {0, 0, 0, de_Unknown, "Unbekanntes Zieltabellenfeld"},
        {0, de_NoRowToUpdate, de_Unknown, 0, "Schreibfehler"},
        {de_WriteError, 0, 0, 0, "Schreibfehler"},
        {de_WriteError, de_Unknown, 0, 0, "Unbekannte Zieltabelle"},
    };
    for (const auto &c : cases) {
        Table->ErrorFlags = c.Table;
        Table->StatusErrorFlags = c.Status;
        field->ErrorFlags = c.Field;
        field->StatusErrorFlags = c.FieldStatus;
        Table->UpdateDBStates();
        EXPECT_EQ(Attribute(QStringLiteral("Item1"), attribute), QString::fromUtf8(c.Text));
    }
}

TEST_F(FieldTest, UnreachableDatabaseOutranksEverything)
{
    TLinkedADOTableField *field = AddLinked(QStringLiteral("A"), QStringLiteral("Item1"));
    Cache.Add(QStringLiteral("Item1"));
    Table->ErrorFlags = de_Unknown;
    // A connection string whose provider nobody knows fails the attempt.
    TADOBridge unreachable(QStringLiteral("Provider=NoSuchProvider;Data Source=x"), QString(),
                           QString(), &Cache);
    TADOTableTransmitter *table = unreachable.AddTableTransmitter();
    table->TableName = QStringLiteral("T");
    auto *other = table->AddField<TLinkedADOTableField>();
    other->Name = QStringLiteral("A");
    other->Alias = QStringLiteral("Item1");
    EXPECT_FALSE(unreachable.TryToConnect());
    EXPECT_EQ(unreachable.ErrorFlags() & de_DatabaseUnreachable, de_DatabaseUnreachable);
    EXPECT_EQ(Attribute(QStringLiteral("Item1"), QStringLiteral("T.A.DBState")),
              QStringLiteral("Datenbank unerreichbar"));
    field->UpdateDBState();
    EXPECT_EQ(Attribute(QStringLiteral("Item1"), QStringLiteral("T.A.DBState")),
              QStringLiteral("Unbekannte Zieltabelle"));
}

TEST_F(FieldTest, RegisterInCachePublishesTablesAndColumns)
{
    Table->TableName = QStringLiteral("T10");
    Table->StatusTableName = QStringLiteral("S10");
    AddLinked(QStringLiteral("A"), QStringLiteral("Item1"));
    AddLinked(QStringLiteral("B"), QStringLiteral("Item1"));
    TADOTableTransmitter *second = Bridge.AddTableTransmitter();
    second->TableName = QStringLiteral("T1");
    auto *c = second->AddField<TLinkedADOTableField>();
    c->Name = QStringLiteral("C");
    c->Alias = QStringLiteral("Item1");
    Cache.Add(QStringLiteral("Item1"));
    Cache.Add(QStringLiteral("Item2"));

    Table->RegisterFieldsInCache();
    second->RegisterFieldsInCache();
    const QString item = QStringLiteral("Item1");
    // T1 is a table of its own even though "T10" contains it
    EXPECT_EQ(Attribute(item, QStringLiteral("ValueTables")), QStringLiteral("T10\r\nT1"));
    EXPECT_EQ(Attribute(item, QStringLiteral("T10.StatusTable")), QStringLiteral("S10"));
    EXPECT_EQ(Attribute(item, QStringLiteral("T1.StatusTable")), QStringLiteral("-"));
    EXPECT_EQ(Attribute(item, QStringLiteral("T10.TargetTableFields")), QStringLiteral("A\r\nB"));
    EXPECT_EQ(Attribute(item, QStringLiteral("T1.TargetTableFields")), QStringLiteral("C"));
    // entries without a column of the table get the attribute empty
    EXPECT_EQ(Attribute(QStringLiteral("Item2"), QStringLiteral("T10.TargetTableFields")),
              QString());
}

TEST_F(FieldTest, MissingAliasDoesNotStopOtherColumnsRegistering)
{
    AddLinked(QStringLiteral("A"), QStringLiteral("Missing"));
    AddLinked(QStringLiteral("B"), QStringLiteral("Item1"));
    Cache.Add(QStringLiteral("Item1"));
    TLinkedADOTableField *lone = AddLinked(QStringLiteral("X"), QStringLiteral("Missing"));
    EXPECT_THROW(lone->RegisterInCache(), EInvalidDataCacheItemID);

    EXPECT_NO_THROW(Table->RegisterFieldsInCache());
    EXPECT_EQ(Attribute(QStringLiteral("Item1"), QStringLiteral("T.TargetTableFields")),
              QStringLiteral("B"));
    EXPECT_EQ(Bridge.ErrorFlags() & de_AliasMissing, de_AliasMissing);
}
