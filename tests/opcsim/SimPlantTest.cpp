// The plant behind the simulation: its configuration format, the built-in demo plant, and
// signal values as functions of plant time, read through a group as a client does.
#include "SimTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <numbers>
#include <set>

namespace {

class SimPlantTest : public SimFixture
{
protected:
    // Device reads of the items at the current plant time.
    std::vector<TVariant> ReadAll(const TTestGroup &group, const std::vector<OPCHANDLE> &handles)
    {
        std::vector<OPCITEMSTATE> states;
        std::vector<HRESULT> errors;
        EXPECT_EQ(group.As<IOPCSyncIO>()->Read(OPC_DS_DEVICE, handles, states, errors), S_OK);
        std::vector<TVariant> values;
        for (const OPCITEMSTATE &state : states)
            values.push_back(state.vDataValue);
        return values;
    }
};

TEST_F(SimPlantTest, SignalsAreFunctionsOfPlantTime)
{
    const TTestGroup group = AddGroup(m_Server, false);
    const auto handles =
        group.AddItems({"Area1.Line1.Temp", "Area1.Line1.Level", "Area1.Line1.Count",
                        "Area1.Line1.Running", "Area1.Line1.State"});
    struct Case
    {
        qint64 at;
        double temp, level;
        int count;
        bool running;
        const char *state;
    };
    const Case cases[] = {
        {0, 50.0, 0.0, 0, true, "Stop"},
        {1500, 50.0 + 50.0 * std::sin(0.15 * 2 * std::numbers::pi), 1.5, 1, false, "Run"},
        {2500, 100.0, 2.5, 2, true, "Fault"},
        {7500, 0.0, 7.5, 7, false, "Run"},
        {103500, 50.0 + 50.0 * std::sin(0.35 * 2 * std::numbers::pi), 3.5, 103, false, "Run"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.at);
        m_Control->AdvanceTime(c.at - m_Control->Now());
        const auto values = ReadAll(group, handles);
        EXPECT_NEAR(values[0].AsDouble(), c.temp, 1e-9);
        EXPECT_NEAR(values[1].AsDouble(), c.level, 1e-9);
        EXPECT_EQ(values[2], TVariant::FromI4(c.count));
        EXPECT_EQ(values[3], TVariant::FromBool(c.running));
        EXPECT_EQ(values[4], TVariant::FromString(QString::fromUtf8(c.state)));
    }
}

TEST_F(SimPlantTest, RandomWalkDependsOnSeedAndTimeOnly)
{
    // The same walk sampled at every step and only at the end ends in the same place.
    const TTestGroup group = AddGroup(m_Server, false);
    const auto walk = group.AddItems({"Area2.Walk"});
    std::vector<double> path;
    for (int i = 0; i < 50; ++i) {
        m_Control->AdvanceTime(100);
        path.push_back(group.ReadOne(walk[0], OPC_DS_DEVICE).vDataValue.AsDouble());
    }
    for (std::size_t i = 1; i < path.size(); ++i) {
        EXPECT_LE(std::abs(path[i] - path[i - 1]), 0.5 + 1e-6);
        EXPECT_GE(path[i], 0.0);
        EXPECT_LE(path[i], 10.0);
    }
    EXPECT_GT(std::set<double>(path.begin(), path.end()).size(), 40u) << "it moves";

    TSimulationOptions options;
    options.Clsid = CreateGUID();
    options.ProgID = QStringLiteral("Tidewell.OPCSimulationWalk.1");
    options.ManualClock = true;
    options.PlantText = QString::fromUtf8(TestPlant);
    const auto twin = RegisterSimulationServer(LocalHost(), options);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(options.Clsid, CLSCTX_SERVER, IOPCServer::Iid, object), S_OK);
    const TTestGroup twinGroup = AddGroup(object.As<IOPCServer>(), false);
    const auto twinWalk = twinGroup.AddItems({"Area2.Walk"});
    twin->AdvanceTime(5000);
    EXPECT_EQ(twinGroup.ReadOne(twinWalk[0], OPC_DS_DEVICE).vDataValue.AsDouble(), path.back());
    object.Reset();
    twin->Unregister();
}

