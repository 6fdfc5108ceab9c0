#include "params_tree.h"

#include "param_description.h"
#include "veltra_language.h"

#include "veltra_pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// The tree's pictures are drawn on a 16-unit square inside the painter's 48 units.
QIcon DrawnIcon(const std::function<void(QPainter &)> &paint) {
    return PaintedIcon(16, [&paint](QPainter &p) {
        p.scale(3, 3);
        paint(p);
    });
}

void Folder(QPainter &p, bool open) {
    p.setPen(QPen(QColor(0x8a, 0x6a, 0x1c), 1));
    p.setBrush(QColor(0xf2, 0xc9, 0x4c));
    QPainterPath tab;
    tab.addRoundedRect(QRectF(1.5, 3.5, 6, 3), 1, 1);
    p.drawPath(tab);
    if (open) {
        p.drawRect(QRectF(1.5, 5.5, 12, 8));
        p.setBrush(QColor(0xfb, 0xe0, 0x8a));
        QPolygonF flap({{3.5, 7.5}, {15, 7.5}, {13, 13.5}, {1.5, 13.5}});
        p.drawPolygon(flap);
    } else {
        p.drawRoundedRect(QRectF(1.5, 5.5, 13, 8), 1, 1);
    }
}

void Parameter(QPainter &p, bool changed) {
    p.setPen(QPen(QColor(0x55, 0x60, 0x70), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(2.5, 1.5, 10, 13), 1, 1);
    p.setPen(QPen(QColor(0x90, 0x9a, 0xa8), 1));
    for (qreal y : {5.0, 8.0, 11.0})
        p.drawLine(QPointF(5, y), QPointF(10, y));
    if (changed) {
        // A pencil across the sheet: this value waits to be written.
        p.setPen(QPen(QColor(0xb0, 0x30, 0x20), 1));
        p.setBrush(QColor(0xe8, 0x5a, 0x3c));
        QPolygonF pencil({{8, 14}, {15, 7}, {16, 8}, {9, 15}, {7.5, 15.5}});
        p.drawPolygon(pencil);
    }
}

} // namespace

QIcon ParamsImage(TParamsModel::TImage image) {
    switch (image) {
    case TParamsModel::imgGroupClosed:
        return DrawnIcon([](QPainter &p) { Folder(p, false); });
    case TParamsModel::imgGroupOpen:
        return DrawnIcon([](QPainter &p) { Folder(p, true); });
    case TParamsModel::imgParam:
        return DrawnIcon([](QPainter &p) { Parameter(p, false); });
    case TParamsModel::imgParamChanged:
        return DrawnIcon([](QPainter &p) { Parameter(p, true); });
    }
    return {};
}

TParamsModel::TParamsModel(QObject *parent) : QAbstractItemModel(parent) {
    for (int i = 0; i < 4; ++i)
        fimages[i] = ParamsImage(TImage(i));
}

TParamsModel::~TParamsModel() = default;

void TParamsModel::Clear() {
    beginResetModel();
    froots.clear();
    ffirstByKey.clear();
    fchanged = 0;
    endResetModel();
}

void TParamsModel::SetChanged(TParamNode *node, bool changed) {
    if (!node || node->data.is_group || node->data.changed == changed)
        return;
    node->data.changed = changed;
    fchanged += changed ? 1 : -1;
    NodeChanged(node);
}

void TParamsModel::SetValue(TParamNode *node, const QString &value, bool changed) {
    if (!node)
        return;
    node->data.value = value;
    SetChanged(node, changed);
    NodeChanged(node);
}

bool TParamsModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    TParamNode *node = NodeOf(index);
    if (role != Qt::EditRole || !node || !Editable(node->data, index.column()))
        return false;
    const QString oldValue = node->data.value;
    const bool wasChanged = node->data.changed;
    SetValue(node, value.toString(), true);
    emit Edited(node, oldValue, wasChanged);
    return true;
}

TParamNode *TParamsModel::AddNode(TParamNode *parent, TParamNodeData data) {
    auto &siblings = parent ? parent->children : froots;
    const int row = int(siblings.size());
    beginInsertRows(parent ? IndexOf(parent) : QModelIndex(), row, row);
    auto node = std::make_unique<TParamNode>();
    node->data = std::move(data);
    node->parent = parent;
    node->row = row;
    TParamNode *added = node.get();
    siblings.push_back(std::move(node));
    if (!ffirstByKey.contains(added->data.key))
        ffirstByKey.insert(added->data.key, added);
    if (added->data.changed && !added->data.is_group)
        ++fchanged;
    endInsertRows();
    return added;
}

TParamNode *TParamsModel::FindParamNode(const QString &key) const {
    return ffirstByKey.value(key, nullptr);
}

