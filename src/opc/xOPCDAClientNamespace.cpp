#include "opc/xOPCDAClientNamespace.h"

#include "eventlog/xEventLog.h"
#include "opc/OPCError.h"
#include "platform/system/Exception.h"

#include <array>

namespace {

const QChar Separator = u'\\';

template <class T> void TraceCall(const T *sender, const QString &call)
{
    EventLogger().Log(etInformation, 5, sender, QStringLiteral("Ausgehender OPC-Aufruf: ") + call);
}

[[noreturn]] void RaiseNoNamespace()
{
    throw Exception(
        QStringLiteral("Interner Fehler beim Browsen: Branch muss Teil eines Namensraums sein"));
}

TOPCDAClientNamespace &NamespaceOf(TOPCDAClientBranch *parent)
{
    if (!parent)
        RaiseNoNamespace();
    return *parent->Namespace();
}

QString EscapeName(const QString &name)
{
    QString escaped = name;
    return escaped.replace(Separator, QStringLiteral("\\\\"));
}

} // namespace

// ---- TOPCDAClientNode ----

TOPCDAClientNode::TOPCDAClientNode(const QString &name, const QString &itemID)
    : ItemID(itemID), Name(name)
{
}

TOPCDAClientNode::~TOPCDAClientNode() = default;

QString TOPCDAClientNode::GetItemID()
{
    return ItemID;
}

QString TOPCDAClientNode::GetName() const
{
    return Name;
}

std::unique_ptr<TOPCDAClientNode> TOPCDAClientNode::Clone() const
{
    return std::make_unique<TOPCDAClientNode>(Name, ItemID);
}

void TOPCDAClientNode::UpdateItemIDs()
{
    ComposeItemID();
}

void TOPCDAClientNode::ComposeItemID()
{
    if (!Parent)
        return;
    ItemID = Parent->GetItemID() + Name;
    Parent->InvalidateItemIndex();
}

void TOPCDAClientNode::SetParent(TOPCDAClientBranch *parent)
{
    if (!parent)
        RaiseMissingParameter(QStringLiteral("TOPCDAClientNode.SetParent"),
                              QStringLiteral("Parent"));
    if (!Parent)
        RaiseInternalError(QStringLiteral("TOPCDAClientNode.SetParent"),
                           QStringLiteral("Der Knoten gehört zu keinem Branch."));
    // A branch below itself would own itself.
    for (const TOPCDAClientNode *b = parent; b; b = b->Parent)
        if (b == this)
            RaiseInternalError(QStringLiteral("TOPCDAClientNode.SetParent"),
                               QStringLiteral("Ein Branch kann nicht unter sich selbst liegen."));
    parent->AddChild(Parent->RemoveChild(this));
}

// ---- TOPCDAClientBranch ----

TOPCDAClientBranch::~TOPCDAClientBranch()
{
    while (!m_Children.empty())
        m_Children.pop_back();
}

std::unique_ptr<TOPCDAClientNode> TOPCDAClientBranch::Clone() const
{
    auto copy = std::make_unique<TOPCDAClientBranch>(Name, ItemID);
    for (const auto &child : m_Children)
        copy->AddChild(child->Clone());
    copy->Browsed = Browsed;
    return copy;
}

void TOPCDAClientBranch::UpdateItemIDs()
{
    ComposeItemID();
    for (const auto &child : m_Children)
        child->UpdateItemIDs();
}

void TOPCDAClientBranch::ComposeItemID()
{
    if (!Parent)
        return;
    TOPCDAClientNode::ComposeItemID();
    ItemID += Separator;
}

int TOPCDAClientBranch::ChildCount()
{
    if (!Browsed)
        Browse(false);
    return static_cast<int>(m_Children.size());
}

TOPCDAClientNode *TOPCDAClientBranch::Child(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_Children.size())
        return nullptr;
    return m_Children[static_cast<std::size_t>(index)].get();
}

std::unique_ptr<TOPCDAClientBranch> TOPCDAClientBranch::NewBranch(const QString &name) const
{
    return std::make_unique<TOPCDAClientBranch>(name, QString());
}