TEST_F(SimPlantTest, ConfigurationErrorsNameTheLine)
{
    struct Case
    {
        const char *text;
        int line;
    };
    const Case cases[] = {
        {"A sine\nB wave\n", 2},
        {"A sine colour=red\n", 1},
        {"A sine period=fast\n", 1},
        {"A sine period=0\n", 1},
        {"A sine low=5 high=1\n", 1},
        {"A const type=CY\n", 1},
        {"A const description=\"open\n", 1},
        {"A sine\nA ramp\n", 2},
        {"[A]\nB sine\n[]\nA.B ramp\n", 4},
        {"A sine\n[A]\n", 2},
        {"S string\n", 1},
        {"S sine type=BSTR\n", 1},
        {"X# sine\nY sine count=3\n", 2},
        {"[A..B]\n", 1},
        {"\n\n# fine\nA\n", 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        TSimulationOptions options;
        options.Clsid = CreateGUID();
        options.PlantText = QString::fromUtf8(c.text);
        try {
            RegisterSimulationServer(LocalHost(), options);
            ADD_FAILURE() << "accepted";
        } catch (const ESimulationConfigError &error) {
            EXPECT_TRUE(error.Message().contains(QStringLiteral("Zeile %1:").arg(c.line)))
                << error.Message().toStdString();
        }
        EXPECT_FALSE(LocalHost().Classes().Find(options.Clsid)) << "nothing registered";
    }
}

TEST_F(SimPlantTest, CountExpandsNamesAndPlantFilesLoad)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plant.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("; Anlage\n[Halle 1]\nSensor# sine count=12 unit=\"m³/h\"\nSoll const value=3 "
               "writable\n");
    file.close();
    TSimulationOptions options;
    options.PlantFile = path;
    Register(options);
    EXPECT_EQ(m_Control->SignalCount(), 13);
    const auto server = Connect();
    const TTestGroup group = AddGroup(server, false);
    std::vector<OPCITEMDEF> defs(3);
    defs[0].szItemID = QStringLiteral("Halle 1.Sensor01");
    defs[1].szItemID = QStringLiteral("Halle 1.Sensor12");
    defs[2].szItemID = QStringLiteral("Halle 1.Sensor1");
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    group.As<IOPCItemMgt>()->AddItems(defs, results, errors);
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, S_OK, OPC_E_UNKNOWNITEMID}));
    QString file2;
    ASSERT_EQ(server.As<IPersistFile>()->GetCurFile(file2), S_OK);
    EXPECT_EQ(file2, path);

    options.PlantFile = dir.filePath(QStringLiteral("missing.txt"));
    EXPECT_THROW(Register(options), ESimulationConfigError);
}

TEST_F(SimPlantTest, ExampleAndBuiltInPlantsLoad)
{
    TSimulationOptions options;
    options.PlantFile = QStringLiteral(TIDEWELL_EXAMPLE_PLANT);
    Register(options);
    EXPECT_GT(m_Control->SignalCount(), 10);

    // Without a configuration: the demo plant, hundreds of items in areas and lines.
    TSimulationOptions demo;
    demo.PlantText = BuiltInPlantText();
    Register(demo);
    EXPECT_GE(m_Control->SignalCount(), 200);
    const auto browse = Connect().As<IOPCBrowseServerAddressSpace>();
    ComPtr<IEnumString> names;
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, QString(), VT_EMPTY, 0, names), S_OK);
    std::vector<QString> branches;
    names->Next(100, branches);
    EXPECT_EQ(branches, (std::vector<QString>{QStringLiteral("Plant"), QStringLiteral("Area1"),
                                              QStringLiteral("Area2"), QStringLiteral("Area3")}));
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, QString(), VT_EMPTY, OPC_WRITEABLE, names), S_OK);
    std::vector<QString> writable;
    names->Next(1000, writable);
    EXPECT_GE(writable.size(), 9u);
}

} // namespace
