#include "acquisition/ExceptionText.h"
#include "acquisition/xOPCClientBridge.h"
#include "eventlog/xEventLog.h"
#include "platform/system/Exception.h"
#include "platform/system/WindowMessages.h"

#include <QHash>
#include <array>

namespace {

const QString OPCStateAttribute = QStringLiteral("OPCState");
const QString ValueUnitAttribute = QStringLiteral("ValueUnit");
const QString DescriptionAttribute = QStringLiteral("Description");
constexpr DWORD PropertyValueUnit = 100;
constexpr DWORD PropertyDescription = 101;

// The phase's label bold for a scope.
class TPhaseScope
{
public:
    TPhaseScope(TOPCResolveProgress &progress, TOPCResolvePhase phase)
        : m_Progress(progress), m_Phase(phase)
    {
        m_Progress.SetPhaseBold(m_Phase, true);
    }
    ~TPhaseScope() { m_Progress.SetPhaseBold(m_Phase, false); }
    TPhaseScope(const TPhaseScope &) = delete;
    TPhaseScope &operator=(const TPhaseScope &) = delete;

private:
    TOPCResolveProgress &m_Progress;
    TOPCResolvePhase m_Phase;
};

// Reports every node the namespace adds or asks the server about, for a scope.
class TNodeReport
{
public:
    TNodeReport(TOPCDAClientNamespace &ns, TOPCResolveProgress &progress) : m_Namespace(ns)
    {
        ns.OnProcessNode = [&progress](TOPCDAClientNode *node) {
            progress.NodeVisited(node->Name);
        };
        ns.OnResolveItemID = [&progress](TOPCDAClientLeaf *leaf) {
            progress.NodeVisited(leaf->Name);
        };
    }
    ~TNodeReport()
    {
        m_Namespace.OnProcessNode = nullptr;
        m_Namespace.OnResolveItemID = nullptr;
    }
    TNodeReport(const TNodeReport &) = delete;
    TNodeReport &operator=(const TNodeReport &) = delete;

private:
    TOPCDAClientNamespace &m_Namespace;
};

void VisitPreOrder(TOPCDAClientBranch &branch, const std::function<void(TOPCDAClientNode *)> &visit)
{
    for (int i = 0; i < branch.ChildCount(); ++i) {
        TOPCDAClientNode *child = branch.Child(i);
        visit(child);
        if (auto *sub = dynamic_cast<TOPCDAClientBranch *>(child))
            VisitPreOrder(*sub, visit);
    }
}

// The recursive search by browse name, answered from an index: the first node of that name in
// depth-first order, as the namespace's own search finds it, but without walking the whole tree
// for every item. Built on first use from the fully browsed tree, which is what a search that
// misses browses anyway.
class TNameIndex
{
public:
    explicit TNameIndex(TOPCDAClientNamespace &ns) : m_Namespace(ns) {}

    // itemID not empty: only a node with exactly that ItemID counts.
    TOPCDAClientNode *Find(const QString &name, const QString &itemID)
    {
        if (!m_Built) {
            m_Namespace.Browse(true);
            VisitPreOrder(m_Namespace,
                          [this](TOPCDAClientNode *node) { m_ByName[node->Name].push_back(node); });
            m_Built = true;
        }
        const auto found = m_ByName.constFind(name);
        if (found == m_ByName.cend())
            return nullptr;
        for (TOPCDAClientNode *node : found.value())
            if (itemID.isEmpty() || node->GetItemID() == itemID)
                return node;
        return nullptr;
    }

private:
    TOPCDAClientNamespace &m_Namespace;
    QHash<QString, std::vector<TOPCDAClientNode *>> m_ByName;
    bool m_Built = false;
};

std::unique_ptr<TOPCDAClientNamespace> CopyNamespace(const TOPCDAClientNamespace &source)
{
    std::unique_ptr<TOPCDAClientNode> clone = source.Clone();
    auto *ns = dynamic_cast<TOPCDAClientNamespace *>(clone.get());
    if (!ns)
        return std::make_unique<TOPCDAClientNamespace>();
    clone.release();
    return std::unique_ptr<TOPCDAClientNamespace>(ns);
}

QString PropertyText(const TItemProperty &property)
{
    if (property.Error >= 0)
        return property.Value.ToString();
    if (property.Error == OPC_E_INVALID_PID)
        return QStringLiteral("(Nicht angegeben)");
    return OPCErrorText(property.Error);
}

} // namespace

