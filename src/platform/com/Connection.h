// Connection points (how servers call back their clients) and string and GUID enumerators.
#pragma once

#include "platform/com/ComBase.h"

#include <QString>
#include <map>
#include <vector>

struct IConnectionPoint;

struct IConnectionPointContainer : IUnknown
{
    static constexpr IID Iid{0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07};
    // E_NOTIMPL here: nobody enumerates connection points.
    virtual HRESULT EnumConnectionPoints() = 0;
    // CONNECT_E_NOCONNECTION when the object has no point for that interface.
    virtual HRESULT FindConnectionPoint(const IID &iid, ComPtr<IConnectionPoint> &point) = 0;
};

struct IConnectionPoint : IUnknown
{
    static constexpr IID Iid{0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07};
    virtual HRESULT GetConnectionInterface(IID &iid) = 0;
    virtual HRESULT GetConnectionPointContainer(ComPtr<IConnectionPointContainer> &container) = 0;
    // The sink must answer for the point's interface (else CONNECT_E_CANNOTCONNECT); more sinks
    // than the point allows give CONNECT_E_ADVISELIMIT.
    virtual HRESULT Advise(IUnknown *sink, DWORD &cookie) = 0;
    // CONNECT_E_NOCONNECTION for an unknown cookie.
    virtual HRESULT Unadvise(DWORD cookie) = 0;
};

// A connection point for interface Sink, owned by its container object. The container passes
// itself (not owned, to avoid a cycle) and must Detach() the point when it goes away.
template <class Sink> class TConnectionPoint : public TComObject<IConnectionPoint>
{
public:
    TConnectionPoint(IConnectionPointContainer *container, std::size_t maxSinks)
        : m_Container(container), m_MaxSinks(maxSinks)
    {
    }

    HRESULT GetConnectionInterface(IID &iid) override
    {
        iid = Sink::Iid;
        return S_OK;
    }
    HRESULT GetConnectionPointContainer(ComPtr<IConnectionPointContainer> &container) override
    {
        container = ComPtr<IConnectionPointContainer>(m_Container);
        return m_Container ? S_OK : E_UNEXPECTED;
    }
    HRESULT Advise(IUnknown *sink, DWORD &cookie) override
    {
        cookie = 0;
        if (!sink)
            return E_POINTER;
        if (m_Sinks.size() >= m_MaxSinks)
            return CONNECT_E_ADVISELIMIT;
        ComPtr<Sink> typed;
        if (FAILED(QueryInterfaceTo(sink, typed)))
            return CONNECT_E_CANNOTCONNECT;
        cookie = ++m_LastCookie;
        m_Sinks.emplace(cookie, std::move(typed));
        return S_OK;
    }
    HRESULT Unadvise(DWORD cookie) override
    {
        return m_Sinks.erase(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
    }

    // The current sinks, as references the caller holds while calling them, so a sink that
    // unadvises during its callback does not pull the ground from under the loop.
    std::vector<ComPtr<Sink>> Sinks() const
    {
        std::vector<ComPtr<Sink>> sinks;
        sinks.reserve(m_Sinks.size());
        for (const auto &entry : m_Sinks)
            sinks.push_back(entry.second);
        return sinks;
    }
    bool HasSinks() const { return !m_Sinks.empty(); }
    void DisconnectAll() { m_Sinks.clear(); }
    void Detach()
    {
        m_Container = nullptr;
        m_Sinks.clear();
    }

private:
    IConnectionPointContainer *m_Container;
    std::size_t m_MaxSinks;
    DWORD m_LastCookie = 0;
    std::map<DWORD, ComPtr<Sink>> m_Sinks;
};

struct IEnumString : IUnknown
{
    static constexpr IID Iid{0x00000101, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    // Appends up to count elements to out: S_OK when count were fetched, S_FALSE when fewer.
    virtual HRESULT Next(ULONG count, std::vector<QString> &out) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(ComPtr<IEnumString> &copy) = 0;
};

struct IEnumGUID : IUnknown
{
    static constexpr IID Iid{0x0002E000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    virtual HRESULT Next(ULONG count, std::vector<GUID> &out) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(ComPtr<IEnumGUID> &copy) = 0;
};

// An enumerator over a snapshot of elements.
template <class Interface, class Element> class TVectorEnumerator : public TComObject<Interface>
{
public:
    explicit TVectorEnumerator(std::vector<Element> elements, std::size_t position = 0)
        : m_Elements(std::move(elements)), m_Position(position)
    {
    }
    HRESULT Next(ULONG count, std::vector<Element> &out) override
    {
        ULONG fetched = 0;
        while (fetched < count && m_Position < m_Elements.size()) {
            out.push_back(m_Elements[m_Position++]);
            ++fetched;
        }
        return fetched == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override
    {
        const std::size_t left = m_Elements.size() - m_Position;
        m_Position += std::min<std::size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        m_Position = 0;
        return S_OK;
    }
    HRESULT Clone(ComPtr<Interface> &copy) override
    {
        copy = MakeCom<TVectorEnumerator>(m_Elements, m_Position);
        return S_OK;
    }

private:
    std::vector<Element> m_Elements;
    std::size_t m_Position;
};

using TEnumString = TVectorEnumerator<IEnumString, QString>;
using TEnumGUID = TVectorEnumerator<IEnumGUID, GUID>;