std::unique_ptr<TOPCDAClientLeaf> TOPCDAClientBranch::NewLeaf(const QString &name) const
{
    return std::make_unique<TOPCDAClientLeaf>(name, QString());
}

void TOPCDAClientBranch::Clear()
{
    while (!m_Children.empty())
        m_Children.pop_back();
    m_BranchCount = 0;
    LeafCount = 0;
    Browsed = false;
    ChildrenChanged();
}

TOPCDAClientNamespace *TOPCDAClientBranch::Namespace()
{
    return &NamespaceOf(Parent);
}

void TOPCDAClientBranch::BrowseTo()
{
    TOPCDAClientNamespace &ns = NamespaceOf(Parent);
    Parent->BrowseTo();
    TraceCall(this, QStringLiteral(
                        "IOPCBrowseServerAddressSpace.ChangeBrowsePosition(OPC_BROWSE_DOWN, '") +
                        Name + QStringLiteral("')"));
    OPCCheck(ns.CheckedBrowseServerAddressSpace().ChangeBrowsePosition(OPC_BROWSE_DOWN, Name));
}

void TOPCDAClientBranch::ReadNames(IOPCBrowseServerAddressSpace &browser, OPCBROWSETYPE type,
                                   std::vector<TOPCDAClientNode *> &added)
{
    ComPtr<IEnumString> names;
    OPCCheck(browser.BrowseOPCItemIDs(type, QString(), VT_EMPTY, 0, names));
    if (!names)
        return;
    for (;;) {
        std::vector<QString> one;
        const HRESULT hr = names->Next(1, one);
        if (FAILED(hr) || one.size() != 1)
            break;
        std::unique_ptr<TOPCDAClientNode> node;
        if (type == OPC_BRANCH)
            node = NewBranch(one.front());
        else
            node = NewLeaf(one.front());
        TOPCDAClientNode *raw = node.get();
        AddChild(std::move(node));
        added.push_back(raw);
    }
}

void TOPCDAClientBranch::Browse(bool recursive)
{
    if (!Browsed) {
        TOPCDAClientNamespace &ns = *Namespace();
        IOPCBrowseServerAddressSpace &browser = ns.CheckedBrowseServerAddressSpace();
        BrowseTo();
        std::vector<TOPCDAClientNode *> added;
        try {
            if (ns.Organization() == OPC_NS_HIERARCHIAL) {
                TraceCall(
                    this,
                    QStringLiteral("IOPCBrowseServerAddressSpace.BrowseOPCItemIDs(OPC_BRANCH,'')"));
                ReadNames(browser, OPC_BRANCH, added);
                BrowseTo();
            }
            TraceCall(this,
                      QStringLiteral("IOPCBrowseServerAddressSpace.BrowseOPCItemIDs(OPC_LEAF,'')"));
            ReadNames(browser, OPC_LEAF, added);
        } catch (...) {
            // The next attempt reads them again; keeping them would list them twice.
            for (auto it = added.rbegin(); it != added.rend(); ++it)
                RemoveChild(*it);
            throw;
        }
        Browsed = true;
    }
    if (recursive) {
        for (int i = 0; i < ChildCount(); ++i)
            if (auto *branch = dynamic_cast<TOPCDAClientBranch *>(Child(i)))
                branch->Browse(true);
    }
}

void TOPCDAClientBranch::AddChild(std::unique_ptr<TOPCDAClientNode> node)
{
    if (!node)
        return;
    for (TOPCDAClientBranch *b = this; b; b = b->Parent) {
        if (b->OnProcessNode) {
            b->OnProcessNode(node.get());
            break;
        }
    }
    node->Parent = this;
    if (dynamic_cast<TOPCDAClientBranch *>(node.get())) {
        m_Children.insert(m_Children.begin() + m_BranchCount, std::move(node));
        ++m_BranchCount;
    } else {
        m_Children.push_back(std::move(node));
        ++LeafCount;
    }
    ChildrenChanged();
}