// ---- TOPCClientTransmitter ----

TOPCClientTransmitter *TOPCClientTransmitter::Create(TOPCClientBridge *AOPCClientBridge,
                                                     const QString &name)
{
    if (!AOPCClientBridge)
        RaiseMissingParameter(QStringLiteral("TOPCClientTransmitter.Create"),
                              QStringLiteral("AOPCClientBridge"));
    auto *transmitter = new TOPCClientTransmitter(AOPCClientBridge, name);
    AOPCClientBridge->m_Transmitters.emplace_back(transmitter);
    return transmitter;
}

TOPCClientTransmitter::TOPCClientTransmitter(TOPCClientBridge *bridge, const QString &name)
    : Name(name), m_Bridge(bridge)
{
}

TOPCClientTransmitter::~TOPCClientTransmitter()
{
    // A group left behind stays with the client until it disconnects; it must not call into
    // objects that are gone by then.
    DetachHandlers();
    for (auto &item : m_Items)
        item.reset();
    m_Items.clear();
}

void TOPCClientTransmitter::DetachHandlers()
{
    TOPCDAClientGroup *group = Group();
    if (!group)
        return;
    group->OnDataChange = nullptr;
    for (const auto &item : m_Items)
        if (TOPCDAClientItem *opcItem = item->OPCItem())
            opcItem->OnChange = nullptr;
}

TOPCBridgedItem *TOPCClientTransmitter::Items(int index) const
{
    if (index < 0 || index >= ItemCount())
        throw EListError(index);
    return m_Items[static_cast<std::size_t>(index)].get();
}

TOPCDAClientGroup *TOPCClientTransmitter::Group() const
{
    return m_GroupHandle == 0 ? nullptr : Client().FindGroup(m_GroupHandle);
}

void TOPCClientTransmitter::CreateCacheEntries()
{
    TDataCache &cache = m_Bridge->DataCache();
    for (const auto &item : m_Items)
        if (!cache.Exists(item->Alias))
            cache.Add(item->Alias);
}

