#include "vt_prop_edit.h"

#include "LuNumEdt.h"
#include "LuUtils.h"
#include "params_tree.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QStandardItemModel>
#include <QStylePainter>
#include <QTimeEdit>
#include <QTimer>
#include <QValidator>
#include <algorithm>

namespace {

constexpr int SecondsPerDay = 86400;

// Accepts what is or can still become a dotted IPv4 address.
class TIpAddressValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override {
        if (IsIpAddressText(input))
            return Acceptable;
        return IsIpAddressText(input, true) ? Intermediate : Invalid;
    }
};

// Refuses typing that would make a text longer than the description allows. A stored text that is
// already longer stays whole in the editor (cutting it would lose it on the next change): it may be
// shortened, never lengthened, and the tree's check colour shows that it is still too long.
class TMaxLengthValidator : public QValidator {
public:
    TMaxLengthValidator(int maxLength, QLineEdit *edit) : QValidator(edit), fmax(maxLength) {
        fallowed = std::max(fmax, int(edit->text().size()));
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString &text) { fallowed = std::max(fmax, int(text.size())); });
    }
    State validate(QString &input, int &) const override {
        return input.size() <= fallowed ? Acceptable : Invalid;
    }

private:
    int fmax;
    int fallowed; // the longest text accepted now: the limit, or the text's own length while longer
};

QLineEdit *NewLineEdit(QWidget *parent, const QString &text, int maxLength) {
    auto *edit = new QLineEdit(text, parent);
    if (maxLength > 0)
        edit->setValidator(new TMaxLengthValidator(maxLength, edit));
    return edit;
}

QComboBox *NewCombo(QWidget *parent, bool editable, const QStringList &items) {
    auto *combo = new QComboBox(parent);
    combo->setEditable(editable);
    combo->addItems(items);
    return combo;
}

QTimeEdit *NewTimeEdit(QWidget *parent, qint64 seconds) {
    auto *edit = new QTimeEdit(parent);
    edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    const int ofDay = int(((seconds % SecondsPerDay) + SecondsPerDay) % SecondsPerDay);
    edit->setTime(QTime(0, 0).addSecs(ofDay));
    return edit;
}

int SecondsOf(const QTimeEdit *edit) {
    return (edit->time().msecsSinceStartOfDay() + 500) / 1000;
}

QString ShortDateFormat() {
    return QLocale().dateFormat(QLocale::ShortFormat);
}

} // namespace

// ---- the check-map combo box ----

TCheckMapCombo::TCheckMapCombo(QWidget *parent) : QComboBox(parent) {
    setModel(new QStandardItemModel(this));
    view()->viewport()->installEventFilter(this);
    view()->installEventFilter(this);
}

