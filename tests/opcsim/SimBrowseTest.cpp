// Browsing the simulation's address space and reading item properties.
#include "SimTestSupport.h"

#include "platform/system/DateTime.h"

namespace {

class SimBrowseTest : public SimFixture
{
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        m_Browse = m_Server.As<IOPCBrowseServerAddressSpace>();
        ASSERT_TRUE(m_Browse);
    }

    // The names a browse call lists, and its result.
    std::pair<HRESULT, std::vector<QString>> Browse(OPCBROWSETYPE type,
                                                    const QString &filter = QString(),
                                                    VARTYPE dataType = VT_EMPTY,
                                                    DWORD rights = 0) const
    {
        ComPtr<IEnumString> names;
        const HRESULT hr = m_Browse->BrowseOPCItemIDs(type, filter, dataType, rights, names);
        std::vector<QString> list;
        if (names)
            names->Next(100000, list);
        return {hr, list};
    }

    static std::vector<QString> List(std::initializer_list<const char *> names)
    {
        std::vector<QString> list;
        for (const char *name : names)
            list.push_back(QString::fromUtf8(name));
        return list;
    }

    ComPtr<IOPCBrowseServerAddressSpace> m_Browse;
};

TEST_F(SimBrowseTest, WalksTheHierarchyOfAreasLinesAndSignals)
{
    OPCNAMESPACETYPE organization = OPC_NS_FLAT;
    ASSERT_EQ(m_Browse->QueryOrganization(organization), S_OK);
    EXPECT_EQ(organization, OPC_NS_HIERARCHIAL);

    EXPECT_EQ(Browse(OPC_BRANCH), std::make_pair(S_OK, List({"Area1", "Area2"})));
    EXPECT_EQ(Browse(OPC_LEAF).first, S_FALSE) << "no signals at the root";
    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, QStringLiteral("Area1")), S_OK);
    EXPECT_EQ(Browse(OPC_BRANCH).second, List({"Line1", "Line2"}));
    QString id;
    ASSERT_EQ(m_Browse->GetItemID(QStringLiteral("Line2"), id), S_OK);
    EXPECT_EQ(id, QStringLiteral("Area1.Line2"));
    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, QStringLiteral("Line1")), S_OK);
    EXPECT_EQ(Browse(OPC_LEAF).second, List({"Temp", "Level", "Setpoint", "Count", "Running",
                                             "State", "Small", "Text", "Flaky"}));
    ASSERT_EQ(m_Browse->GetItemID(QStringLiteral("Temp"), id), S_OK);
    EXPECT_EQ(id, QStringLiteral("Area1.Line1.Temp"));
    ASSERT_EQ(m_Browse->GetItemID(QString(), id), S_OK);
    EXPECT_EQ(id, QStringLiteral("Area1.Line1"));
    EXPECT_EQ(m_Browse->GetItemID(QStringLiteral("Walk"), id), E_INVALIDARG);

    // The item id of a browsed leaf is what AddItems takes.
    const TTestGroup group = AddGroup(m_Server, true);
    const auto handles = group.AddItems({"Area1.Line1.Temp"});
    EXPECT_NE(handles[0], 0u);

    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_UP, QString()), S_OK);
    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_UP, QString()), S_OK);
    EXPECT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_UP, QString()), E_FAIL);
}

TEST_F(SimBrowseTest, ChangeBrowsePositionRejectsWhatIsNoBranch)
{
    struct Case
    {
        OPCBROWSEDIRECTION direction;
        const char *name;
        HRESULT result;
        const char *position; // GetItemID("") afterwards
    };
    // Each row starts where the previous one left the position.
    const Case cases[] = {
        {OPC_BROWSE_UP, "", E_FAIL, ""},
        {OPC_BROWSE_DOWN, "Nowhere", E_INVALIDARG, ""},
        {OPC_BROWSE_DOWN, "", E_INVALIDARG, ""},
        {OPC_BROWSE_TO, "Area1.Line1", S_OK, "Area1.Line1"},
        {OPC_BROWSE_DOWN, "Temp", E_INVALIDARG, "Area1.Line1"},
        {OPC_BROWSE_TO, "Area1.Line1.Temp", E_INVALIDARG, "Area1.Line1"},
        {OPC_BROWSE_TO, "Area1.Line9", E_INVALIDARG, "Area1.Line1"},
        {OPC_BROWSE_TO, "Area2", S_OK, "Area2"},
        {OPC_BROWSE_TO, "", S_OK, ""},
        {static_cast<OPCBROWSEDIRECTION>(9), "", E_INVALIDARG, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.direction) + " " + c.name);
        EXPECT_EQ(m_Browse->ChangeBrowsePosition(c.direction, QString::fromUtf8(c.name)), c.result);
        QString position;
        ASSERT_EQ(m_Browse->GetItemID(QString(), position), S_OK);
        EXPECT_EQ(position, QString::fromUtf8(c.position));
    }
}

