#include "platform/com/ClassRegistry.h"
#include "platform/com/ComBase.h"
#include "platform/com/Connection.h"
#include "platform/system/HostInfo.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <type_traits>

namespace {

struct IFoo : IUnknown
{
    static constexpr IID Iid{0x6A1C0001, 0x1111, 0x4000, 0x80, 0x00, 0, 0, 0, 0, 0, 1};
    virtual int Foo() = 0;
};

struct IBar : IUnknown
{
    static constexpr IID Iid{0x6A1C0002, 0x1111, 0x4000, 0x80, 0x00, 0, 0, 0, 0, 0, 2};
    virtual int Bar() = 0;
};

struct IBaz : IUnknown
{
    static constexpr IID Iid{0x6A1C0003, 0x1111, 0x4000, 0x80, 0x00, 0, 0, 0, 0, 0, 3};
    virtual int Baz() = 0;
};

struct ISink : IUnknown
{
    static constexpr IID Iid{0x6A1C0004, 0x1111, 0x4000, 0x80, 0x00, 0, 0, 0, 0, 0, 4};
    virtual void Notify() = 0;
};

// Implements IFoo and IBar; answers IBaz only through QueryExtra when asked to.
class TFooBar : public TComObject<IFoo, IBar>
{
public:
    explicit TFooBar(bool *destroyed = nullptr, bool answerBaz = false)
        : m_Destroyed(destroyed), m_AnswerBaz(answerBaz)
    {
    }
    ~TFooBar() override
    {
        if (m_Destroyed)
            *m_Destroyed = true;
    }
    int Foo() override { return 1; }
    int Bar() override { return 2; }

private:
    struct TBaz : IBaz
    {
        TFooBar *Owner = nullptr;
        HRESULT QueryInterface(const IID &iid, void **object) override
        {
            return Owner->QueryInterface(iid, object);
        }
        ULONG AddRef() override { return Owner->AddRef(); }
        ULONG Release() override { return Owner->Release(); }
        int Baz() override { return 3; }
    };
    void *QueryExtra(const IID &iid) override
    {
        if (!m_AnswerBaz || iid != IBaz::Iid)
            return nullptr;
        m_Baz.Owner = this;
        return static_cast<IBaz *>(&m_Baz);
    }

