// The fixture of the write-cycle scenarios; WriterScenarioTest.cpp holds the tests, each test
// executable instantiates them for its backends.
#pragma once

#include "BackendSupport.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"

#include <gtest/gtest.h>
#include <memory>

class TRecordingProgress : public TADOValidationProgress
{
public:
    void SelectStep(int step, const QString &detail) override
    {
        Steps << QStringLiteral("%1:%2").arg(step).arg(detail);
    }
    void StepActivity() override { ++Activity; }
    void RunModal(const QString &caption, const std::function<void()> &work) override
    {
        Captions << caption;
        work();
    }

    QStringList Captions;
    QStringList Steps;
    int Activity = 0;
};

// A transmitter whose check fails, as a broken catalog would make it.
class TFailingTransmitter : public TADOTransmitter
{
public:
    using TADOTransmitter::TADOTransmitter;
    void Validate(TADOValidationProgress *, TADOXCatalog *) override
    {
        throw Exception(QStringLiteral("Katalog nicht lesbar"));
    }
};

// A transmitter that breaks the cycle it runs in while Throw is set.
class TThrowingTransmitter : public TADOTransmitter
{
public:
    using TADOTransmitter::TADOTransmitter;
    void Transmit() override
    {
        if (Throw)
            throw Exception(QStringLiteral("Abbruch im Schreibzyklus"));
    }
    bool Throw = true;
};

class WriterTest : public ::testing::TestWithParam<TBackend>
{
protected:
    void SetUp() override
    {
        Scratch = GetParam().Create();
        ASSERT_NE(Scratch, nullptr);
        Db = Scratch->Database();
        Sql = std::make_unique<TSqlSession>(Db);
    }
    void TearDown() override { Sql.reset(); }

    std::unique_ptr<TADOBridge> NewBridge()
    {
        return std::make_unique<TADOBridge>(Db.ConnectionString, Db.UserID, Db.Password, &Cache);
    }
    static TADOTableTransmitter *AddTable(TADOBridge &bridge, const QString &name, TTableType type,
                                          const QString &status = QString())
    {
        TADOTableTransmitter *table = bridge.AddTableTransmitter();
        table->TableName = name;
        table->StatusTableName = status;
        table->SetTableType(type);
        return table;
    }
    template <class F> static F *AddColumn(TADOTableTransmitter *table, const char *name)
    {
        F *field = table->AddField<F>();
        field->Name = QString::fromUtf8(name);
        return field;
    }
    void SetItem(const QString &alias, const TVariant &value, quint16 quality)
    {
        if (!Cache.Exists(alias))
            Cache.Add(alias);
        int hint = 0;
        Cache.SetValue(alias, hint, value, NowWithTimeZone(), quality);
    }
    QString Attribute(const QString &alias, const QString &name)
    {
        const TDataCacheItem *item = Cache.Items(Cache.IndexOf(alias));
        return item->HasAttribute(name) ? item->ReadAttributes(name) : QStringLiteral("<absent>");
    }
    // What the runtime control does at the start of acquisition.
    static void Start(TADOBridge &bridge)
    {
        bridge.ValidateWithProgress();
        bridge.CheckAliases();
        bridge.PrepareTransmission();
    }

    TEventCapture Events;
    TDataCache Cache;
    std::unique_ptr<TScratchDatabase> Scratch;
    TTestDatabase Db;
    std::unique_ptr<TSqlSession> Sql;
};
