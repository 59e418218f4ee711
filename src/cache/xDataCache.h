// The data cache: the latest value, quality and time stamp of every configured item, keyed by the
// item's alias, plus named text attributes other parts publish per item.
#pragma once

#include "platform/com/FileTime.h"
#include "platform/com/Variant.h"
#include "platform/system/Exception.h"
#include "settings/ZonedDateTime.h"

#include <QHash>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <mutex>
#include <vector>

// Raised when no entry has the requested ID.
class EInvalidDataCacheItemID : public Exception
{
public:
    EInvalidDataCacheItemID();
};

struct TDataCacheAttribute
{
    QString Name;
    QString Value;
};

// What GetValue hands out: copies, so the caller may keep them after the lock is gone.
struct TDataCacheValue
{
    TVariant Value;
    TZonedDateTime TimeStamp;
    quint16 Quality = 0;
};

class TDataCacheItem
{
public:
    explicit TDataCacheItem(const QString &AID);
    TDataCacheItem(const TDataCacheItem &) = delete;
    TDataCacheItem &operator=(const TDataCacheItem &) = delete;

    const QString &ID() const { return m_ID; }
    const TVariant &Value() const { return m_Value; }
    quint16 Quality() const { return m_Quality; }
    const TZonedDateTime &TimeStamp() const { return m_TimeStamp; }
    // In insertion order.
    const std::vector<TDataCacheAttribute> &Attributes() const { return m_Attributes; }

    // Resets time stamp and quality; value and attributes stay.
    void Clear();

    TDataCacheValue GetValue() const;
    void SetValue(const TVariant &value, quint16 quality, const TZonedDateTime &timeStamp);

    // Attribute names are compared without regard to case.
    void AddAttribute(const QString &AName, const QString &value);
    bool HasAttribute(const QString &name) const;
    QString ReadAttributes(const QString &name) const;
    // Adds when absent (even with an empty value), replaces a present one, and removes a present
    // one when value is empty.
    void WriteAttribute(const QString &name, const QString &value);

private:
    std::vector<TDataCacheAttribute>::iterator FindAttribute(const QString &name);
    std::vector<TDataCacheAttribute>::const_iterator FindAttribute(const QString &name) const;

    QString m_ID;
    TVariant m_Value;
    quint16 m_Quality = 0;
    TZonedDateTime m_TimeStamp;
    std::vector<TDataCacheAttribute> m_Attributes;
};

// Every operation holds the cache's reentrant lock for its whole run. Entries handed out stay
// valid until Clear or destruction; touching them directly from another thread needs Lock().
class TDataCache
{
public:
    TDataCache() = default;
    virtual ~TDataCache();
    TDataCache(const TDataCache &) = delete;
    TDataCache &operator=(const TDataCache &) = delete;

    // For callers that need several operations to be atomic.
    void Lock() const { m_Lock.lock(); }
    void Unlock() const { m_Lock.unlock(); }
    // BasicLockable, so std::scoped_lock and std::unique_lock can hold the cache.
    void lock() const { Lock(); }
    void unlock() const { Unlock(); }

    // Appends without looking for an existing entry of that ID: callers test Exists first.
    TDataCacheItem *Add(const QString &ID);
    void Clear();
    int Count() const;
    // EListError outside 0..Count-1.
    TDataCacheItem *Items(int index) const;
    // First position with exactly that ID, -1 if none.
    int IndexOf(const QString &ID) const;
    bool Exists(const QString &ID) const;

    // Returns the entry at IndexHint when it has that ID; otherwise searches and corrects
    // IndexHint (to -1 before raising EInvalidDataCacheItemID).
    TDataCacheItem *FindItem(const QString &ID, int &IndexHint) const;

    TDataCacheValue GetValue(const QString &ID, int &IndexHint) const;
    // An OPC time stamp (UTC) is stored as a zone-tagged local date-time.
    void SetValue(const QString &ID, int &IndexHint, const TVariant &value,
                  const FILETIME &timeStamp, quint16 quality);
    void SetValue(const QString &ID, int &IndexHint, const TVariant &value,
                  const TZonedDateTime &timeStamp, quint16 quality);
    // Takes the hint by value: reading never moves the caller's hint.
    QString ReadAttribute(const QString &ID, int IndexHint, const QString &name) const;
    void WriteAttribute(const QString &ID, int &IndexHint, const QString &name,
                        const QString &value);

private:
    mutable std::recursive_mutex m_Lock;
    std::vector<std::unique_ptr<TDataCacheItem>> m_Items;
    // ID -> position of its first entry; lookups by alias run for every column of every write.
    QHash<QString, int> m_Index;
};

// The one cache of the process.
class TSingletonDataCache : public TDataCache
{
public:
    TSingletonDataCache() = default;
    // Destroying the registered instance, by whatever path, unregisters it first.
    ~TSingletonDataCache() override;

    enum : int { arGet = 0, arCreate = 1, arForget = 2 };
    // arGet: the registered instance or null; arCreate: creates it when there is none;
    // arForget: unregisters it without freeing and returns null. Anything else raises.
    static TSingletonDataCache *AccessInstance(int request);
    static TSingletonDataCache *Instance() { return AccessInstance(arCreate); }
    // Frees the registered instance, if any.
    static void ReleaseInstance();
};