    bool *m_Destroyed;
    bool m_AnswerBaz;
    TBaz m_Baz;
};

class TSink : public TComObject<ISink>
{
public:
    explicit TSink(bool *destroyed = nullptr) : m_Destroyed(destroyed) {}
    ~TSink() override
    {
        if (m_Destroyed)
            *m_Destroyed = true;
    }
    void Notify() override
    {
        ++Calls;
        if (OnNotify)
            OnNotify();
    }
    int Calls = 0;
    std::function<void()> OnNotify;

private:
    bool *m_Destroyed;
};

// A container with one connection point for ISink that allows two sinks.
class TSource : public TComObject<IConnectionPointContainer>
{
public:
    TSource() : m_Point(MakeCom<TConnectionPoint<ISink>>(this, 2)) {}
    ~TSource() override { m_Point->Detach(); }
    HRESULT EnumConnectionPoints() override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(const IID &iid, ComPtr<IConnectionPoint> &point) override
    {
        point.Reset();
        if (iid != ISink::Iid)
            return CONNECT_E_NOCONNECTION;
        point = m_Point;
        return S_OK;
    }
    void Fire()
    {
        for (const ComPtr<ISink> &sink : m_Point->Sinks())
            sink->Notify();
    }
    TConnectionPoint<ISink> &Point() { return *m_Point; }

private:
    ComPtr<TConnectionPoint<ISink>> m_Point;
};

template <class I> I *Query(IUnknown *object, HRESULT &hr)
{
    void *raw = nullptr;
    hr = object->QueryInterface(I::Iid, &raw);
    return static_cast<I *>(raw);
}

TEST(ComObjectTest, TheLastReleaseDeletesTheObject)
{
    bool destroyed = false;
    ComPtr<TFooBar> object = MakeCom<TFooBar>(&destroyed);
    EXPECT_EQ(object->RefCount(), 1u);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_FALSE(destroyed);
    {
        ComPtr<IFoo> second = object;
        EXPECT_EQ(object->RefCount(), 2u);
        object.Reset();
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed);
}

TEST(ComObjectTest, QueryInterfaceAnswersEveryInterfaceWithOneIdentity)
{
    bool destroyed = false;
    ComPtr<TFooBar> object = MakeCom<TFooBar>(&destroyed, true);
    IFoo *foo = object.Get();
    HRESULT hr = E_FAIL;

    IBar *bar = Query<IBar>(foo, hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(bar->Bar(), 2);
    IFoo *fooAgain = Query<IFoo>(bar, hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(fooAgain, foo);
    EXPECT_EQ(fooAgain->Foo(), 1);
    IUnknown *fromFoo = Query<IUnknown>(foo, hr);
    IUnknown *fromBar = Query<IUnknown>(bar, hr);
    EXPECT_EQ(fromFoo, fromBar);
    IBaz *baz = Query<IBaz>(bar, hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(baz->Baz(), 3);
    EXPECT_EQ(Query<IUnknown>(baz, hr), fromFoo);
    EXPECT_EQ(object->RefCount(), 7u);
    for (IUnknown *reference : {static_cast<IUnknown *>(bar), static_cast<IUnknown *>(fooAgain),
                                fromFoo, fromBar, static_cast<IUnknown *>(baz), fromFoo})
        reference->Release();
    EXPECT_EQ(object->RefCount(), 1u);

    void *raw = &hr;
    EXPECT_EQ(foo->QueryInterface(ISink::Iid, &raw), E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(foo->QueryInterface(IFoo::Iid, nullptr), E_POINTER);
    EXPECT_EQ(MakeCom<TFooBar>()->QueryInterface(IBaz::Iid, &raw), E_NOINTERFACE);
    EXPECT_EQ(object->RefCount(), 1u);
    object.Reset();
    EXPECT_TRUE(destroyed);
}

TEST(ComPtrTest, CopiesCountMovesDoNot)
{
    bool destroyed = false;
    ComPtr<TFooBar> object = MakeCom<TFooBar>(&destroyed);
    ComPtr<TFooBar> copy = object;
    EXPECT_EQ(object->RefCount(), 2u);
    ComPtr<TFooBar> moved = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(moved, object);
    EXPECT_EQ(object->RefCount(), 2u);
    moved = moved; // self-assignment keeps the reference
    EXPECT_EQ(object->RefCount(), 2u);
    moved = nullptr;
    EXPECT_EQ(object->RefCount(), 1u);

    ComPtr<TFooBar> other = MakeCom<TFooBar>();
    other = object; // releases the other object, references this one
    EXPECT_EQ(object->RefCount(), 2u);

    TFooBar *raw = object.Detach();
    EXPECT_FALSE(object);
    ComPtr<TFooBar> attached = ComPtr<TFooBar>::Attach(raw);
    EXPECT_EQ(attached->RefCount(), 2u);
    other.Reset();
    attached.Reset();
    EXPECT_TRUE(destroyed);
}

TEST(ComPtrTest, AsQueriesAndConversionsOnlyGoUpwards)
{
    ComPtr<IFoo> foo = MakeCom<TFooBar>();
    ComPtr<IBar> bar;
    EXPECT_EQ(foo.As(bar), S_OK);
    EXPECT_EQ(bar->Bar(), 2);
    EXPECT_EQ(AsUnknown(foo), AsUnknown(bar));
    EXPECT_EQ(foo.As(bar), S_OK); // replaces the reference it held
    EXPECT_EQ(static_cast<TFooBar *>(foo.Get())->RefCount(), 2u);

    ComPtr<ISink> sink = bar.As<ISink>();
    EXPECT_FALSE(sink);
    ComPtr<IBar> kept = bar;
    EXPECT_EQ(foo.As(kept), S_OK);
    EXPECT_EQ(ComPtr<IFoo>().As(kept), E_POINTER);
    EXPECT_FALSE(kept);

    // Asking a pointer for its own interface into itself keeps the object.
    ComPtr<IUnknown> unknown = AsUnknown(foo);
    EXPECT_EQ(unknown.As(unknown), S_OK);
    EXPECT_EQ(unknown, AsUnknown(bar));

    static_assert(std::is_convertible_v<ComPtr<TFooBar>, ComPtr<IFoo>>);
    static_assert(std::is_convertible_v<ComPtr<TEnumString>, ComPtr<IEnumString>>);
    // A downcast needs QueryInterface; a plain conversion would reinterpret the object.
    static_assert(!std::is_constructible_v<ComPtr<IFoo>, ComPtr<IUnknown>>);
    static_assert(!std::is_constructible_v<ComPtr<IFoo>, ComPtr<IBar>>);
}

TEST(ConnectionPointTest, AdviseChecksTheSinkAndTheLimit)
{
    ComPtr<TSource> source = MakeCom<TSource>();
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(source->FindConnectionPoint(ISink::Iid, point), S_OK);
    EXPECT_EQ(source->FindConnectionPoint(IFoo::Iid, point), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(point);
    ASSERT_EQ(source->FindConnectionPoint(ISink::Iid, point), S_OK);

    IID iid;
    EXPECT_EQ(point->GetConnectionInterface(iid), S_OK);
    EXPECT_EQ(iid, ISink::Iid);
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(point->GetConnectionPointContainer(container), S_OK);
    EXPECT_EQ(AsUnknown(container), AsUnknown(source));

    ComPtr<TSink> first = MakeCom<TSink>(), second = MakeCom<TSink>();
    DWORD cookie1 = 0, cookie2 = 0, cookie3 = 77;
    EXPECT_EQ(point->Advise(AsUnknown(MakeCom<TFooBar>()).Get(), cookie3), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie3, 0u);
    EXPECT_EQ(point->Advise(nullptr, cookie3), E_POINTER);
    ASSERT_EQ(point->Advise(first.Get(), cookie1), S_OK);
    ASSERT_EQ(point->Advise(second.Get(), cookie2), S_OK);
    EXPECT_NE(cookie1, 0u);
    EXPECT_NE(cookie1, cookie2);
    EXPECT_EQ(point->Advise(MakeCom<TSink>().Get(), cookie3), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(first->RefCount(), 2u); // the point holds the sink

    source->Fire();
    EXPECT_EQ(first->Calls, 1);
    EXPECT_EQ(second->Calls, 1);

    EXPECT_EQ(point->Unadvise(cookie2 + 100), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(cookie1), S_OK);
    EXPECT_EQ(point->Unadvise(cookie1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(first->RefCount(), 1u);
    source->Fire();
    EXPECT_EQ(first->Calls, 1);
    EXPECT_EQ(second->Calls, 2);
    DWORD cookie4 = 0;
    EXPECT_EQ(point->Advise(MakeCom<TSink>().Get(), cookie4), S_OK); // room again
    EXPECT_NE(cookie4, cookie1);
}

TEST(ConnectionPointTest, ASinkThatUnadvisesDuringItsCallbackLivesUntilTheCallReturns)
{
    ComPtr<TSource> source = MakeCom<TSource>();
    bool destroyed = false, aliveAfterUnadvise = false;
    DWORD cookie = 0;
    {
        ComPtr<TSink> sink = MakeCom<TSink>(&destroyed);
        TSink *raw = sink.Get();
        sink->OnNotify = [&, raw] {
            EXPECT_EQ(source->Point().Unadvise(cookie), S_OK);
            aliveAfterUnadvise = !destroyed && raw->Calls == 1;
        };
        ASSERT_EQ(source->Point().Advise(sink.Get(), cookie), S_OK);
    } // only the connection point holds the sink now
    EXPECT_FALSE(destroyed);
    source->Fire();
    EXPECT_TRUE(aliveAfterUnadvise);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(source->Point().HasSinks());
}

TEST(ConnectionPointTest, APointOutlivingItsContainerLetsGoOfItsSinks)
{
    bool sinkDestroyed = false;
    ComPtr<IConnectionPoint> point;
    {
        ComPtr<TSource> source = MakeCom<TSource>();
        ASSERT_EQ(source->FindConnectionPoint(ISink::Iid, point), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(MakeCom<TSink>(&sinkDestroyed).Get(), cookie), S_OK);
    }
    EXPECT_TRUE(sinkDestroyed);
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(point->GetConnectionPointContainer(container), E_UNEXPECTED);
    EXPECT_FALSE(container);
}

TEST(EnumeratorTest, NextSkipResetAndCloneFollowTheEnumeratorRules)
{
    ComPtr<IEnumString> strings = MakeCom<TEnumString>(std::vector<QString>{"a", "b", "c"});
    std::vector<QString> out;
    EXPECT_EQ(strings->Next(0, out), S_OK);
    EXPECT_EQ(strings->Next(2, out), S_OK);
    EXPECT_EQ(out, (std::vector<QString>{"a", "b"}));
    EXPECT_EQ(strings->Next(2, out), S_FALSE); // appends the one that is left
    EXPECT_EQ(out, (std::vector<QString>{"a", "b", "c"}));
    EXPECT_EQ(strings->Next(1, out), S_FALSE);
    EXPECT_EQ(out.size(), 3u);

    EXPECT_EQ(strings->Reset(), S_OK);
    EXPECT_EQ(strings->Skip(1), S_OK);
    ComPtr<IEnumString> clone;
    ASSERT_EQ(strings->Clone(clone), S_OK);
    out.clear();
    EXPECT_EQ(clone->Next(5, out), S_FALSE); // the clone starts where the original was
    EXPECT_EQ(out, (std::vector<QString>{"b", "c"}));
    out.clear();
    EXPECT_EQ(strings->Next(1, out), S_OK); // and moves on its own
    EXPECT_EQ(out, std::vector<QString>{"b"});
    EXPECT_EQ(strings->Skip(1), S_OK); // exactly the rest
    EXPECT_EQ(strings->Skip(1), S_FALSE);
    EXPECT_EQ(strings->Reset(), S_OK);
    EXPECT_EQ(strings->Skip(4), S_FALSE);
    EXPECT_EQ(strings->Next(1, out), S_FALSE);

    const GUID id = CreateGUID();
    ComPtr<IEnumGUID> guids = MakeCom<TEnumGUID>(std::vector<GUID>{id});
    std::vector<GUID> ids;
    EXPECT_EQ(guids->Next(1, ids), S_OK);
    EXPECT_EQ(guids->Next(1, ids), S_FALSE);
    EXPECT_EQ(ids, std::vector<GUID>{id});
    EXPECT_TRUE(guids.As<IUnknown>());
}

TClassInfo ClassInfo(const CLSID &clsid, const QString &progID, const QString &name = {},
                     TClassFactory factory = {})
{
    return TClassInfo{clsid, progID, name, {}, std::move(factory)};
}

TEST(ClassRegistryTest, RegisterReplaceUnregisterAndProviders)
{
    TClassRegistry registry;
    const CLSID a = CreateGUID(), b = CreateGUID(), c = CreateGUID();
    registry.Register(ClassInfo(a, "Vendor.A.1", "A"));
    registry.Register(ClassInfo(b, "Vendor.B.1", "B"));
    registry.Register(ClassInfo(a, "Vendor.A.2", "A2")); // replaces in place
    ASSERT_EQ(registry.Classes().size(), 2u);
    EXPECT_EQ(registry.Classes()[0].ProgID, QStringLiteral("Vendor.A.2"));
    EXPECT_EQ(registry.Find(a)->Name, QStringLiteral("A2"));
    EXPECT_FALSE(registry.FindProgID("Vendor.A.1"));
    EXPECT_EQ(registry.FindProgID("vendor.b.1")->Clsid, b);
    EXPECT_EQ(registry.FindProgID("VENDOR.A.2")->Clsid, a);
    EXPECT_FALSE(registry.FindProgID(""));
    EXPECT_FALSE(registry.Find(c));

    // Providers are asked every time and come after the registered classes; a registered class
    // id hides a provider's class of the same id.
    int calls = 0;
    registry.AddProvider([&] {
        ++calls;
        return std::vector<TClassInfo>{ClassInfo(b, "Gateway.B", "shadowed"),
                                       ClassInfo(c, "Gateway.C", "C")};
    });
    const std::vector<TClassInfo> classes = registry.Classes();
    ASSERT_EQ(classes.size(), 3u);
    EXPECT_EQ(classes[1].Name, QStringLiteral("B"));
    EXPECT_EQ(classes[2].Clsid, c);
    EXPECT_EQ(registry.FindProgID("gateway.c")->Clsid, c);
    EXPECT_FALSE(registry.FindProgID("Gateway.B"));
    EXPECT_EQ(calls, 3);

    EXPECT_TRUE(registry.Unregister(a));
    EXPECT_FALSE(registry.Unregister(a));
    EXPECT_FALSE(registry.Find(a));
    EXPECT_TRUE(registry.Unregister(b));
    EXPECT_EQ(registry.Find(b)->ProgID, QStringLiteral("Gateway.B")); // no longer hidden
}

// Registrations made on the process-wide hosts, undone after each test.
class ActivationTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (const CLSID &clsid : m_LocalClasses)
            LocalHost().Classes().Unregister(clsid);
        for (const QString &name : m_Hosts)
            UnregisterHost(name);
    }

    // A class whose factory makes a TFooBar and records the computer name it was given.
    CLSID AddClass(TComHost &host, const QString &progID, bool *destroyed = nullptr)
    {
        const CLSID clsid = CreateGUID();
        host.Classes().Register(ClassInfo(clsid, progID, "Test class",
                                          [this, destroyed](const QString &computer, auto &object) {
                                              FactoryCalls.push_back(computer);
                                              object = AsUnknown(MakeCom<TFooBar>(destroyed));
                                              return S_OK;
                                          }));
        if (&host == &LocalHost())
            m_LocalClasses.push_back(clsid);
        return clsid;
    }
    CLSID AddLocalClass(const QString &progID, TClassFactory factory)
    {
        const CLSID clsid = CreateGUID();
        LocalHost().Classes().Register(ClassInfo(clsid, progID, "Test class", std::move(factory)));
        m_LocalClasses.push_back(clsid);
        return clsid;
    }
    TComHost &AddHost(const QString &name)
    {
        m_Hosts.push_back(name);
        return RegisterHost(name);
    }

    std::vector<QString> FactoryCalls;

private:
    std::vector<CLSID> m_LocalClasses;
    std::vector<QString> m_Hosts;
};

TEST_F(ActivationTest, LocalNamesReachThisComputer)
{
    const QString name = HostComputerName();
    ASSERT_FALSE(name.isEmpty());
    const QString localNames[] = {
        "", "  ", name.toUpper(), name.toLower(), "\\\\" + name, " " + name + " "};
    for (const QString &local : localNames) {
        EXPECT_TRUE(IsLocalComputerName(local)) << local.toStdString();
        EXPECT_EQ(FindHost(local), &LocalHost()) << local.toStdString();
    }
    EXPECT_FALSE(IsLocalComputerName(name + "x"));

    // Registering a host under a local name gives this computer, not a shadow of it.
    EXPECT_EQ(&RegisterHost(name.toUpper()), &LocalHost());
    EXPECT_EQ(&RegisterHost(""), &LocalHost());
    UnregisterHost(name);
    EXPECT_EQ(FindHost(name), &LocalHost());

    const CLSID clsid = AddClass(LocalHost(), "Test.Local.1");
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(clsid, CLSCTX_SERVER, IFoo::Iid, object), S_OK);
    for (const QString &local : localNames)
        EXPECT_EQ(CoCreateInstanceEx(clsid, CLSCTX_SERVER, local, IFoo::Iid, object), S_OK);
    ASSERT_TRUE(object);
    EXPECT_EQ(object.As<IFoo>()->Foo(), 1);
    // The factory gets the name as the caller wrote it.
    ASSERT_EQ(FactoryCalls.size(), 7u);
    EXPECT_EQ(FactoryCalls[0], QString());
    EXPECT_EQ(FactoryCalls[3], name.toUpper());
    EXPECT_EQ(FactoryCalls[5], "\\\\" + name);
}

TEST_F(ActivationTest, RegisteredHostsAreFoundByNameInAnyForm)
{
    TComHost &plc = AddHost("PLC1");
    EXPECT_EQ(plc.Name(), QStringLiteral("PLC1"));
    EXPECT_EQ(&AddHost("plc1"), &plc);
    EXPECT_EQ(FindHost("\\\\Plc1"), &plc);
    EXPECT_EQ(FindHost(" PLC1 "), &plc);
    EXPECT_EQ(AddHost("\\\\PLC2").Name(), QStringLiteral("PLC2"));
    EXPECT_EQ(FindHost("PLC2"), &AddHost("PLC2"));
    EXPECT_EQ(FindHost("PLC3"), nullptr);
    UnregisterHost("\\\\plc1");
    EXPECT_EQ(FindHost("PLC1"), nullptr);
}

TEST_F(ActivationTest, ObjectsAreCreatedOnTheHostTheNameReaches)
{
    TComHost &plc = AddHost("PLC1");
    const CLSID remote = AddClass(plc, "Test.Remote.1");
    const CLSID local = AddClass(LocalHost(), "Test.Local.1");

    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstanceEx(remote, CLSCTX_REMOTE_SERVER, "\\\\plc1", IBar::Iid, object),
              S_OK);
    EXPECT_EQ(object.As<IBar>()->Bar(), 2);
    EXPECT_EQ(FactoryCalls, std::vector<QString>{"\\\\plc1"});

    struct Case
    {
        CLSID clsid;
        QString computer;
        HRESULT result;
    };
    const Case failures[] = {
        {remote, "", REGDB_E_CLASSNOTREG},    // the class lives on PLC1 only
        {local, "PLC1", REGDB_E_CLASSNOTREG}, // and this one here only
        {CreateGUID(), "PLC1", REGDB_E_CLASSNOTREG},
        {remote, "PLC9", RPC_S_SERVER_UNAVAILABLE_HR},
    };
    for (const Case &c : failures) {
        object = AsUnknown(MakeCom<TFooBar>());
        EXPECT_EQ(CoCreateInstanceEx(c.clsid, CLSCTX_SERVER, c.computer, IFoo::Iid, object),
                  c.result)
            << c.computer.toStdString();
        EXPECT_FALSE(object);
    }
    EXPECT_EQ(FactoryCalls.size(), 1u);

    plc.SetReachable(false);
    EXPECT_EQ(CoCreateInstanceEx(remote, CLSCTX_SERVER, "PLC1", IFoo::Iid, object),
              RPC_S_SERVER_UNAVAILABLE_HR);
    plc.SetReachable(true);
    EXPECT_EQ(CoCreateInstanceEx(remote, CLSCTX_SERVER, "PLC1", IFoo::Iid, object), S_OK);
    EXPECT_EQ(CoCreateInstanceEx(remote, 0, "PLC1", IFoo::Iid, object), E_INVALIDARG);
}

TEST_F(ActivationTest, AnObjectWithoutTheInterfaceIsRefusedAndFreed)
{
    bool destroyed = false;
    const CLSID clsid = AddClass(LocalHost(), "Test.Local.1", &destroyed);
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(clsid, CLSCTX_SERVER, ISink::Iid, object), E_NOINTERFACE);
    EXPECT_FALSE(object);
    EXPECT_EQ(FactoryCalls.size(), 1u);
    EXPECT_TRUE(destroyed);
}

TEST_F(ActivationTest, FactoryFailuresReachTheCaller)
{
    const CLSID denied = AddLocalClass(
        "Test.Denied", [](const QString &, ComPtr<IUnknown> &) { return E_ACCESSDENIED; });
    const CLSID nothing =
        AddLocalClass("Test.Nothing", [](const QString &, ComPtr<IUnknown> &) { return S_OK; });
    const CLSID throwing =
        AddLocalClass("Test.Throwing", [](const QString &, ComPtr<IUnknown> &) -> HRESULT {
            throw std::runtime_error("server failed to start");
        });
    const CLSID noFactory = CreateGUID();
    LocalHost().Classes().Register(ClassInfo(noFactory, "Test.NoFactory"));
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(denied, CLSCTX_SERVER, IUnknown::Iid, object), E_ACCESSDENIED);
    EXPECT_EQ(CoCreateInstance(nothing, CLSCTX_SERVER, IUnknown::Iid, object), E_UNEXPECTED);
    EXPECT_EQ(CoCreateInstance(throwing, CLSCTX_SERVER, IUnknown::Iid, object),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(CoCreateInstance(noFactory, CLSCTX_SERVER, IUnknown::Iid, object),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(object);
    LocalHost().Classes().Unregister(noFactory);
}

TEST_F(ActivationTest, ProgIDsAreLookedUpInTheLocalRegistry)
{
    const CLSID local = AddClass(LocalHost(), "Test.Local.1");
    AddClass(AddHost("PLC1"), "Test.Remote.1");
    CLSID clsid = CreateGUID();
    EXPECT_EQ(CLSIDFromProgID("test.LOCAL.1", clsid), S_OK);
    EXPECT_EQ(clsid, local);
    EXPECT_EQ(CLSIDFromProgID("Test.Remote.1", clsid), CO_E_CLASSSTRING);
    EXPECT_TRUE(clsid.isNull());
    EXPECT_EQ(CLSIDFromProgID("", clsid), CO_E_CLASSSTRING);
}

} // namespace
