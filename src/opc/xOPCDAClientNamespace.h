// The source server's address space as a lazily browsed tree: the namespace (root), its branches
// and its leaves, with browse paths and the searches that resolve configured items.
#pragma once

#include "platform/opcda/OpcDa.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TOPCDAClientBranch;
class TOPCDAClientLeaf;
class TOPCDAClientNamespace;

class TOPCDAClientNode
{
public:
    TOPCDAClientNode(const QString &name, const QString &itemID);
    virtual ~TOPCDAClientNode();
    TOPCDAClientNode(const TOPCDAClientNode &) = delete;
    TOPCDAClientNode &operator=(const TOPCDAClientNode &) = delete;

    virtual QString GetItemID();
    virtual QString GetName() const;
    virtual std::unique_ptr<TOPCDAClientNode> Clone() const;
    virtual void UpdateItemIDs();
    virtual void ComposeItemID();
    // Moves the node from its parent to another branch (appended there with AddChild). Only for
    // nodes inside a tree: a node without a parent is added with AddChild by its owner.
    void SetParent(TOPCDAClientBranch *parent);

    void *Data = nullptr; // free for the tree's user; never read or copied by the tree
    QString ItemID;
    QString Name;
    TOPCDAClientBranch *Parent = nullptr;
};

class TOPCDAClientBranch : public TOPCDAClientNode
{
public:
    using TOPCDAClientNode::TOPCDAClientNode;
    ~TOPCDAClientBranch() override;

    std::unique_ptr<TOPCDAClientNode> Clone() const override;
    void UpdateItemIDs() override;
    void ComposeItemID() override;

    // Browses first when not browsed yet.
    int ChildCount();
    // Never browses; null outside 0..count-1.
    virtual TOPCDAClientNode *Child(int index) const;
    virtual std::unique_ptr<TOPCDAClientBranch> NewBranch(const QString &name) const;
    virtual std::unique_ptr<TOPCDAClientLeaf> NewLeaf(const QString &name) const;
    // Frees all children, last first, and clears Browsed and LeafCount.
    virtual void Clear();
    virtual TOPCDAClientNamespace *Namespace();
    virtual void BrowseTo();

    // A failure passes the exception on, removes the children this attempt added and leaves
    // Browsed false.
    void Browse(bool recursive);
    // Takes ownership; branches go before the first leaf, leaves at the end.
    void AddChild(std::unique_ptr<TOPCDAClientNode> node);
    // Detaches a child without freeing it; null when node is not a child of this branch.
    std::unique_ptr<TOPCDAClientNode> RemoveChild(TOPCDAClientNode *node);
    TOPCDAClientNode *FindChildByName(const QString &name, bool recursive,
                                      const QString &itemID = QString());
    TOPCDAClientNode *FindNodeByItemID(const QString &itemID, bool recursive);
    TOPCDAClientNode *FindNodeByPath(const QString &path);

    bool Browsed = false;
    // Number of leaf children.
    int LeafCount = 0;
    std::function<void(TOPCDAClientNode *)> OnProcessNode;
    std::function<void(TOPCDAClientLeaf *)> OnResolveItemID;

protected:
    std::vector<std::unique_ptr<TOPCDAClientNode>> m_Children;

private:
    friend class TOPCDAClientNode;
    friend class TOPCDAClientLeaf;

    void ChildrenChanged();
    // Drops the item-id index of this branch and of every branch above it.
    void InvalidateItemIndex();
    bool BuildItemIndex();
    // The plain depth-first search, browsing and resolving as it goes.
    TOPCDAClientNode *SearchItemID(const QString &itemID, bool recursive);
    void ReadNames(IOPCBrowseServerAddressSpace &browser, OPCBROWSETYPE type,
                   std::vector<TOPCDAClientNode *> &added);

    int m_BranchCount = 0;
    // Name -> index of the first child of that name; rebuilt when the children change.
    QHash<QString, int> m_NameIndex;
    bool m_NameIndexValid = false;
    // Item id -> first node in depth-first order; only built for a subtree that is browsed
    // everywhere and whose leaves all know their item id, so lookups never need the server.
    QHash<QString, TOPCDAClientNode *> m_ItemIndex;
    bool m_ItemIndexValid = false;
};

class TOPCDAClientNamespace : public TOPCDAClientBranch
{
public:
    TOPCDAClientNamespace(const QString &name = QString(), const QString &itemID = QString());

    std::unique_ptr<TOPCDAClientNode> Clone() const override;
    TOPCDAClientNamespace *Namespace() override { return this; }
    void BrowseTo() override;

    // 0 not known yet, 1 hierarchical, 2 flat.
    DWORD Organization();
    // Raise ENoIOPCBrowseServerAddressSpaceIntf / ENoIOPCItemPropertiesIntf when absent.
    IOPCBrowseServerAddressSpace &CheckedBrowseServerAddressSpace();
    IOPCItemProperties &CheckedItemProperties();

    // Set by the client on connection, released (Reset) on disconnection.
    ComPtr<IOPCBrowseServerAddressSpace> BrowseServerAddressSpace;
    ComPtr<IOPCItemProperties> ItemProperties;
    DWORD KnownOrganization = 0;
};

class TOPCDAClientLeaf : public TOPCDAClientNode
{
public:
    using TOPCDAClientNode::TOPCDAClientNode;

    QString GetItemID() override;
    std::unique_ptr<TOPCDAClientNode> Clone() const override;
    virtual DWORD GetAccessRights();
    virtual VARTYPE GetDataType();

    DWORD AccessRights = 0;
    VARTYPE DataType = VT_EMPTY;
    std::function<void(TOPCDAClientLeaf *)> OnResolveItemID;
    bool PropertiesRead = false;

private:
    void ReadProperties();
};

// The browse path of a node ("A\\B\T1": names joined by "\", a backslash in a name doubled);
// empty for the root.
QString GetNodePath(const TOPCDAClientNode *node);
// Every doubled separator becomes a single one.
QString UnescapeName(const QString &text);