TEST_F(SimBrowseTest, EachConnectionHasItsOwnBrowsePosition)
{
    const auto other = Connect().As<IOPCBrowseServerAddressSpace>();
    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_TO, QStringLiteral("Area2")), S_OK);
    QString here, there;
    ASSERT_EQ(m_Browse->GetItemID(QString(), here), S_OK);
    ASSERT_EQ(other->GetItemID(QString(), there), S_OK);
    EXPECT_EQ(here, QStringLiteral("Area2"));
    EXPECT_EQ(there, QString());
}

TEST_F(SimBrowseTest, FiltersSelectNamesTypesAndRights)
{
    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_TO, QStringLiteral("Area1.Line1")), S_OK);
    struct Case
    {
        OPCBROWSETYPE type;
        const char *filter;
        VARTYPE dataType;
        DWORD rights;
        std::vector<QString> expected;
    };
    const Case cases[] = {
        {OPC_LEAF, "T*", VT_EMPTY, 0, List({"Temp", "Text"})},
        {OPC_LEAF, "?e*t", VT_EMPTY, 0, List({"Setpoint", "Text"})},
        {OPC_LEAF, "*", VT_EMPTY, OPC_WRITEABLE, List({"Setpoint", "Small", "Text"})},
        // A type filter keeps what AddItems would accept with that type: texts stay texts.
        {OPC_LEAF, "", VT_R8, OPC_WRITEABLE, List({"Setpoint", "Small"})},
        {OPC_LEAF, "", VT_BSTR, OPC_WRITEABLE, List({"Setpoint", "Small", "Text"})},
        {OPC_LEAF, "Nothing*", VT_EMPTY, 0, {}},
        {OPC_LEAF, "temp", VT_EMPTY, 0, {}},
        {OPC_BRANCH, "*", VT_EMPTY, 0, {}},
        {OPC_FLAT, "*Temp", VT_EMPTY, 0, List({"Area1.Line1.Temp"})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.filter) + " type " + std::to_string(c.dataType));
        const auto [hr, names] = Browse(c.type, QString::fromUtf8(c.filter), c.dataType, c.rights);
        EXPECT_EQ(hr, c.expected.empty() ? S_FALSE : S_OK);
        EXPECT_EQ(names, c.expected);
    }
    EXPECT_EQ(Browse(static_cast<OPCBROWSETYPE>(0)).first, E_INVALIDARG);

    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_TO, QString()), S_OK);
    EXPECT_EQ(Browse(OPC_FLAT, QStringLiteral("*Temp")).second,
              List({"Area1.Line1.Temp", "Area1.Line2.Temp"}));
    EXPECT_EQ(Browse(OPC_FLAT).second.size(), 11u);
}

TEST_F(SimBrowseTest, ServerRefusingBrowseToRootIsClimbedUp)
{
    m_Control->Knobs().RefuseBrowseToRoot = true;
    ASSERT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_TO, QStringLiteral("Area1.Line2")), S_OK);
    EXPECT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_TO, QString()), E_INVALIDARG);
    EXPECT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_UP, QString()), S_OK);
    EXPECT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_UP, QString()), S_OK);
    EXPECT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_UP, QString()), E_FAIL);
    EXPECT_EQ(Browse(OPC_BRANCH).second, List({"Area1", "Area2"}));
}

TEST_F(SimBrowseTest, FlatNamespaceListsFullItemIDs)
{
    m_Control->Knobs().FlatNamespace = true;
    OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
    ASSERT_EQ(m_Browse->QueryOrganization(organization), S_OK);
    EXPECT_EQ(organization, OPC_NS_FLAT);
    EXPECT_EQ(Browse(OPC_BRANCH), std::make_pair(S_FALSE, std::vector<QString>{}));
    const auto leaves = Browse(OPC_LEAF);
    ASSERT_EQ(leaves.second.size(), 11u);
    EXPECT_EQ(leaves.second.front(), QStringLiteral("Area1.Line1.Temp"));
    QString id;
    ASSERT_EQ(m_Browse->GetItemID(leaves.second.back(), id), S_OK);
    EXPECT_EQ(id, leaves.second.back());
    EXPECT_EQ(m_Browse->GetItemID(QStringLiteral("Temp"), id), E_INVALIDARG);
    EXPECT_EQ(m_Browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, QStringLiteral("Area1")), E_FAIL);
}

