// The in-place editors of the parameter tree. When the tree edits a value cell, the delegate asks the
// window for a TVirtualEditLink filled with the value's edit data; the link makes the control of the
// value's kind over the cell, turns the value text into the control's state and the state back into
// text, and reports a changed value through its update callback.
//
// A control closed without a change gives back the value exactly as it was, whatever form the control
// would write it in: opening and closing an editor never changes a value nor marks it.
#pragma once

#include "param_values.h"

#include <QComboBox>
#include <QHash>
#include <QPointer>
#include <QStyledItemDelegate>
#include <functional>
#include <memory>

class TParamNode;
class TParamsModel;

// A drop-down list with a check box per item; its text shows the checked items.
class TCheckMapCombo : public QComboBox {
    Q_OBJECT
public:
    explicit TCheckMapCombo(QWidget *parent = nullptr);
    void SetItems(const QStringList &items, const QList<bool> &flags);
    QList<bool> Flags() const;
    void Toggle(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QString CheckedText() const;
};

class TVirtualEditLink : public QObject {
    Q_OBJECT
public:
    using TEditCallback = std::function<void(TParamNode *node, int column, TVirtualEditData &data)>;

    TVirtualEditLink();
    ~TVirtualEditLink() override;

    TVirtualEditData &EditData() { return fEditData; }
    void SetOnGetData(TEditCallback call) { fOnGetData = std::move(call); }
    void SetOnUpdateData(TEditCallback call) { fOnUpdateData = std::move(call); }
    // Called with true when the control's Enter ends the edit, false when its Escape cancels it.
    void SetOnFinish(std::function<void(bool accept)> call) { fOnFinish = std::move(call); }

    // Makes the control for the edit data's kind as a hidden child of `tree`; false for vtNone.
    bool PrepareEdit(QWidget *tree, TParamNode *node, int column);
    void SetBounds(const QRect &rect);
    QRect GetBounds() const;
    bool BeginEdit();
    // Reads the control's result; a changed value is stored in the edit data and reported.
    bool EndEdit();
    bool CancelEdit();
    QWidget *Control() const { return fEdit.data(); }
    // The text the control holds now, as it would be written back.
    QString ResultText() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *CreateControl(QWidget *parent);
    void WatchKeys(QWidget *control);

    QPointer<QWidget> fEdit; // the view may destroy it first, with the tree
    TVirtualEditData fEditData;
    TParamNode *fNode = nullptr;
    int fColumn = 0;
    TEditCallback fOnGetData;
    TEditCallback fOnUpdateData;
    std::function<void(bool)> fOnFinish;
    QString fInitialResult; // what the control gave back before the user touched it
    bool fBegun = false;
    bool fEnded = false;
};

// The tree's delegate: one link per open editor, made by the window for the node being edited.
class TVirtualEditDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using TLinkFactory = std::function<std::unique_ptr<TVirtualEditLink>(TParamNode *node, int column)>;
    TVirtualEditDelegate(TParamsModel &model, TLinkFactory factory, QObject *parent);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void destroyEditor(QWidget *editor, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

private:
    // The node of a cell of the view, whose model may be a filter over the parameters' model.
    TParamNode *NodeAt(const QModelIndex &index) const;

    TParamsModel &fmodel;
    TLinkFactory ffactory;
    mutable QHash<QWidget *, TVirtualEditLink *> flinks;
};
