// The parameter tree's model: groups at the root, their parameters under them, each node owning its
// TParamNodeData. The main window builds it from the parameter description and the device's values;
// the tree view, the editors, configuration files and the device dialogue all work on its nodes.
#pragma once

#include "LuHash.h"
#include "param_description.h"

#include <QAbstractItemModel>
#include <QSortFilterProxyModel>
#include <QHash>
#include <QColor>
#include <QIcon>
#include <functional>
#include <memory>
#include <vector>

struct TParamNodeData {
    QString key;
    QString value; // exactly as the device reports it and as it is written back; empty for a group
    bool is_group = false;
    bool changed = false; // edited or loaded, and not yet confirmed by the device
    TLuHash attrs;        // the node's attribute block from the description
};

class TParamNode {
public:
    TParamNodeData data;
    TParamNode *parent = nullptr;
    std::vector<std::unique_ptr<TParamNode>> children;
    int row = 0; // position among the parent's children
};

class TParamsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum TImage { imgGroupClosed, imgGroupOpen, imgParam, imgParamChanged };

    explicit TParamsModel(QObject *parent = nullptr);
    ~TParamsModel() override;

    void Clear();
    // Appends a node under `parent` (the root when none).
    TParamNode *AddNode(TParamNode *parent, TParamNodeData data);
    // The first node, in depth-first order, whose key is exactly `key`. Nodes are only ever appended
    // in depth-first order, so the first one added under a key is that node: an index keeps it.
    TParamNode *FindParamNode(const QString &key) const;
    // Every node in depth-first order.
    void ForEachNode(const std::function<void(TParamNode &)> &visit) const;
    int RootCount() const { return int(froots.size()); }
    TParamNode *Root(int i) const { return froots[size_t(i)].get(); }
    bool IsEmpty() const { return froots.empty(); }
    // Repaints the node's row after its value or mark changed.
    void NodeChanged(TParamNode *node);
    // Marks or unmarks a parameter (groups are never marked) and repaints it. The model counts the
    // marks, so asking whether any is set costs nothing however large the tree.
    void SetChanged(TParamNode *node, bool changed);
    // Gives a node its value and mark together and repaints it: every change of a value goes here.
    void SetValue(TParamNode *node, const QString &value, bool changed);
    int ChangedCount() const { return fchanged; }
    TParamNode *NodeOf(const QModelIndex &index) const;
    QModelIndex IndexOf(TParamNode *node, int column = 0) const;
    // Which group rows show the open picture; the view tells.
    void SetExpandedQuery(std::function<bool(const QModelIndex &)> query) { fexpanded = std::move(query); }
    // Whether a cell may be edited: column 1 of a parameter whose value is not "NOT USE".
    static bool Editable(const TParamNodeData &data, int column);
    // Whether the description accepts the value; a refused one is shown in the warning colour with its
    // reason as the cell's tool tip.
    static TValueCheck ValueCheck(const TParamNodeData &data);
    static QColor WarningColor();
    // Whether a parameter matches a search: its key, name or value contains `text` (any case), and it
    // is marked when `changedOnly`.
    static bool Matches(const TParamNodeData &data, const QString &text, bool changedOnly);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // An edited value cell: the value, marked changed; Edited tells what it was.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

signals:
    void Edited(TParamNode *node, const QString &oldValue, bool wasChanged);

public:

private:
    const std::vector<std::unique_ptr<TParamNode>> &ChildrenOf(const TParamNode *node) const;
    static QString Caption(const TParamNodeData &data);

    std::vector<std::unique_ptr<TParamNode>> froots;
    QHash<QString, TParamNode *> ffirstByKey;
    int fchanged = 0; // parameter nodes marked changed
    std::function<bool(const QModelIndex &)> fexpanded;
    QIcon fimages[4];
};

// What the tree view shows of the model while the filter line is in use: the parameters that match
// and the groups that hold one; everything when no filter is set.
class TParamsFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    TParamsFilter(TParamsModel &model, QObject *parent);
    void SetFilter(const QString &text, bool changedOnly);
    bool Filtering() const { return !ftext.isEmpty() || fchangedOnly; }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override;

private:
    TParamsModel &fmodel;
    QString ftext;
    bool fchangedOnly = false;
};

// The tree's images, drawn at start: two for groups (closed, open) and two for parameters (plain,
// changed), sharp at any scale.
QIcon ParamsImage(TParamsModel::TImage image);