void TCheckMapCombo::SetItems(const QStringList &items, const QList<bool> &flags) {
    auto *items_model = static_cast<QStandardItemModel *>(model());
    items_model->clear();
    for (qsizetype i = 0; i < items.size(); ++i) {
        auto *item = new QStandardItem(items[i]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(i < flags.size() && flags[i] ? Qt::Checked : Qt::Unchecked);
        items_model->appendRow(item);
    }
    setMaxVisibleItems(qMax(1, int(items.size())));
}

QList<bool> TCheckMapCombo::Flags() const {
    QList<bool> flags;
    for (int row = 0; row < count(); ++row)
        flags << (itemData(row, Qt::CheckStateRole).toInt() == Qt::Checked);
    return flags;
}

void TCheckMapCombo::Toggle(int row) {
    if (row < 0 || row >= count())
        return;
    const bool checked = itemData(row, Qt::CheckStateRole).toInt() == Qt::Checked;
    setItemData(row, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    update();
}

// A click or Space toggles the item under it and keeps the list open, so several can be changed.
bool TCheckMapCombo::eventFilter(QObject *watched, QEvent *event) {
    if (watched == view()->viewport() && event->type() == QEvent::MouseButtonRelease) {
        Toggle(view()->indexAt(static_cast<QMouseEvent *>(event)->position().toPoint()).row());
        return true;
    }
    if (watched == view() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space) {
        Toggle(view()->currentIndex().row());
        return true;
    }
    return QComboBox::eventFilter(watched, event);
}

QString TCheckMapCombo::CheckedText() const {
    QStringList checked;
    const QList<bool> flags = Flags();
    for (int row = 0; row < flags.size(); ++row)
        if (flags[row])
            checked << itemText(row);
    return checked.join(QStringLiteral(", "));
}

void TCheckMapCombo::paintEvent(QPaintEvent *) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = CheckedText();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

// ---- the link ----

TVirtualEditLink::TVirtualEditLink() = default;

TVirtualEditLink::~TVirtualEditLink() {
    // The control may be in the middle of its own event handler (the Enter that ended the edit).
    if (fEdit)
        fEdit->deleteLater();
}

bool TVirtualEditLink::PrepareEdit(QWidget *tree, TParamNode *node, int column) {
    fNode = node;
    fColumn = column;
    if (fEdit) {
        fEdit->deleteLater();
        fEdit = nullptr;
    }
    if (fOnGetData)
        fOnGetData(fNode, fColumn, fEditData);
    fEdit = CreateControl(tree);
    if (!fEdit)
        return false;
    fEdit->hide();
    WatchKeys(fEdit);
    fInitialResult = ResultText();
    fEnded = false;
    return true;
}

QWidget *TVirtualEditLink::CreateControl(QWidget *parent) {
    const TVirtualEditData &d = fEditData;
    const QStringList items = EditListItems(d.list);
    switch (d.typ) {
    case vtNone:
        return nullptr;
    case vtString:
        return NewLineEdit(parent, d.val, d.max);
    case vtIpAddress: {
        QLineEdit *edit = NewLineEdit(parent, d.val, 0);
        edit->setValidator(new TIpAddressValidator(edit));
        return edit;
    }
    case vtPickString: {
        QComboBox *combo = NewCombo(parent, true, items);
        combo->setEditText(d.val);
        return combo;
    }
    case vtPickNumber:
    case vtMemo: {
        QComboBox *combo = NewCombo(parent, true, {});
        combo->setEditText(d.val);
        return combo;
    }
    case vtStringList: {
        QComboBox *combo = NewCombo(parent, false, items);
        combo->setCurrentIndex(int(items.indexOf(d.val))); // none when the value is not an item
        return combo;
    }
    case vtNumber: {
        auto *edit = new TLuNumEdit(parent);
        edit->SetMin(d.min);
        edit->SetMax(d.max);
        edit->SetAsInteger(DecToInt(d.val, 0)); // out of range: it keeps showing "0"
        return edit;
    }
    case vtDate: {
        auto *edit = new QDateEdit(parent);
        edit->setDisplayFormat(ShortDateFormat());
        edit->setDate(QLocale().toDate(d.val, ShortDateFormat()));
        return edit;
    }
    case vtTime:
        return NewTimeEdit(parent, DecToInt(d.val, 0));
    case vtDuration:
        return NewTimeEdit(parent, ParseDuration(d.val));
    case vtCheckMap: {
        auto *combo = new TCheckMapCombo(parent);
        combo->SetItems(items, CheckMapFlags(d.val, d.max, int(items.size())));
        return combo;
    }
    }
    return nullptr;
}

QString TVirtualEditLink::ResultText() const {
    if (!fEdit)
        return fEditData.val;
    switch (fEditData.typ) {
    case vtString:
    case vtIpAddress:
    case vtNumber:
        return static_cast<QLineEdit *>(fEdit.data())->text().left(MaxEditText);
    case vtPickString:
    case vtPickNumber:
    case vtMemo:
        return static_cast<QComboBox *>(fEdit.data())->currentText();
    case vtStringList: {
        const auto *combo = static_cast<QComboBox *>(fEdit.data());
        return combo->currentIndex() >= 0 ? combo->currentText() : QString();
    }
    case vtDate:
        return QLocale().toString(static_cast<QDateEdit *>(fEdit.data())->date(), ShortDateFormat());
    case vtTime:
        return QString::number(SecondsOf(static_cast<QTimeEdit *>(fEdit.data())));
    case vtDuration:
        return FormatDuration(SecondsOf(static_cast<QTimeEdit *>(fEdit.data())));
    case vtCheckMap:
        return CheckMapText(static_cast<TCheckMapCombo *>(fEdit.data())->Flags());
    case vtNone:
        break;
    }
    return QString();
}

// Enter and Escape end the edit from the control and from any part of it (an open list, the text
// field of a combo box); every other key is the control's.
void TVirtualEditLink::WatchKeys(QWidget *control) {
    control->installEventFilter(this);
    for (QWidget *child : control->findChildren<QWidget *>())
        child->installEventFilter(this);
    if (auto *combo = qobject_cast<QComboBox *>(control))
        combo->view()->installEventFilter(this);
}

bool TVirtualEditLink::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress && fOnFinish) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
            if (auto *combo = qobject_cast<QComboBox *>(fEdit))
                combo->hidePopup();
            fOnFinish(key != Qt::Key_Escape);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TVirtualEditLink::SetBounds(const QRect &rect) {
    if (fEdit)
        fEdit->setGeometry(rect);
}

QRect TVirtualEditLink::GetBounds() const {
    return fEdit ? fEdit->geometry() : QRect();
}

bool TVirtualEditLink::BeginEdit() {
    if (fBegun)
        return true;
    fBegun = true;
    fEdit->show();
    fEdit->setFocus();
    if (auto *checks = qobject_cast<TCheckMapCombo *>(fEdit))
        QTimer::singleShot(0, checks, &QComboBox::showPopup); // once the control is on screen
    return true;
}

bool TVirtualEditLink::EndEdit() {
    if (fEnded)
        return true;
    fEnded = true;
    const QString result = ResultText();
    // A control the user did not change gives the value back as it came, not in the control's form.
    if (result != fInitialResult && result != fEditData.val) {
        fEditData.val = result;
        fEditData.modified = true;
        if (fOnUpdateData)
            fOnUpdateData(fNode, fColumn, fEditData);
    }
    fEdit->hide();
    if (fEdit->parentWidget())
        fEdit->parentWidget()->setFocus();
    return true;
}

bool TVirtualEditLink::CancelEdit() {
    fEnded = true;
    fEdit->hide();
    return true;
}

// ---- the delegate ----

TVirtualEditDelegate::TVirtualEditDelegate(TParamsModel &model, TLinkFactory factory, QObject *parent)
    : QStyledItemDelegate(parent), fmodel(model), ffactory(std::move(factory)) {}

QWidget *TVirtualEditDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                            const QModelIndex &index) const {
    TParamNode *node = NodeAt(index);
    std::unique_ptr<TVirtualEditLink> link = ffactory(node, index.column());
    if (!link || !link->PrepareEdit(parent, node, index.column()))
        return nullptr;
    QWidget *control = link->Control();
    auto *self = const_cast<TVirtualEditDelegate *>(this);
    link->SetOnFinish([self, control](bool accept) {
        if (accept)
            emit self->commitData(control);
        emit self->closeEditor(control, accept ? NoHint : RevertModelCache);
    });
    link->setParent(self); // links left when the tree goes away go with the delegate
    flinks.insert(control, link.release());
    return control;
}