std::unique_ptr<TOPCDAClientNode> TOPCDAClientBranch::RemoveChild(TOPCDAClientNode *node)
{
    for (auto it = m_Children.begin(); it != m_Children.end(); ++it) {
        if (it->get() != node)
            continue;
        std::unique_ptr<TOPCDAClientNode> taken = std::move(*it);
        m_Children.erase(it);
        if (dynamic_cast<TOPCDAClientBranch *>(taken.get()))
            --m_BranchCount;
        else
            --LeafCount;
        taken->Parent = nullptr;
        ChildrenChanged();
        return taken;
    }
    return nullptr;
}

void TOPCDAClientBranch::ChildrenChanged()
{
    m_NameIndexValid = false;
    m_NameIndex.clear();
    InvalidateItemIndex();
}

void TOPCDAClientBranch::InvalidateItemIndex()
{
    for (TOPCDAClientBranch *b = this; b; b = b->Parent) {
        if (b->m_ItemIndexValid) {
            b->m_ItemIndexValid = false;
            b->m_ItemIndex.clear();
        }
    }
}

TOPCDAClientNode *TOPCDAClientBranch::FindChildByName(const QString &name, bool recursive,
                                                      const QString &itemID)
{
    const int count = ChildCount();
    if (!recursive) {
        if (!m_NameIndexValid) {
            m_NameIndex.clear();
            m_NameIndex.reserve(count);
            for (int i = count - 1; i >= 0; --i)
                m_NameIndex.insert(m_Children[static_cast<std::size_t>(i)]->Name, i);
            m_NameIndexValid = true;
        }
        const auto found = m_NameIndex.constFind(name);
        if (found == m_NameIndex.cend())
            return nullptr;
        int start = found.value();
        if (m_Children[static_cast<std::size_t>(start)]->Name != name) {
            // Somebody renamed a child behind the index's back.
            m_NameIndexValid = false;
            start = 0;
        }
        for (int i = start; i < static_cast<int>(m_Children.size()); ++i) {
            TOPCDAClientNode *child = m_Children[static_cast<std::size_t>(i)].get();
            if (child->Name == name && (itemID.isEmpty() || child->GetItemID() == itemID))
                return child;
        }
        return nullptr;
    }
    for (int i = 0; i < ChildCount(); ++i) {
        TOPCDAClientNode *child = Child(i);
        if (child->Name == name && (itemID.isEmpty() || child->GetItemID() == itemID))
            return child;
        if (auto *branch = dynamic_cast<TOPCDAClientBranch *>(child))
            if (TOPCDAClientNode *result = branch->FindChildByName(name, true, itemID))
                return result;
    }
    return nullptr;
}

bool TOPCDAClientBranch::BuildItemIndex()
{
    // Only from what is known already: an unbrowsed branch or a leaf without its item id would
    // need the server, and the plain search must keep doing that in its own order.
    QHash<QString, TOPCDAClientNode *> index;
    std::vector<TOPCDAClientBranch *> stack{this};
    std::vector<std::size_t> positions{0};
    if (!Browsed)
        return false;
    while (!stack.empty()) {
        TOPCDAClientBranch *branch = stack.back();
        std::size_t &pos = positions.back();
        if (pos == branch->m_Children.size()) {
            stack.pop_back();
            positions.pop_back();
            continue;
        }
        TOPCDAClientNode *child = branch->m_Children[pos++].get();
        auto *childBranch = dynamic_cast<TOPCDAClientBranch *>(child);
        if (childBranch) {
            if (!childBranch->Browsed)
                return false;
        } else if (child->ItemID.isEmpty()) {
            return false;
        }
        if (!index.contains(child->ItemID))
            index.insert(child->ItemID, child);
        if (childBranch) {
            stack.push_back(childBranch);
            positions.push_back(0);
        }
    }
    m_ItemIndex = std::move(index);
    m_ItemIndexValid = true;
    return true;
}

TOPCDAClientNode *TOPCDAClientBranch::FindNodeByItemID(const QString &itemID, bool recursive)
{
    if (recursive && (m_ItemIndexValid || BuildItemIndex())) {
        TOPCDAClientNode *node = m_ItemIndex.value(itemID);
        if (!node || node->ItemID == itemID)
            return node;
        // An item id was changed behind the index's back.
        InvalidateItemIndex();
    }
    return SearchItemID(itemID, recursive);
}

