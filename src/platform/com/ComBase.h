// The COM object model as Tidewell uses it: HRESULTs, interface ids, reference-counted objects
// with QueryInterface, and a smart pointer. Methods take and return C++ containers and QString
// where COM used task-allocator memory, so nothing is ever freed by hand.
#pragma once

#include "platform/com/Guid.h"

#include <atomic>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

using HRESULT = std::int32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using LCID = DWORD;

constexpr HRESULT MakeHResult(std::uint32_t code)
{
    return static_cast<HRESULT>(code);
}

constexpr bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
    return hr < 0;
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHResult(0x80080005);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
inline constexpr HRESULT RPC_E_SERVERFAULT = MakeHResult(0x80010105);
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHResult(0x80010108);
inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE_HR = MakeHResult(0x800706BA);
inline constexpr HRESULT RPC_S_CALL_FAILED_HR = MakeHResult(0x800706BE);
inline constexpr HRESULT RPC_S_CALL_FAILED_DNE_HR = MakeHResult(0x800706BF);
inline constexpr HRESULT RPC_E_TIMEOUT = MakeHResult(0x8001011F);

// The root of every interface. Reference counts start at 1 when an object is made (MakeCom) and
// the object deletes itself when Release brings the count to 0.
struct IUnknown
{
    static constexpr IID Iid{0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

    // Returns an added reference in *object, or E_NOINTERFACE and null.
    virtual HRESULT QueryInterface(const IID &iid, void **object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// An owning interface reference: AddRef on copy, Release on destruction.
template <class T> class ComPtr
{
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T *p) : m_P(p)
    {
        if (m_P)
            m_P->AddRef();
    }
    ComPtr(const ComPtr &o) : ComPtr(o.m_P) {}
    ComPtr(ComPtr &&o) noexcept : m_P(std::exchange(o.m_P, nullptr)) {}
    // Only towards a base: anything else needs QueryInterface (As).
    template <class U, class = std::enable_if_t<std::is_convertible_v<U *, T *>>>
    ComPtr(const ComPtr<U> &o) : ComPtr(o.Get())
    {
    }
    ~ComPtr() { Reset(); }

    ComPtr &operator=(ComPtr o) noexcept
    {
        std::swap(m_P, o.m_P);
        return *this;
    }

    // Adopts an existing reference without adding one.
    static ComPtr Attach(T *p)
    {
        ComPtr result;
        result.m_P = p;
        return result;
    }
    // Gives up the reference without releasing it.
    T *Detach() { return std::exchange(m_P, nullptr); }

    void Reset()
    {
        if (T *p = std::exchange(m_P, nullptr))
            p->Release();
    }

    T *Get() const { return m_P; }
    T *operator->() const { return m_P; }
    T &operator*() const { return *m_P; }
    explicit operator bool() const { return m_P != nullptr; }
    friend bool operator==(const ComPtr &a, const ComPtr &b) { return a.m_P == b.m_P; }

    // QueryInterface for U; an empty pointer and the failure code when the object lacks it.
    template <class U> HRESULT As(ComPtr<U> &out) const
    {
        if (!m_P) {
            out.Reset();
            return E_POINTER;
        }
        // out lets go of its old reference only now: it may be this very pointer.
        void *raw = nullptr;
        const HRESULT hr = m_P->QueryInterface(U::Iid, &raw);
        out = SUCCEEDED(hr) ? ComPtr<U>::Attach(static_cast<U *>(raw)) : ComPtr<U>();
        return hr;
    }
    template <class U> ComPtr<U> As() const
    {
        ComPtr<U> out;
        As(out);
        return out;
    }

private:
    T *m_P = nullptr;
};

// QueryInterface on a raw interface pointer.
template <class U, class T> HRESULT QueryInterfaceTo(T *object, ComPtr<U> &out)
{
    return ComPtr<T>(object).template As<U>(out);
}

// Base for objects that implement interfaces I...: reference counting and QueryInterface over the
// ids of I... and IUnknown. Extra interfaces can be answered by overriding QueryExtra.
template <class... I> class TComObject : public I...
{
public:
    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IUnknown::Iid)
            *object = static_cast<IUnknown *>(static_cast<First *>(this));
        else
            (void)((iid == I::Iid ? (*object = static_cast<I *>(this), true) : false) || ...);
        if (!*object)
            *object = QueryExtra(iid);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_RefCount; }
    ULONG Release() override
    {
        const ULONG count = --m_RefCount;
        if (count == 0)
            delete this;
        return count;
    }
    ULONG RefCount() const { return m_RefCount.load(); }

protected:
    TComObject() = default;
    ~TComObject() override = default;
    // Another interface the object answers for, without an added reference; null when none.
    virtual void *QueryExtra(const IID &) { return nullptr; }

private:
    using First = std::tuple_element_t<0, std::tuple<I...>>;
    std::atomic<ULONG> m_RefCount{1};
};

// Makes an object whose only reference is the returned pointer.
template <class T, class... Args> ComPtr<T> MakeCom(Args &&...args)
{
    return ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

// The first interface of an object as IUnknown.
template <class T> ComPtr<IUnknown> AsUnknown(const ComPtr<T> &object)
{
    return object.template As<IUnknown>();
}