TParamNode *TVirtualEditDelegate::NodeAt(const QModelIndex &index) const {
    QModelIndex source = index;
    while (const auto *proxy = qobject_cast<const QAbstractProxyModel *>(source.model()))
        source = proxy->mapToSource(source);
    return fmodel.NodeOf(source);
}

void TVirtualEditDelegate::destroyEditor(QWidget *editor, const QModelIndex &) const {
    if (TVirtualEditLink *link = flinks.take(editor)) {
        link->CancelEdit();
        link->deleteLater(); // and its control with it
    } else {
        editor->deleteLater();
    }
}

// Filled once, when the editor opens: a refresh of the value while the user types must not undo it.
void TVirtualEditDelegate::setEditorData(QWidget *editor, const QModelIndex &) const {
    if (TVirtualEditLink *link = flinks.value(editor))
        link->BeginEdit();
}

// The model takes the edited value (through the view's filter): a value the user did not change is
// not set at all.
void TVirtualEditDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const {
    TVirtualEditLink *link = flinks.value(editor);
    if (link && !link->EditData().modified && link->EndEdit() && link->EditData().modified)
        model->setData(index, link->EditData().val, Qt::EditRole);
}

void TVirtualEditDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                                const QModelIndex &) const {
    if (TVirtualEditLink *link = flinks.value(editor))
        link->SetBounds(option.rect);
}
