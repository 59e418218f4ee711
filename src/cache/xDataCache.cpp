#include "cache/xDataCache.h"

#include <algorithm>

EInvalidDataCacheItemID::EInvalidDataCacheItemID() : Exception(QStringLiteral("Ungültige ItemID"))
{
}

// TDataCacheItem

TDataCacheItem::TDataCacheItem(const QString &AID)
{
    if (AID.isEmpty())
        RaiseMissingParameter(QStringLiteral("TDataCacheItem.Create"), QStringLiteral("AID"));
    m_ID = AID;
    Clear();
}

void TDataCacheItem::Clear()
{
    m_TimeStamp = TZonedDateTime{};
    m_Quality = 0;
}

TDataCacheValue TDataCacheItem::GetValue() const
{
    return {m_Value, m_TimeStamp, m_Quality};
}

void TDataCacheItem::SetValue(const TVariant &value, quint16 quality,
                              const TZonedDateTime &timeStamp)
{
    m_Value = value;
    m_Quality = quality;
    m_TimeStamp = timeStamp;
}

std::vector<TDataCacheAttribute>::iterator TDataCacheItem::FindAttribute(const QString &name)
{
    return std::find_if(m_Attributes.begin(), m_Attributes.end(), [&](const auto &attribute) {
        return attribute.Name.compare(name, Qt::CaseInsensitive) == 0;
    });
}

std::vector<TDataCacheAttribute>::const_iterator
TDataCacheItem::FindAttribute(const QString &name) const
{
    return const_cast<TDataCacheItem *>(this)->FindAttribute(name);
}

void TDataCacheItem::AddAttribute(const QString &AName, const QString &value)
{
    const QString where = QStringLiteral("TDataCacheItem.AddAttribute");
    if (AName.isEmpty())
        RaiseMissingParameter(where, QStringLiteral("AName"));
    if (FindAttribute(AName) != m_Attributes.end())
        RaiseInternalError(
            where, QStringLiteral(
                       "Es ist bereits ein Attribut mit dem Namen \"%1\" in Attributes enthalten.")
                       .arg(AName));
    m_Attributes.push_back({AName, value});
}

bool TDataCacheItem::HasAttribute(const QString &name) const
{
    return FindAttribute(name) != m_Attributes.end();
}

QString TDataCacheItem::ReadAttributes(const QString &name) const
{
    const auto it = FindAttribute(name);
    if (it == m_Attributes.end())
        RaiseInternalError(
            QStringLiteral("TDataCacheItem.ReadAttributes"),
            QStringLiteral("Es wurde kein Wert mit dem Namen \"%1\" in Attributes gefunden.")
                .arg(name));
    return it->Value;
}

void TDataCacheItem::WriteAttribute(const QString &name, const QString &value)
{
    const auto it = FindAttribute(name);
    if (it == m_Attributes.end())
        AddAttribute(name, value);
    else if (value.isEmpty())
        m_Attributes.erase(it);
    else
        it->Value = value;
}

// TDataCache

TDataCache::~TDataCache()
{
    Clear();
}

TDataCacheItem *TDataCache::Add(const QString &ID)
{
    std::lock_guard guard(m_Lock);
    // Created before anything is appended, so a rejected ID leaves the list as it was.
    auto item = std::make_unique<TDataCacheItem>(ID);
    m_Items.push_back(std::move(item));
    // Only the first entry of an ID is ever found, so a later duplicate leaves the index alone.
    if (!m_Index.contains(ID))
        m_Index.insert(ID, static_cast<int>(m_Items.size() - 1));
    return m_Items.back().get();
}

void TDataCache::Clear()
{
    std::lock_guard guard(m_Lock);
    m_Items.clear();
    m_Index.clear();
}

int TDataCache::Count() const
{
    std::lock_guard guard(m_Lock);
    return static_cast<int>(m_Items.size());
}

TDataCacheItem *TDataCache::Items(int index) const
{
    std::lock_guard guard(m_Lock);
    if (index < 0 || index >= static_cast<int>(m_Items.size()))
        throw EListError(index);
    return m_Items[static_cast<std::size_t>(index)].get();
}

int TDataCache::IndexOf(const QString &ID) const
{
    std::lock_guard guard(m_Lock);
    return m_Index.value(ID, -1);
}

bool TDataCache::Exists(const QString &ID) const
{
    return IndexOf(ID) >= 0;
}

TDataCacheItem *TDataCache::FindItem(const QString &ID, int &IndexHint) const
{
    std::lock_guard guard(m_Lock);
    if (IndexHint >= 0 && IndexHint < static_cast<int>(m_Items.size())) {
        TDataCacheItem *hinted = m_Items[static_cast<std::size_t>(IndexHint)].get();
        if (hinted->ID() == ID)
            return hinted;
    }
    IndexHint = IndexOf(ID);
    if (IndexHint < 0)
        throw EInvalidDataCacheItemID();
    return m_Items[static_cast<std::size_t>(IndexHint)].get();
}

TDataCacheValue TDataCache::GetValue(const QString &ID, int &IndexHint) const
{
    std::lock_guard guard(m_Lock);
    return FindItem(ID, IndexHint)->GetValue();
}

void TDataCache::SetValue(const QString &ID, int &IndexHint, const TVariant &value,
                          const FILETIME &timeStamp, quint16 quality)
{
    // The conversion reads no cache state, so it runs before the lock is taken.
    SetValue(ID, IndexHint, value, FileTimeToLocalWithTimeZone(timeStamp), quality);
}

void TDataCache::SetValue(const QString &ID, int &IndexHint, const TVariant &value,
                          const TZonedDateTime &timeStamp, quint16 quality)
{
    std::lock_guard guard(m_Lock);
    FindItem(ID, IndexHint)->SetValue(value, quality, timeStamp);
}

QString TDataCache::ReadAttribute(const QString &ID, int IndexHint, const QString &name) const
{
    std::lock_guard guard(m_Lock);
    return FindItem(ID, IndexHint)->ReadAttributes(name);
}

void TDataCache::WriteAttribute(const QString &ID, int &IndexHint, const QString &name,
                                const QString &value)
{
    std::lock_guard guard(m_Lock);
    FindItem(ID, IndexHint)->WriteAttribute(name, value);
}

// TSingletonDataCache

namespace {
// The class-level reference, guarded so that threads racing for the first Instance() or a
// release never see two caches or free one twice.
std::mutex &InstanceLock()
{
    static std::mutex lock;
    return lock;
}
TSingletonDataCache *RegisteredInstance = nullptr;
} // namespace

TSingletonDataCache::~TSingletonDataCache()
{
    std::lock_guard guard(InstanceLock());
    if (RegisteredInstance == this)
        RegisteredInstance = nullptr;
}

TSingletonDataCache *TSingletonDataCache::AccessInstance(int request)
{
    std::lock_guard guard(InstanceLock());
    switch (request) {
    case arGet: return RegisteredInstance;
    case arCreate:
        if (!RegisteredInstance)
            RegisteredInstance = new TSingletonDataCache;
        return RegisteredInstance;
    case arForget: RegisteredInstance = nullptr; return nullptr;
    default: throw Exception(QStringLiteral("Illegal request %1 in AccessInstance").arg(request));
    }
}

void TSingletonDataCache::ReleaseInstance()
{
    TSingletonDataCache *instance = nullptr;
    {
        // Taken and unregistered in one step, so two releases cannot free the same cache.
        std::lock_guard guard(InstanceLock());
        std::swap(instance, RegisteredInstance);
    }
    delete instance;
}