TEST_F(SimBrowseTest, ItemPropertiesDescribeTheSignal)
{
    const auto properties = m_Server.As<IOPCItemProperties>();
    std::vector<DWORD> ids;
    std::vector<QString> descriptions;
    std::vector<VARTYPE> types;
    ASSERT_EQ(properties->QueryAvailableProperties(QStringLiteral("Area1.Line1.Temp"), ids,
                                                   descriptions, types),
              S_OK);
    EXPECT_EQ(ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 100, 101}));
    EXPECT_EQ(descriptions.size(), ids.size());
    EXPECT_EQ(types[0], VT_I2);
    ASSERT_EQ(properties->QueryAvailableProperties(QStringLiteral("Area1.Line1.Count"), ids,
                                                   descriptions, types),
              S_OK);
    EXPECT_EQ(ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 101})) << "no unit, no unit property";

    m_Control->AdvanceTime(7500); // Temp at its minimum, Flaky uncertain
    const DWORD asked[] = {1, 2, 3, 4, 5, 6, 100, 101, 999};
    std::vector<TVariant> values;
    std::vector<HRESULT> errors;
    ASSERT_EQ(properties->GetItemProperties(QStringLiteral("Area1.Line1.Setpoint"), asked, values,
                                            errors),
              S_FALSE);
    const TVariant expected[] = {TVariant::FromI2(VT_R8),
                                 TVariant::FromR8(50.0),
                                 TVariant::FromI2(OPC_QUALITY_GOOD),
                                 TVariant(), // checked below
                                 TVariant::FromI4(OPC_READABLE | OPC_WRITEABLE),
                                 TVariant::FromR4(50.0f),
                                 TVariant::FromString(QStringLiteral("%")),
                                 TVariant::FromString(QStringLiteral("Setpoint")),
                                 TVariant()};
    for (std::size_t i = 0; i < std::size(asked); ++i) {
        SCOPED_TRACE(asked[i]);
        EXPECT_EQ(errors[i], asked[i] == 999 ? OPC_E_INVALID_PID : S_OK);
        if (asked[i] != OPC_PROPERTY_TIMESTAMP) {
            EXPECT_EQ(values[i], expected[i]);
        }
    }
    OPCSERVERSTATUS status;
    ASSERT_EQ(m_Server->GetStatus(status), S_OK);
    EXPECT_EQ(values[3].Type(), VT_DATE);
    EXPECT_NEAR(values[3].AsDouble(),
                DateTimeFromQDateTime(FileTimeToQDateTime(status.ftCurrentTime)), 1e-8);

    const DWORD quality[] = {OPC_PROPERTY_QUALITY, OPC_PROPERTY_VALUE};
    ASSERT_EQ(
        properties->GetItemProperties(QStringLiteral("Area1.Line1.Flaky"), quality, values, errors),
        S_OK);
    EXPECT_EQ(values[0], TVariant::FromI2(OPC_QUALITY_LAST_USABLE));

    struct Failure
    {
        const char *id;
        HRESULT result;
    };
    const Failure failures[] = {{"Area1.Line1.Nothing", OPC_E_UNKNOWNITEMID},
                                {"Area1.Line1", OPC_E_UNKNOWNITEMID},
                                {"", OPC_E_INVALIDITEMID},
                                {"Area1..Temp", OPC_E_INVALIDITEMID}};
    for (const Failure &f : failures) {
        SCOPED_TRACE(f.id);
        const QString id = QString::fromUtf8(f.id);
        EXPECT_EQ(properties->QueryAvailableProperties(id, ids, descriptions, types), f.result);
        EXPECT_EQ(properties->GetItemProperties(id, asked, values, errors), f.result);
        std::vector<QString> newIDs;
        EXPECT_EQ(properties->LookupItemIDs(id, asked, newIDs, errors), f.result);
    }
    EXPECT_EQ(properties->GetItemProperties(QStringLiteral("Area1.Line1.Temp"), {}, values, errors),
              E_INVALIDARG);

    // No property is an item of its own.
    std::vector<QString> newIDs;
    const DWORD lookups[] = {OPC_PROPERTY_EU_UNITS, 999};
    ASSERT_EQ(
        properties->LookupItemIDs(QStringLiteral("Area1.Line1.Temp"), lookups, newIDs, errors),
        S_FALSE);
    EXPECT_EQ(errors, (std::vector<HRESULT>{E_FAIL, OPC_E_INVALID_PID}));
}

} // namespace