TOPCDAClientNode *TOPCDAClientBranch::SearchItemID(const QString &itemID, bool recursive)
{
    for (int i = 0; i < ChildCount(); ++i) {
        TOPCDAClientNode *child = Child(i);
        if (child->GetItemID() == itemID)
            return child;
        if (recursive)
            if (auto *branch = dynamic_cast<TOPCDAClientBranch *>(child))
                if (TOPCDAClientNode *result = branch->SearchItemID(itemID, true))
                    return result;
    }
    return nullptr;
}

TOPCDAClientNode *TOPCDAClientBranch::FindNodeByPath(const QString &path)
{
    TOPCDAClientBranch *branch = this;
    QString rest = path;
    for (;;) {
        qsizetype separator = -1;
        for (qsizetype i = 0; i < rest.size(); ++i) {
            if (rest[i] != Separator)
                continue;
            if (i + 1 < rest.size() && rest[i + 1] == Separator) {
                ++i; // a doubled separator is part of a name
                continue;
            }
            separator = i;
            break;
        }
        if (separator < 0)
            return branch->FindChildByName(UnescapeName(rest), false);
        TOPCDAClientNode *head = branch->FindChildByName(UnescapeName(rest.left(separator)), false);
        branch = dynamic_cast<TOPCDAClientBranch *>(head);
        if (!branch)
            return nullptr;
        rest = rest.mid(separator + 1);
    }
}

// ---- TOPCDAClientNamespace ----

TOPCDAClientNamespace::TOPCDAClientNamespace(const QString &name, const QString &itemID)
    : TOPCDAClientBranch(name, itemID)
{
}

std::unique_ptr<TOPCDAClientNode> TOPCDAClientNamespace::Clone() const
{
    auto copy = std::make_unique<TOPCDAClientNamespace>(Name, ItemID);
    for (const auto &child : m_Children)
        copy->AddChild(child->Clone());
    copy->Browsed = Browsed;
    copy->KnownOrganization = KnownOrganization;
    copy->BrowseServerAddressSpace = BrowseServerAddressSpace;
    copy->ItemProperties = ItemProperties;
    return copy;
}

DWORD TOPCDAClientNamespace::Organization()
{
    if (KnownOrganization != 0)
        return KnownOrganization;
    if (BrowseServerAddressSpace) {
        TraceCall(this, QStringLiteral("IOPCBrowseServerAddressSpace.QueryOrganization"));
        OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
        OPCCheck(BrowseServerAddressSpace->QueryOrganization(organization));
        KnownOrganization = organization;
        return KnownOrganization;
    }
    for (int i = 0; i < ChildCount(); ++i)
        if (dynamic_cast<TOPCDAClientBranch *>(Child(i)))
            return OPC_NS_HIERARCHIAL;
    return OPC_NS_FLAT;
}

void TOPCDAClientNamespace::BrowseTo()
{
    if (Organization() != OPC_NS_HIERARCHIAL)
        return;
    IOPCBrowseServerAddressSpace &browser = CheckedBrowseServerAddressSpace();
    TraceCall(this, QStringLiteral(
                        "IOPCBrowseServerAddressSpace.ChangeBrowsePosition(OPC_BROWSE_TO, '')"));
    HRESULT hr = browser.ChangeBrowsePosition(OPC_BROWSE_TO, QString());
    if (hr != E_INVALIDARG) {
        OPCCheck(hr);
        return;
    }
    EventLogger().Log(etInformation, 5, this,
                      QStringLiteral("IOPCBrowseServerAddressSpace.ChangeBrowsePosition(OPC_BROWSE_"
                                     "TO, '') hat E_INVALIDARG zurückgegeben, der Server scheint "
                                     "nicht OPCDA2.0-konform zu sein."));
    constexpr int MaxMovesUp = 100;
    int moves = 0;
    do {
        TraceCall(
            this,
            QStringLiteral("IOPCBrowseServerAddressSpace.ChangeBrowsePosition(OPC_BROWSE_UP, '')"));
        hr = browser.ChangeBrowsePosition(OPC_BROWSE_UP, QString());
        ++moves;
    } while (hr == S_OK && moves < MaxMovesUp);
    if (hr == S_OK)
        EventLogger().Log(etWarning, 3, this,
                          QStringLiteral("Das Browsen zum Root-Element hat möglicherweise nicht "
                                         "funktioniert. Der Namespace könnte unvollständig sein."));
    else if (hr != E_FAIL)
        OPCCheck(hr);
}