void TParamsModel::ForEachNode(const std::function<void(TParamNode &)> &visit) const {
    const std::function<void(const std::vector<std::unique_ptr<TParamNode>> &)> walk = [&](const auto &nodes) {
        for (const auto &node : nodes) {
            visit(*node);
            walk(node->children);
        }
    };
    walk(froots);
}

void TParamsModel::NodeChanged(TParamNode *node) {
    if (node)
        emit dataChanged(IndexOf(node, 0), IndexOf(node, 1));
}

TParamNode *TParamsModel::NodeOf(const QModelIndex &index) const {
    return index.isValid() ? static_cast<TParamNode *>(index.internalPointer()) : nullptr;
}

QModelIndex TParamsModel::IndexOf(TParamNode *node, int column) const {
    return node ? createIndex(node->row, column, node) : QModelIndex();
}

bool TParamsModel::Editable(const TParamNodeData &data, int column) {
    return column == 1 && !data.is_group && data.value != u"NOT USE";
}

const std::vector<std::unique_ptr<TParamNode>> &TParamsModel::ChildrenOf(const TParamNode *node) const {
    return node ? node->children : froots;
}

QModelIndex TParamsModel::index(int row, int column, const QModelIndex &parent) const {
    const auto &children = ChildrenOf(NodeOf(parent));
    if (row < 0 || row >= int(children.size()) || column < 0 || column > 1)
        return {};
    return createIndex(row, column, children[size_t(row)].get());
}

QModelIndex TParamsModel::parent(const QModelIndex &child) const {
    const TParamNode *node = NodeOf(child);
    return node && node->parent ? IndexOf(node->parent) : QModelIndex();
}

int TParamsModel::rowCount(const QModelIndex &parent) const {
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(ChildrenOf(NodeOf(parent)).size());
}

int TParamsModel::columnCount(const QModelIndex &) const {
    return 2;
}

QString TParamsModel::Caption(const TParamNodeData &data) {
    const QString name = data.attrs.GetVal(QStringLiteral("name"));
    return name.isEmpty() ? data.key : name;
}

QVariant TParamsModel::data(const QModelIndex &index, int role) const {
    const TParamNode *node = NodeOf(index);
    if (!node)
        return {};
    const TParamNodeData &d = node->data;
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return index.column() == 0 ? Caption(d) : d.is_group ? QString() : d.value;
    if ((role == Qt::ForegroundRole || role == Qt::ToolTipRole) && index.column() == 1) {
        const TValueCheck check = ValueCheck(d);
        if (check == vcOk)
            return {};
        return role == Qt::ToolTipRole
                   ? QVariant(
                         ValueCheckText(check, d.attrs, InterfaceLanguage() == TInterfaceLanguage::Russian))
                   : QVariant(WarningColor());
    }
    if (role == Qt::DecorationRole && index.column() == 0) {
        if (d.is_group)
            return fimages[fexpanded && fexpanded(index) ? imgGroupOpen : imgGroupClosed];
        return fimages[d.changed ? imgParamChanged : imgParam];
    }
    return {};
}

TValueCheck TParamsModel::ValueCheck(const TParamNodeData &data) {
    // A value the device did not report is missing, not wrong.
    return data.is_group || data.value.isEmpty() ? vcOk : CheckParamValue(data.attrs, data.value);
}

bool TParamsModel::Matches(const TParamNodeData &data, const QString &text, bool changedOnly) {
    if (data.is_group || (changedOnly && !data.changed))
        return false;
    return text.isEmpty() || data.key.contains(text, Qt::CaseInsensitive) ||
           Caption(data).contains(text, Qt::CaseInsensitive) || data.value.contains(text, Qt::CaseInsensitive);
}

QColor TParamsModel::WarningColor() {
    return QColor(0xC0, 0x30, 0x00);
}

QVariant TParamsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == 0 ? tr("Параметр") : tr("Значение");
}

Qt::ItemFlags TParamsModel::flags(const QModelIndex &index) const {
    const TParamNode *node = NodeOf(index);
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (Editable(node->data, index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

TParamsFilter::TParamsFilter(TParamsModel &model, QObject *parent) : QSortFilterProxyModel(parent), fmodel(model) {
    setSourceModel(&model);
    // A group stays while one of its parameters does.
    setRecursiveFilteringEnabled(true);
    // The rows are chosen when the filter is applied, not at every change of a value or mark: a row
    // that stopped matching must not vanish under an open editor.
    setDynamicSortFilter(false);
}

void TParamsFilter::SetFilter(const QString &text, bool changedOnly) {
    ftext = text;
    fchangedOnly = changedOnly;
    invalidateFilter();
}

bool TParamsFilter::filterAcceptsRow(int row, const QModelIndex &parent) const {
    if (!Filtering())
        return true;
    const TParamNode *node = fmodel.NodeOf(fmodel.index(row, 0, parent));
    return node && !node->data.is_group && TParamsModel::Matches(node->data, ftext, fchangedOnly);
}
