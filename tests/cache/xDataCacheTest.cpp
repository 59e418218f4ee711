#include "cache/xDataCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Runs code that must throw E and returns the message it carried.
template <typename E, typename F> QString MessageOf(F &&code)
{
    try {
        code();
    } catch (const E &error) {
        return error.Message();
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

const TZonedDateTime SomeTime{45000.5, -4};

// TDataCacheItem

TEST(TDataCacheItemTest, NewEntryIsEmptyWithZeroQualityAndTime)
{
    const TDataCacheItem item(QStringLiteral("Tank1.Level"));
    EXPECT_EQ(item.ID(), QStringLiteral("Tank1.Level"));
    const TDataCacheValue value = item.GetValue();
    EXPECT_TRUE(value.Value.IsEmpty());
    EXPECT_EQ(value.Quality, 0);
    EXPECT_TRUE(value.TimeStamp.IsZero());
    EXPECT_TRUE(item.Attributes().empty());
}

TEST(TDataCacheItemTest, EmptyIdIsRejected)
{
    EXPECT_EQ(MessageOf<Exception>([] { TDataCacheItem item{QString()}; }),
              QStringLiteral("Interner Fehler in TDataCacheItem.Create. Dem Parameter AID wurde "
                             "kein Wert zugewiesen."));
}

TEST(TDataCacheItemTest, SetValueStoresEverythingWhateverTheQualityAndClearKeepsValue)
{
    TDataCacheItem item(QStringLiteral("A"));
    item.AddAttribute(QStringLiteral("OPCState"), QStringLiteral("OK"));
    for (const quint16 quality : {quint16(0xC0), quint16(0)}) {
        const TVariant value = TVariant::FromR8(quality + 0.5);
        item.SetValue(value, quality, SomeTime);
        const TDataCacheValue stored = item.GetValue();
        EXPECT_EQ(stored.Value, value);
        EXPECT_EQ(stored.Quality, quality);
        EXPECT_EQ(stored.TimeStamp, SomeTime);
    }

    item.Clear();
    EXPECT_EQ(item.Value(), TVariant::FromR8(0.5));
    EXPECT_EQ(item.Quality(), 0);
    EXPECT_TRUE(item.TimeStamp().IsZero());
    EXPECT_TRUE(item.HasAttribute(QStringLiteral("OPCState")));
}

TEST(TDataCacheItemTest, AttributeNamesIgnoreCaseAndKeepInsertionOrder)
{
    TDataCacheItem item(QStringLiteral("A"));
    const QString tables = QStringLiteral("Werte\r\nArchiv");
    item.AddAttribute(QStringLiteral("ValueTables"), tables);
    item.AddAttribute(QStringLiteral("Description"), QString());
    item.AddAttribute(QStringLiteral("Werte.StatusTable"), QStringLiteral("-"));

    EXPECT_TRUE(item.HasAttribute(QStringLiteral("VALUETABLES")));
    EXPECT_EQ(item.ReadAttributes(QStringLiteral("valuetables")), tables);
    EXPECT_TRUE(item.HasAttribute(QStringLiteral("description")));
    EXPECT_EQ(item.ReadAttributes(QStringLiteral("Description")), QString());
    EXPECT_FALSE(item.HasAttribute(QStringLiteral("Werte")));

    ASSERT_EQ(item.Attributes().size(), 3u);
    EXPECT_EQ(item.Attributes()[0].Name, QStringLiteral("ValueTables"));
    EXPECT_EQ(item.Attributes()[1].Name, QStringLiteral("Description"));
    EXPECT_EQ(item.Attributes()[2].Name, QStringLiteral("Werte.StatusTable"));
}

TEST(TDataCacheItemTest, AttributeErrorsCarryTheirTextsAndChangeNothing)
{
    TDataCacheItem item(QStringLiteral("A"));
    item.AddAttribute(QStringLiteral("ValueUnit"), QStringLiteral("m³/h"));

    EXPECT_EQ(MessageOf<Exception>([&] { item.AddAttribute(QString(), QStringLiteral("x")); }),
              QStringLiteral("Interner Fehler in TDataCacheItem.AddAttribute. Dem Parameter AName "
                             "wurde kein Wert zugewiesen."));
    EXPECT_EQ(
        MessageOf<Exception>([&] { item.AddAttribute(QStringLiteral("VALUEUNIT"), "bar"); }),
        QStringLiteral("Interner Fehler in TDataCacheItem.AddAttribute. Meldung: Es ist bereits "
                       "ein Attribut mit dem Namen \"VALUEUNIT\" in Attributes enthalten."));
    EXPECT_EQ(MessageOf<Exception>([&] { item.ReadAttributes(QStringLiteral("Description")); }),
              QStringLiteral("Interner Fehler in TDataCacheItem.ReadAttributes. Meldung: Es wurde "
                             "kein Wert mit dem Namen \"Description\" in Attributes gefunden."));
    EXPECT_EQ(MessageOf<Exception>([&] { item.WriteAttribute(QString(), QString()); }),
              QStringLiteral("Interner Fehler in TDataCacheItem.AddAttribute. Dem Parameter AName "
                             "wurde kein Wert zugewiesen."));

    ASSERT_EQ(item.Attributes().size(), 1u);
    EXPECT_EQ(item.ReadAttributes(QStringLiteral("ValueUnit")), QStringLiteral("m³/h"));
}

TEST(TDataCacheItemTest, WriteAttributeAddsReplacesInPlaceOrRemoves)
{
    struct Case
    {
        const char *what;
        bool present;
        QString value;
        bool existsAfter;
        QString valueAfter;
    };
    const Case cases[] = {
        {"absent, empty value: added empty", false, QString(), true, QString()},
        {"absent, value: added", false, QStringLiteral("OK"), true, QStringLiteral("OK")},
        {"present, value: replaced", true, QStringLiteral("Lesefehler"), true,
         QStringLiteral("Lesefehler")},
        {"present, empty value: removed", true, QString(), false, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TDataCacheItem item(QStringLiteral("A"));
        item.AddAttribute(QStringLiteral("First"), QStringLiteral("1"));
        if (c.present)
            item.AddAttribute(QStringLiteral("OPCState"), QStringLiteral("OK"));
        item.AddAttribute(QStringLiteral("Last"), QStringLiteral("2"));

        item.WriteAttribute(QStringLiteral("opcstate"), c.value);

        EXPECT_EQ(item.HasAttribute(QStringLiteral("OPCState")), c.existsAfter);
        if (c.existsAfter) {
            EXPECT_EQ(item.ReadAttributes(QStringLiteral("OPCState")), c.valueAfter);
        }
        QStringList names;
        for (const auto &attribute : item.Attributes())
            names << attribute.Name;
        const QStringList expected = !c.existsAfter ? QStringList{"First", "Last"}
                                     : c.present    ? QStringList{"First", "OPCState", "Last"}
                                                 // replaced where it was
                                                 : QStringList{"First", "Last", "opcstate"};
        EXPECT_EQ(names, expected);
    }
}

// TDataCache

class TDataCacheTest : public ::testing::Test
{
protected:
    // Entries "A", "B", "a" at 0, 1, 2.
    void SetUp() override
    {
        for (const char *id : {"A", "B", "a"})
            m_Cache.Add(QString::fromLatin1(id));
    }

    TDataCache m_Cache;
};

TEST_F(TDataCacheTest, IdsAreCaseSensitiveAndPositionsFollowInsertion)
{
    ASSERT_EQ(m_Cache.Count(), 3);
    EXPECT_EQ(m_Cache.Items(0)->ID(), QStringLiteral("A"));
    EXPECT_EQ(m_Cache.Items(2)->ID(), QStringLiteral("a"));
    EXPECT_EQ(m_Cache.IndexOf(QStringLiteral("a")), 2);
    EXPECT_EQ(m_Cache.IndexOf(QStringLiteral("b")), -1);
    EXPECT_TRUE(m_Cache.Exists(QStringLiteral("B")));
    EXPECT_FALSE(m_Cache.Exists(QStringLiteral("b")));
    EXPECT_FALSE(m_Cache.Exists(QStringLiteral("A ")));
}

TEST_F(TDataCacheTest, ItemsOutsideTheListRaiseTheListError)
{
    for (const int index : {-1, 3, 1000})
        EXPECT_THROW(m_Cache.Items(index), EListError) << index;
}

TEST_F(TDataCacheTest, AddWithEmptyIdRaisesAndAddsNothing)
{
    EXPECT_EQ(MessageOf<Exception>([&] { m_Cache.Add(QString()); }),
              QStringLiteral("Interner Fehler in TDataCacheItem.Create. Dem Parameter AID wurde "
                             "kein Wert zugewiesen."));
    EXPECT_EQ(m_Cache.Count(), 3);
}

TEST_F(TDataCacheTest, DuplicateAddCreatesASecondEntryThatSearchesNeverFind)
{
    TDataCacheItem *second = m_Cache.Add(QStringLiteral("B"));
    EXPECT_EQ(m_Cache.Count(), 4);
    EXPECT_EQ(m_Cache.IndexOf(QStringLiteral("B")), 1);
    int hint = 0;
    EXPECT_EQ(m_Cache.FindItem(QStringLiteral("B"), hint), m_Cache.Items(1));
    EXPECT_EQ(hint, 1);
    // A hint that is right is trusted without a search.
    hint = 3;
    EXPECT_EQ(m_Cache.FindItem(QStringLiteral("B"), hint), second);
    EXPECT_EQ(hint, 3);
}

TEST_F(TDataCacheTest, FindItemCorrectsAWrongHint)
{
    for (const int start : {-1, 0, 1, 2, 3, 1000}) {
        int hint = start;
        EXPECT_EQ(m_Cache.FindItem(QStringLiteral("a"), hint), m_Cache.Items(2)) << start;
        EXPECT_EQ(hint, 2) << start;
    }
}

TEST_F(TDataCacheTest, UnknownIdRaisesSetsHintToMinusOneAndChangesNothing)
{
    const QString unknown = QStringLiteral("b");
    const QString expected = QStringLiteral("Ungültige ItemID");
    int hint = 1;
    EXPECT_EQ(MessageOf<EInvalidDataCacheItemID>([&] { m_Cache.FindItem(unknown, hint); }),
              expected);
    EXPECT_EQ(hint, -1);

    hint = 0;
    EXPECT_EQ(MessageOf<EInvalidDataCacheItemID>([&] { m_Cache.GetValue(unknown, hint); }),
              expected);
    EXPECT_EQ(MessageOf<EInvalidDataCacheItemID>(
                  [&] { m_Cache.SetValue(unknown, hint, TVariant::FromI4(1), SomeTime, 0xC0); }),
              expected);
    EXPECT_EQ(MessageOf<EInvalidDataCacheItemID>([&] {
                  m_Cache.SetValue(unknown, hint, TVariant::FromI4(1), CurrentFileTime(), 0xC0);
              }),
              expected);
    EXPECT_EQ(MessageOf<EInvalidDataCacheItemID>([&] {
                  m_Cache.WriteAttribute(unknown, hint, QStringLiteral("N"), QStringLiteral("v"));
              }),
              expected);
    EXPECT_EQ(MessageOf<EInvalidDataCacheItemID>(
                  [&] { m_Cache.ReadAttribute(unknown, 0, QStringLiteral("N")); }),
              expected);

    ASSERT_EQ(m_Cache.Count(), 3);
    for (int i = 0; i < m_Cache.Count(); ++i) {
        EXPECT_TRUE(m_Cache.Items(i)->Value().IsEmpty());
        EXPECT_TRUE(m_Cache.Items(i)->Attributes().empty());
    }
}

TEST_F(TDataCacheTest, ValuesTravelThroughTheCacheAndMoveTheHint)
{
    int hint = 0;
    m_Cache.SetValue(QStringLiteral("a"), hint, TVariant::FromString("Störung"), SomeTime, 0x18);
    EXPECT_EQ(hint, 2);

    int readHint = 0;
    const TDataCacheValue stored = m_Cache.GetValue(QStringLiteral("a"), readHint);
    EXPECT_EQ(readHint, 2);
    EXPECT_EQ(stored.Value, TVariant::FromString("Störung"));
    EXPECT_EQ(stored.Quality, 0x18);
    EXPECT_EQ(stored.TimeStamp, SomeTime);
    EXPECT_TRUE(m_Cache.Items(0)->Value().IsEmpty());
}

TEST_F(TDataCacheTest, FileTimeIsStoredAsTaggedLocalTimeOfTheSameMoment)
{
    const QDateTime moment(QDate(2026, 7, 1), QTime(10, 15, 30, 250), Qt::UTC);
    const FILETIME fileTime = QDateTimeToFileTime(moment);
    int hint = 0;
    m_Cache.SetValue(QStringLiteral("B"), hint, TVariant::FromI4(7), fileTime, 0xC0);

    const TZonedDateTime stored = m_Cache.Items(1)->TimeStamp();
    EXPECT_EQ(stored, FileTimeToLocalWithTimeZone(fileTime));
    EXPECT_NEAR(LocalToUTC(stored), DateTimeFromQDateTime(moment), 0.5 / MSecsPerDay);
}

TEST_F(TDataCacheTest, ReadAttributeNeverMovesTheHintWhileWriteAttributeDoes)
{
    int hint = 0;
    m_Cache.WriteAttribute(QStringLiteral("a"), hint, QStringLiteral("Werte.Wert.DBState"),
                           QStringLiteral("OK"));
    EXPECT_EQ(hint, 2);

    int readHint = 0;
    EXPECT_EQ(
        m_Cache.ReadAttribute(QStringLiteral("a"), readHint, QStringLiteral("werte.wert.dbstate")),
        QStringLiteral("OK"));
    EXPECT_EQ(readHint, 0);

    m_Cache.WriteAttribute(QStringLiteral("a"), hint, QStringLiteral("Werte.Wert.DBState"),
                           QString());
    EXPECT_FALSE(m_Cache.Items(2)->HasAttribute(QStringLiteral("Werte.Wert.DBState")));
}

TEST_F(TDataCacheTest, EntriesStayPutWhileTheCacheGrows)
{
    TDataCacheItem *first = m_Cache.Items(0);
    first->SetValue(TVariant::FromString("kept"), 0xC0, SomeTime);
    for (int i = 0; i < 5000; ++i)
        m_Cache.Add(QStringLiteral("Item%1").arg(i));

    EXPECT_EQ(m_Cache.Items(0), first);
    EXPECT_EQ(first->Value(), TVariant::FromString("kept"));
    int hint = 4000 + 3;
    EXPECT_EQ(m_Cache.FindItem(QStringLiteral("Item4000"), hint)->ID(), QStringLiteral("Item4000"));
    EXPECT_EQ(hint, 4003);
}

TEST_F(TDataCacheTest, ClearEmptiesTheCacheAndStaleHintsAreCorrected)
{
    int hint = 0;
    m_Cache.FindItem(QStringLiteral("a"), hint);
    m_Cache.Clear();
    EXPECT_EQ(m_Cache.Count(), 0);
    EXPECT_THROW(m_Cache.FindItem(QStringLiteral("a"), hint), EInvalidDataCacheItemID);

    m_Cache.Add(QStringLiteral("a"));
    hint = 2;
    EXPECT_EQ(m_Cache.FindItem(QStringLiteral("a"), hint), m_Cache.Items(0));
    EXPECT_EQ(hint, 0);
}

TEST_F(TDataCacheTest, LockIsReentrantAndKeepsOtherThreadsOut)
{
    std::atomic<bool> started = false;
    std::thread writer;
    {
        std::scoped_lock held(m_Cache);
        m_Cache.Lock(); // reentrant: operations below lock again on this thread
        writer = std::thread([&] {
            started = true;
            m_Cache.Add(QStringLiteral("late"));
        });
        while (!started)
            std::this_thread::yield();
        // Gives a cache without a working lock every chance to let the writer through.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(m_Cache.Count(), 3);
        EXPECT_FALSE(m_Cache.Exists(QStringLiteral("late")));
        m_Cache.Unlock();
    }
    writer.join();
    EXPECT_EQ(m_Cache.Count(), 4);
}

TEST(TDataCacheConcurrencyTest, ConcurrentWritersLoseNothing)
{
    TDataCache cache;
    cache.Add(QStringLiteral("Shared"));
    constexpr int Threads = 4, PerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            int sharedHint = 0;
            for (int i = 0; i < PerThread; ++i) {
                int hint = 0;
                cache.Add(QStringLiteral("T%1.%2").arg(t).arg(i));
                cache.SetValue(QStringLiteral("Shared"), sharedHint,
                               TVariant::FromString(QStringLiteral("v%1").arg(i)), SomeTime, 0xC0);
                cache.WriteAttribute(QStringLiteral("Shared"), hint, QStringLiteral("N%1").arg(t),
                                     QString::number(i));
                cache.GetValue(QStringLiteral("Shared"), sharedHint);
            }
        });
    for (auto &thread : threads)
        thread.join();

    EXPECT_EQ(cache.Count(), 1 + Threads * PerThread);
    int hint = 0;
    for (int t = 0; t < Threads; ++t)
        EXPECT_EQ(cache.ReadAttribute(QStringLiteral("Shared"), hint, QStringLiteral("n%1").arg(t)),
                  QString::number(PerThread - 1));
    for (int t = 0; t < Threads; ++t)
        EXPECT_TRUE(cache.Exists(QStringLiteral("T%1.%2").arg(t).arg(PerThread - 1)));
}

// TSingletonDataCache

class TSingletonDataCacheTest : public ::testing::Test
{
protected:
    void TearDown() override { TSingletonDataCache::ReleaseInstance(); }
};

TEST_F(TSingletonDataCacheTest, InstanceIsCreatedOnceAndReleasedToNil)
{
    EXPECT_EQ(TSingletonDataCache::AccessInstance(0), nullptr);
    TSingletonDataCache *cache = TSingletonDataCache::Instance();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(TSingletonDataCache::Instance(), cache);
    EXPECT_EQ(TSingletonDataCache::AccessInstance(1), cache);
    EXPECT_EQ(TSingletonDataCache::AccessInstance(0), cache);
    cache->Add(QStringLiteral("A"));

    TSingletonDataCache::ReleaseInstance();
    EXPECT_EQ(TSingletonDataCache::AccessInstance(0), nullptr);
    TSingletonDataCache::ReleaseInstance(); // nothing left to free

    EXPECT_EQ(TSingletonDataCache::Instance()->Count(), 0);
}

TEST_F(TSingletonDataCacheTest, DestroyingTheInstanceByAnyPathUnregistersIt)
{
    std::unique_ptr<TDataCache> owner(TSingletonDataCache::Instance());
    owner->Add(QStringLiteral("A"));
    owner.reset(); // as a plain TDataCache
    EXPECT_EQ(TSingletonDataCache::AccessInstance(0), nullptr);
    EXPECT_EQ(TSingletonDataCache::Instance()->Count(), 0);
}

TEST_F(TSingletonDataCacheTest, ForgettingUnregistersWithoutFreeing)
{
    std::unique_ptr<TSingletonDataCache> forgotten(TSingletonDataCache::Instance());
    forgotten->Add(QStringLiteral("A"));
    EXPECT_EQ(TSingletonDataCache::AccessInstance(2), nullptr);
    EXPECT_EQ(TSingletonDataCache::AccessInstance(0), nullptr);
    EXPECT_TRUE(forgotten->Exists(QStringLiteral("A")));

    // Destroying a cache that is not registered leaves the registered one alone.
    TSingletonDataCache *current = TSingletonDataCache::Instance();
    forgotten.reset();
    EXPECT_EQ(TSingletonDataCache::AccessInstance(0), current);
}

TEST_F(TSingletonDataCacheTest, IllegalRequestsRaise)
{
    TSingletonDataCache *current = TSingletonDataCache::Instance();
    for (const int request : {3, -1}) {
        EXPECT_EQ(MessageOf<Exception>([&] { TSingletonDataCache::AccessInstance(request); }),
                  QStringLiteral("Illegal request %1 in AccessInstance").arg(request));
    }
    EXPECT_EQ(TSingletonDataCache::AccessInstance(0), current);
}

TEST_F(TSingletonDataCacheTest, ThreadsRacingForTheFirstInstanceShareOne)
{
    constexpr int Threads = 8;
    std::vector<TSingletonDataCache *> seen(Threads);
    std::atomic<bool> go = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            seen[static_cast<std::size_t>(t)] = TSingletonDataCache::Instance();
        });
    go = true;
    for (auto &thread : threads)
        thread.join();
    for (TSingletonDataCache *cache : seen)
        EXPECT_EQ(cache, TSingletonDataCache::AccessInstance(0));
}

} // namespace