void TOPCClientTransmitter::CreateGroup()
{
    TOPCDAClient &client = Client();
    if (!client.Connected())
        return;
    TOPCDAClientGroup *group = Group();
    if (!group) {
        ForgetGroup();
        DWORD revised = 0;
        try {
            group = client.AddGroup(Name, UpdateRate, revised, false, 0.0f, nullptr, 0);
        } catch (...) {
            if (!(ErrorFlags & oe_GroupError)) {
                EventLogger().Log(etError, 1, this,
                                  QStringLiteral("Fehler beim Erzeugen der Gruppe. Meldung: %1")
                                      .arg(CurrentExceptionText()));
                ErrorFlags |= oe_GroupError;
            }
            return;
        }
        // A rate of 0 switches the transmitter off. Servers revise it to their fastest rate;
        // taking that over would activate the group now and on every resume.
        if (UpdateRate != 0)
            UpdateRate = revised;
        ErrorFlags &= ~oe_GroupError;
        m_GroupHandle = group->ClientHandle();

        group->BeginAddItems();
        try {
            for (const auto &item : m_Items) {
                if (item->ErrorFlags & (oe_InvalidPath | oe_UnknownElement))
                    continue;
                TOPCDAClientItem *opcItem =
                    group->AddItem(item->ItemID, item->ItemID, true, VT_EMPTY, {}, QString());
                item->SetOPCItem(opcItem);
                TOPCBridgedItem *bridged = item.get();
                opcItem->OnChange = [bridged](TOPCDAClientItem *sender) {
                    bridged->OPCItemChanged(sender);
                };
            }
            for (const auto &item : m_Items)
                item->ReadItemProperties();
        } catch (...) {
            // Send what was added; the batch must not stay open.
            try {
                group->EndAddItems();
            } catch (...) {
            }
            throw;
        }
        try {
            group->EndAddItems();
            for (const auto &item : m_Items)
                item->ErrorFlags &= ~oe_AddItemError;
        } catch (const EOPCOpCompletedWithOneOrMoreErrors &e) {
            ApplyAddItemsFailure(e);
            EventLogger().Log(etError, 1, this, e.Message());
        } catch (...) {
            EventLogger().Log(etError, 1, this,
                              QStringLiteral("Fehler beim Hinzufügen der Items. Meldung: %1")
                                  .arg(CurrentExceptionText()));
        }
        TOPCClientBridge *bridge = m_Bridge;
        group->OnDataChange = [bridge](TOPCDAClientGroup *) {
            PostMessage(bridge->MessageReceiver(), WM_OPCDATACHANGE);
        };
    }
    try {
        group->SetActive(UpdateRate != 0);
    } catch (...) {
        // Logged like a failed deactivation, so the remaining transmitters still get their groups.
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
}

void TOPCClientTransmitter::ApplyAddItemsFailure(const EOPCOpCompletedWithOneOrMoreErrors &e)
{
    // An item that was refused before and is accepted now loses its mark, as on full success.
    std::vector<TOPCBridgedItem *> refused;
    for (qsizetype i = 0; i < e.Count(); ++i)
        if (TOPCBridgedItem *item = FindItemByOPCItem(e.Items(i)))
            refused.push_back(item);
    for (const auto &item : m_Items) {
        if (std::find(refused.begin(), refused.end(), item.get()) != refused.end())
            item->ErrorFlags |= oe_AddItemError;
        else
            item->ErrorFlags &= ~oe_AddItemError;
    }
}

void TOPCClientTransmitter::RemoveGroup()
{
    TOPCDAClientGroup *group = Group();
    if (!group) {
        ForgetGroup();
        return;
    }
    try {
        group->SetActive(false);
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
    try {
        Client().RemoveGroup(group, false);
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
    ForgetGroup();
}

void TOPCClientTransmitter::DeactivateGroup()
{
    TOPCDAClientGroup *group = Group();
    if (!group)
        return;
    try {
        group->SetActive(false);
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
}

void TOPCClientTransmitter::ForgetGroup()
{
    m_GroupHandle = 0;
    for (const auto &item : m_Items)
        item->SetOPCItem(nullptr);
}

void TOPCClientTransmitter::RefreshCache()
{
    TOPCDAClientGroup *group = Group();
    if (group && Client().Connected()) {
        try {
            // The whole group from the server's cache, except items the server refused: they
            // have no server handle, and reading them would fail on every refresh.
            group->BeginRead(OPC_DS_CACHE);
            for (const auto &item : m_Items)
                if (TOPCDAClientItem *opcItem = item->OPCItem();
                    opcItem && !(item->ErrorFlags & oe_AddItemError))
                    opcItem->PendingRead = true;
            group->EndRead();
        } catch (...) {
            EventLogger().Log(etError, 1, this, CurrentExceptionText());
        }
    }
    for (const auto &item : m_Items)
        item->UpdateCacheEntry();
}

void TOPCClientTransmitter::SetUpdateRate(DWORD ms)
{
    UpdateRate = ms;
    if (TOPCDAClientGroup *group = Group())
        group->SetUpdateRate(ms);
}

TOPCBridgedItem *TOPCClientTransmitter::FindItemByAlias(const QString &alias) const
{
    for (const auto &item : m_Items)
        if (item->Alias == alias)
            return item.get();
    return nullptr;
}

TOPCBridgedItem *TOPCClientTransmitter::FindItemByOPCItem(const TOPCDAClientItem *item) const
{
    if (!item)
        return nullptr;
    for (const auto &bridged : m_Items)
        if (bridged->OPCItem() == item)
            return bridged.get();
    return nullptr;
}

void TOPCClientTransmitter::ResolveItems()
{
    // The progress display may run a nested resolution through the message loop; one is enough.
    if (m_Resolving)
        return;
    m_Resolving = true;
    struct TReset
    {
        bool &Flag;
        ~TReset() { Flag = false; }
    } reset{m_Resolving};
    Progress().RunModal([this] { Resolve(); });
}

void TOPCClientTransmitter::Resolve()
{
    TOPCHourglass hourglass(Progress());
    TOPCDAClient &client = Client();
    if (!client.Connected())
        return;
    // The search runs on a copy: the progress display may process messages, and a shutdown
    // handled there clears the client's tree while the search is still walking it. The browsed
    // copy is handed back afterwards when it still belongs to the same connection.
    std::unique_ptr<TOPCDAClientNamespace> ns = CopyNamespace(client.Namespace());
    const auto handBack = [&] {
        if (client.Connected() &&
            client.Namespace().BrowseServerAddressSpace.Get() == ns->BrowseServerAddressSpace.Get())
            client.SetNamespace(ns.get());
    };
    try {
        SearchByPath(*ns);
        ValidateItemIDs();
        SearchByItemID(*ns);
    } catch (...) {
        handBack();
        throw;
    }
    handBack();
    for (const auto &item : m_Items)
        if (!(item->ErrorFlags & oe_InvalidPath))
            item->m_ReportedInvalidPath.clear();
}

void TOPCClientTransmitter::MarkInvalid(TOPCBridgedItem &item, const QString &message)
{
    if (item.ErrorFlags & oe_InvalidPath)
        return;
    const QString text = message.arg(item.Alias);
    if (item.m_ReportedInvalidPath != text) {
        EventLogger().Log(etError, 1, this, text);
        item.m_ReportedInvalidPath = text;
    }
    item.ErrorFlags |= oe_InvalidPath;
}

void TOPCClientTransmitter::SearchByPath(TOPCDAClientNamespace &ns)
{
    TOPCResolveProgress &progress = Progress();
    const TPhaseScope phase(progress, TOPCResolvePhase::SearchByName);
    const TNodeReport report(ns, progress);
    TNameIndex names(ns);
    for (const auto &owned : m_Items) {
        TOPCBridgedItem &item = *owned;
        progress.SetCurrentNode(QString());
        progress.SetSearchedItem(item.Path);
        if (item.Path.isEmpty()) {
            if (!item.ItemID.isEmpty())
                item.ErrorFlags &= ~oe_InvalidPath;
            else
                MarkInvalid(item, QStringLiteral(
                                      "Für das OPC-Item \"%1\" ist weder Pfad noch ID angegeben"));
            continue;
        }
        TOPCDAClientNode *node = ns.FindNodeByPath(item.Path);
        if (node) {
            if (item.ItemID.isEmpty())
                item.ItemID = node->GetItemID();
        } else if ((node = names.Find(item.Path, item.ItemID))) {
            // With a configured ItemID only a node of exactly that ItemID is taken.
            const QString fullPath = GetNodePath(node);
            item.Path = fullPath;
            if (item.ItemID.isEmpty()) {
                item.ItemID = node->GetItemID();
                if (item.ItemID.compare(fullPath, Qt::CaseInsensitive) != 0)
                    EventLogger().Log(
                        etInformation, 2, this,
                        QStringLiteral("Für das OPC-Item \"%1\" war keine ID und kein "
                                       "vollständiger Pfad angegeben. Beides wurde automatisch "
                                       "ergänzt. Bitte überprüfen Sie, ob es sich um das richtige "
                                       "Item handelt.")
                            .arg(item.Alias));
            }
        }
        if (node) {
            if (node->GetItemID() != item.ItemID)
                MarkInvalid(item, QStringLiteral("Der angegebene Pfad und die ID für das OPC-Item "
                                                 "\"%1\" passen nicht zusammen"));
            else
                item.ErrorFlags &= ~oe_InvalidPath;
        } else if (!item.ItemID.isEmpty()) {
            MarkInvalid(item,
                        QStringLiteral("Der angegebene Pfad für das OPC-Item \"%1\" ist ungültig"));
        } else {
            item.ItemID = item.Path;
            item.Path.clear();
            item.ErrorFlags &= ~oe_InvalidPath;
        }
    }
}

void TOPCClientTransmitter::ValidateItemIDs()
{
    const TPhaseScope phase(Progress(), TOPCResolvePhase::ValidateItems);
    std::vector<TOPCBridgedItem *> collected;
    for (const auto &item : m_Items)
        if (!(item->ErrorFlags & oe_InvalidPath))
            collected.push_back(item.get());
    if (collected.empty())
        return;

    TOPCDAClient &client = Client();
    DWORD revised = 0;
    TOPCDAClientGroup *group =
        client.AddGroup(QStringLiteral("ValidateGroup"), 1000, revised, false, 0.0f);
    const OPCHANDLE handle = group->ClientHandle();
    // Removed whatever ValidateItems does; by handle, in case it is gone already.
    const auto removeGroup = [&client, handle] {
        if (TOPCDAClientGroup *g = client.FindGroup(handle)) {
            try {
                client.RemoveGroup(g, true);
            } catch (...) {
            }
        }
    };
    TDynValidateItemsResultArray results;
    try {
        TDynValidateItemsDefArray definitions(collected.size());
        for (std::size_t i = 0; i < collected.size(); ++i) {
            definitions[i].ItemID = collected[i]->ItemID;
            definitions[i].Active = 0;
        }
        group->ValidateItems(definitions, false, results);
    } catch (...) {
        removeGroup();
        throw;
    }
    removeGroup();
    if (results.size() != collected.size())
        throw Exception(QStringLiteral(
            "Ungültige Anzahl von Ergebnissen beim Aufruf von IOPCItemMgt:ValidateItems"));
    for (std::size_t i = 0; i < results.size(); ++i) {
        TOPCBridgedItem &item = *collected[i];
        if (results[i].Error < 0) {
            if (!(item.ErrorFlags & oe_UnknownElement)) {
                EventLogger().Log(etError, 1, this,
                                  QStringLiteral("Das OPC-Item \"%1\" konnte unter der "
                                                 "angegebenen ID nicht gefunden werden")
                                      .arg(item.Alias));
                item.ErrorFlags |= oe_UnknownElement;
            }
        } else {
            item.ErrorFlags &= ~oe_UnknownElement;
        }
    }
}

void TOPCClientTransmitter::SearchByItemID(TOPCDAClientNamespace &ns)
{
    TOPCResolveProgress &progress = Progress();
    const TPhaseScope phase(progress, TOPCResolvePhase::SearchByID);
    const TNodeReport report(ns, progress);
    // An empty ItemID would match the first branch (branches carry none): such an item has
    // neither path nor ID and stays marked from the search by path.
    std::vector<TOPCBridgedItem *> wanted;
    for (const auto &item : m_Items)
        if (item->Path.isEmpty() && !(item->ErrorFlags & oe_UnknownElement) &&
            !item->ItemID.isEmpty())
            wanted.push_back(item.get());
    if (wanted.size() > 1) {
        // Every leaf's ItemID known lets the namespace answer from its index instead of walking
        // the tree again for every item; one search that misses costs the same.
        ns.Browse(true);
        VisitPreOrder(ns, [](TOPCDAClientNode *node) { node->GetItemID(); });
    }
    for (TOPCBridgedItem *item : wanted) {
        progress.SetCurrentNode(item->ItemID);
        if (TOPCDAClientNode *node = ns.FindNodeByItemID(item->ItemID, true)) {
            item->Path = GetNodePath(node);
            item->ErrorFlags &= ~oe_InvalidPath;
        } else {
            MarkInvalid(*item, QStringLiteral("Die ID für das OPC-Item \"%1\" ist zwar gültig, es "
                                              "kann jedoch im Namensraum nicht gefunden werden"));
        }
    }
}

// ---- TOPCBridgedItem ----

TOPCBridgedItem *TOPCBridgedItem::Create(TOPCClientTransmitter *AOPCClientTransmitter,
                                         const QString &path, const QString &itemID,
                                         const QString &alias)
{
    if (!AOPCClientTransmitter)
        RaiseMissingParameter(QStringLiteral("TOPCBridgedItem.Create"),
                              QStringLiteral("AOPCClientTransmitter"));
    auto *item = new TOPCBridgedItem(AOPCClientTransmitter, path, itemID, alias);
    AOPCClientTransmitter->m_Items.emplace_back(item);
    return item;
}

TOPCBridgedItem::TOPCBridgedItem(TOPCClientTransmitter *transmitter, const QString &path,
                                 const QString &itemID, const QString &alias)
    : Alias(alias), ItemID(itemID), Path(path), m_Transmitter(transmitter)
{
}

TOPCDAClientItem *TOPCBridgedItem::OPCItem() const
{
    if (m_OPCItemHandle == 0 || m_OPCGroupHandle != m_Transmitter->m_GroupHandle)
        return nullptr;
    TOPCDAClientGroup *group = m_Transmitter->Group();
    return group ? group->FindItem(m_OPCItemHandle) : nullptr;
}

void TOPCBridgedItem::SetOPCItem(TOPCDAClientItem *item)
{
    m_OPCGroupHandle = item ? item->Group()->ClientHandle() : 0;
    m_OPCItemHandle = item ? item->ClientHandle() : 0;
}

QString TOPCBridgedItem::StateText() const
{
    if (m_Transmitter->Bridge().OwnErrorFlags() & oe_ServerUnreachable)
        return QStringLiteral("Server unerreichbar");
    if (m_Transmitter->ErrorFlags & oe_GroupError)
        return QStringLiteral("Fehler beim Hinzufügen der Gruppe");
    if (ErrorFlags & oe_InvalidPath)
        return QStringLiteral("Üngültiger Pfad");
    if (ErrorFlags & oe_UnknownElement)
        return QStringLiteral("Element unbekannt");
    if (ErrorFlags & oe_AddItemError)
        return QStringLiteral("Element konnte der Gruppe nicht hinzugefügt werden");
    if (OPCItem())
        return QStringLiteral("OK");
    return QStringLiteral("Lesefehler");
}

void TOPCBridgedItem::UpdateCacheEntry()
{
    TDataCache &cache = m_Transmitter->Bridge().DataCache();
    const bool flagged = (m_Transmitter->Bridge().OwnErrorFlags() & oe_ServerUnreachable) ||
                         (m_Transmitter->ErrorFlags & oe_GroupError) ||
                         (ErrorFlags & (oe_InvalidPath | oe_UnknownElement | oe_AddItemError));
    if (!flagged) {
        if (const TOPCDAClientItem *opcItem = OPCItem())
            cache.SetValue(Alias, IndexHint, opcItem->Value, opcItem->TimeStamp, opcItem->Quality);
        else
            cache.SetValue(Alias, IndexHint, TVariant(), TZonedDateTime(), 0);
    }
    cache.WriteAttribute(Alias, IndexHint, OPCStateAttribute, StateText());
}

void TOPCBridgedItem::ReadItemProperties()
{
    TDataCache &cache = m_Transmitter->Bridge().DataCache();
    if (!cache.Exists(Alias))
        cache.Add(Alias);
    if (!OPCItem()) {
        cache.WriteAttribute(Alias, IndexHint, ValueUnitAttribute, QStringLiteral("?"));
        cache.WriteAttribute(Alias, IndexHint, DescriptionAttribute, QStringLiteral("?"));
        return;
    }
    TDynItemPropertyArray properties;
    try {
        m_Transmitter->Bridge().OPCDAClient().GetItemProperties(
            ItemID, {PropertyValueUnit, PropertyDescription}, properties);
    } catch (...) {
        const QString message = CurrentExceptionText();
        cache.WriteAttribute(Alias, IndexHint, ValueUnitAttribute, message);
        cache.WriteAttribute(Alias, IndexHint, DescriptionAttribute, message);
        return;
    }
    for (const TItemProperty &property : properties) {
        if (property.PropertyID == PropertyValueUnit)
            cache.WriteAttribute(Alias, IndexHint, ValueUnitAttribute, PropertyText(property));
        else if (property.PropertyID == PropertyDescription)
            cache.WriteAttribute(Alias, IndexHint, DescriptionAttribute, PropertyText(property));
    }
}

void TOPCBridgedItem::OPCItemChanged(TOPCDAClientItem *sender)
{
    if (sender != OPCItem())
        return;
    // Inside the server's callback: the remaining items and the group's message must follow.
    try {
        UpdateCacheEntry();
    } catch (...) {
        EventLogger().Log(etError, 1, this, CurrentExceptionText());
    }
}