IOPCBrowseServerAddressSpace &TOPCDAClientNamespace::CheckedBrowseServerAddressSpace()
{
    if (!BrowseServerAddressSpace)
        throw ENoIOPCBrowseServerAddressSpaceIntf();
    return *BrowseServerAddressSpace;
}

IOPCItemProperties &TOPCDAClientNamespace::CheckedItemProperties()
{
    if (!ItemProperties)
        throw ENoIOPCItemPropertiesIntf();
    return *ItemProperties;
}

// ---- TOPCDAClientLeaf ----

QString TOPCDAClientLeaf::GetItemID()
{
    if (!ItemID.isEmpty() || !Parent)
        return ItemID;
    if (OnResolveItemID) {
        OnResolveItemID(this);
    } else {
        for (TOPCDAClientBranch *b = Parent; b; b = b->Parent) {
            if (b->OnResolveItemID) {
                b->OnResolveItemID(this);
                break;
            }
        }
    }
    // The handler may have moved or detached the leaf.
    if (!Parent)
        return ItemID;
    Parent->BrowseTo();
    TraceCall(this, QStringLiteral("IOPCBrowseServerAddressSpace.GetItemID(") + Name +
                        QStringLiteral(")"));
    IOPCBrowseServerAddressSpace &browser = NamespaceOf(Parent).CheckedBrowseServerAddressSpace();
    QString itemID;
    if (SUCCEEDED(browser.GetItemID(Name, itemID)) && !itemID.isEmpty()) {
        ItemID = itemID;
        Parent->InvalidateItemIndex();
    }
    return ItemID;
}

std::unique_ptr<TOPCDAClientNode> TOPCDAClientLeaf::Clone() const
{
    auto copy = std::make_unique<TOPCDAClientLeaf>(Name, ItemID);
    copy->DataType = DataType;
    copy->AccessRights = AccessRights;
    return copy;
}

void TOPCDAClientLeaf::ReadProperties()
{
    if (PropertiesRead)
        return;
    const QString itemID = GetItemID();
    IOPCItemProperties &properties = NamespaceOf(Parent).CheckedItemProperties();
    constexpr std::array<DWORD, 2> ids{1, 5}; // canonical data type, access rights
    std::vector<TVariant> data;
    std::vector<HRESULT> errors;
    OPCCheck(properties.GetItemProperties(itemID, ids, data, errors));
    // A server that answers with short arrays must not make us read past them.
    const auto answered = [&](std::size_t i) {
        return i < data.size() && i < errors.size() && errors[i] == S_OK;
    };
    bool ok = false;
    if (answered(0)) {
        const auto value = data[0].ToInt64(&ok);
        if (ok)
            DataType = static_cast<VARTYPE>(value);
    }
    if (answered(1)) {
        const auto value = data[1].ToInt64(&ok);
        if (ok)
            AccessRights = static_cast<DWORD>(value);
    }
    PropertiesRead = true;
}

DWORD TOPCDAClientLeaf::GetAccessRights()
{
    ReadProperties();
    return AccessRights;
}

VARTYPE TOPCDAClientLeaf::GetDataType()
{
    ReadProperties();
    return DataType;
}

// ---- paths ----

QString GetNodePath(const TOPCDAClientNode *node)
{
    QString path;
    for (; node && node->Parent; node = node->Parent) {
        if (node->Parent->Parent)
            path.prepend(Separator + EscapeName(node->Name));
        else
            path.prepend(EscapeName(node->Name));
    }
    return path;
}

QString UnescapeName(const QString &text)
{
    QString result = text;
    return result.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
}
