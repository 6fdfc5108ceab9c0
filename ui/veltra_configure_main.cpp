#include "veltra_configure_main.h"

#include "LuFiles.h"
#include "LuLed.h"
#include "LuUtils.h"
#include "common.h"
#include "config_backups.h"
#include "file_dialog.h"
#include "param_description.h"
#include "port_doctor.h"
#include "pcomm_sio.h"
#include "sys_message_box.h"
#include "veltra_about.h"
#include "veltra_backups.h"
#include "veltra_commander.h"
#include "veltra_compare.h"
#include "veltra_dev_info.h"
#include "veltra_msgbox.h"
#include "veltra_password.h"
#include "veltra_pictures.h"
#include "veltra_progress_info.h"
#include "vt_prop_edit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTemporaryFile>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUndoStack>
#include <optional>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QString Caption() {
    return TVeltraConfigurator::tr("Конфигуратор");
}

QString NoDevice() {
    return TVeltraConfigurator::tr("нет устройства");
}

QList<TFileFilter> ConfigFilter() {
    return {{TVeltraConfigurator::tr("Файлы конфигурации (*.cfg)"), QStringLiteral("*.cfg")},
            {TVeltraConfigurator::tr("Все файлы"), QStringLiteral("*")}};
}

QList<TFileFilter> FirmwareFilter() {
    return {{TVeltraConfigurator::tr("Файлы прошивок (*.bin)"), QStringLiteral("*.bin")},
            {TVeltraConfigurator::tr("Все файлы"), QStringLiteral("*")}};
}

bool RefreshWanted(const TLuHash &attrs) {
    const QString refresh = attrs.GetVal(QStringLiteral("refresh"));
    return !refresh.isEmpty() && QStringLiteral("1TtYy").contains(refresh[0]);
}

// The file dialogs open in the program's folders, where the engineer keeps the files. An installed
// program's folders are not the user's to write, so there they open in the user's documents.
QString UsersFolder(const QString &folder) {
    QTemporaryFile probe(folder + QStringLiteral("write-probe-XXXXXX"));
    if (probe.open())
        return folder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return DirExists(documents) ? documents : QDir::homePath();
}

} // namespace

TVeltraConfigurator::TVeltraConfigurator(QWidget *parent) : QMainWindow(parent) {
    setWindowTitle(tr("VELTRA - Конфигуратор"));
    fundo = new QUndoStack(this);
    CreateActions();
    connect(fundo, &QUndoStack::canUndoChanged, Action("ActUndo"), &QAction::setEnabled);
    connect(fundo, &QUndoStack::canRedoChanged, Action("ActRedo"), &QAction::setEnabled);
    CreateMenus();
    CreateLayout();
    fRefreshTimer = new QTimer(this);
    fRefreshTimer->setInterval(RefreshPeriodMs());
    connect(fRefreshTimer, &QTimer::timeout, this, &TVeltraConfigurator::RefreshTick);
    fRefreshTimer->start();
    fNoDeviceTimer = new QTimer(this);
    fNoDeviceTimer->setSingleShot(true);
    fNoDeviceTimer->setInterval(NoDeviceDelayMs);
    connect(fNoDeviceTimer, &QTimer::timeout, this, &TVeltraConfigurator::ShowWhyNoDevice);
    fNoDeviceTimer->start();
    fsession = std::make_unique<TVeltraSession>(static_cast<TSessionListener &>(*this));
}

// ---- no tracker found ----

// What stands between the machine and a tracker, port by port: the doctor's checks but the question to
// the tracker, which the engine keeps asking.
void TVeltraConfigurator::ShowWhyNoDevice() {
    if (fsession->DevicePresent())
        return;
    QString detail;
    const TLuStringList ports = TVeltraCommander::ListComPorts(detail);
    QStringList lines;
    for (int i = 0; i < ports.Count(); ++i) {
        const int port = int(DecToInt(ports[i], 0));
        lines << QStringLiteral("COM%1 (%2)").arg(port).arg(sio_PortPath(port));
        for (const TVerdict &v : DiagnosePort(port, TDoctorRoots(), 0).verdicts)
            if (v.state != TVerdict::vsOk)
                lines << QStringLiteral("  ") + v.text + (v.fix.isEmpty() ? QString() : QStringLiteral("\n    ") + v.fix);
    }
    fWhyNoDevice = lines.join(u'\n');
    fNoDeviceHint->show();
}

void TVeltraConfigurator::ExplainNoDevice() {
    fquestions->Confirm(Caption(),
                        tr("Трекер не найден. Что проверено на этом компьютере (veltra_cli doctor покажет то же):") +
                            QStringLiteral("\n\n") + fWhyNoDevice,
                        MB_OK | MB_ICONINFORMATION);
}

TVeltraConfigurator::~TVeltraConfigurator() {
    QElapsedTimer clock;
    clock.start();
    // The engine reports the device absent while it stops; this window handles that as usual.
    fsession->Stop();
    fsession.reset();
    // The tree, its editors and the filter line go while this window is whole: the focus and layout
    // passes of their teardown still ask it which groups are open.
    fmodel->SetExpandedQuery({});
    delete takeCentralWidget();
    Log(QStringLiteral("Destroy [%1]").arg(clock.elapsed()));
}

void TVeltraConfigurator::SetQuestions(TWindowQuestions *questions) {
    fquestions = questions ? questions : &fdialogs;
}

int TVeltraConfigurator::RefreshPeriodMs() const {
    return RefreshIntervalMs();
}

// The caption and hint are the untranslated texts (marked with QT_TR_NOOP where they are written).
QAction *TVeltraConfigurator::AddAction(const QString &name, const char *caption, const char *hint,
                                        const QList<QKeySequence> &keys, bool enabled,
                                        void (TVeltraConfigurator::*slot)()) {
    auto *action = new QAction(tr(caption), this);
    action->setObjectName(name);
    action->setToolTip(tr(hint ? hint : caption));
    action->setStatusTip(hint ? tr(hint) : QString());
    action->setShortcuts(keys);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, slot);
    addAction(action); // shortcuts work without a menu, as ActDevSim's does
    return action;
}

void TVeltraConfigurator::CreateActions() {
    AddAction("ActLoadCfg", QT_TR_NOOP("Загрузить конфигурацию"), nullptr, {QKeySequence("Ctrl+L")}, true,
              &TVeltraConfigurator::LoadConfigFile);
    AddAction("ActSaveCfg", QT_TR_NOOP("Сохранить конфигурацию"), nullptr, {QKeySequence("Ctrl+S")}, true,
              &TVeltraConfigurator::SaveConfigFile);
    AddAction("ActFind", QT_TR_NOOP("Найти параметр"),
              QT_TR_NOOP("Оставить в дереве только подходящие строки"), {QKeySequence::Find}, true,
              &TVeltraConfigurator::ActFindExecute);
    // A second shortcut only: it works, and the menu shows none.
    AddAction("ActShowLog", QT_TR_NOOP("Показать журналы"), nullptr,
              {QKeySequence(), QKeySequence("Ctrl+Alt+Shift+L")}, true,
              &TVeltraConfigurator::ActShowLogExecute);
    AddAction("ActExit", QT_TR_NOOP("Выход"), nullptr, {QKeySequence("Ctrl+X")}, true,
              &TVeltraConfigurator::ActExitExecute);
    AddAction("ActDevReadCfg", QT_TR_NOOP("Прочитать конфигурацию"),
              QT_TR_NOOP("Перечитать конфигурацию из устройства"),
              {QKeySequence("Ctrl+R"), QKeySequence("F5")}, false,
              &TVeltraConfigurator::ActDevReadCfgExecute);
    AddAction("ActDevWriteCfg", QT_TR_NOOP("Записать конфигурацию"),
              QT_TR_NOOP("Записать конфигурацию в устройство"), {QKeySequence("Ctrl+W")}, false,
              &TVeltraConfigurator::ActDevWriteCfgExecute);
    AddAction("ActDevUpdFirmware", QT_TR_NOOP("Обновить прошивку"), nullptr, {}, false,
              &TVeltraConfigurator::ActDevUpdFirmwareExecute);
    AddAction("ActDevReboot", QT_TR_NOOP("Перезагрузить"), nullptr, {}, false,
              &TVeltraConfigurator::ActDevRebootExecute);
    AddAction("ActDevCompare", QT_TR_NOOP("Сравнить с файлом..."),
              QT_TR_NOOP("Показать, что изменит в трекере файл конфигурации"), {}, true,
              &TVeltraConfigurator::ActDevCompareExecute);
    AddAction("ActDevBackups", QT_TR_NOOP("Резервные копии..."),
              QT_TR_NOOP("Загрузить конфигурацию, сохранённую перед записью или обновлением"), {}, true,
              &TVeltraConfigurator::ActDevBackupsExecute);
    AddAction("ActDevShowInfo", QT_TR_NOOP("Показать информацию"),
              QT_TR_NOOP("Показать информацию об устройстве"), {QKeySequence("Ctrl+I")}, false,
              &TVeltraConfigurator::ActDevShowInfoExecute);
    AddAction("ActHelp", QT_TR_NOOP("Справка"), nullptr, {QKeySequence("F1")}, true,
              &TVeltraConfigurator::ActHelpExecute);
    AddAction("ActAbout", QT_TR_NOOP("О программе"), nullptr, {}, true,
              &TVeltraConfigurator::ActAboutExecute);
    AddAction("ActDevSim", "ActDevSim", nullptr, {QKeySequence("Ctrl+Shift+F12")}, true,
              &TVeltraConfigurator::ActDevSimExecute);
    // On no menu: the menus keep their entries; the shortcuts and tool tips tell.
    AddAction("ActUndo", QT_TR_NOOP("Отменить"), QT_TR_NOOP("Отменить последнее изменение значений (Ctrl+Z)"),
              {QKeySequence("Ctrl+Z")}, false, &TVeltraConfigurator::ActUndoExecute);
    AddAction("ActRedo", QT_TR_NOOP("Вернуть"), QT_TR_NOOP("Вернуть отменённое изменение значений (Ctrl+Shift+Z)"),
              {QKeySequence("Ctrl+Shift+Z")}, false, &TVeltraConfigurator::ActRedoExecute);
}

QAction *TVeltraConfigurator::Action(const QString &name) const {
    return findChild<QAction *>(name);
}

void TVeltraConfigurator::CreateMenus() {
    const auto menu = [this](const QString &title, const QStringList &items) {
        QMenu *m = menuBar()->addMenu(title);
        for (const QString &item : items) {
            if (item == u"-")
                m->addSeparator();
            else
                m->addAction(Action(item));
        }
    };
    menu(tr("Файл"), {"ActLoadCfg", "ActSaveCfg", "-", "ActShowLog", "-", "ActExit"});
    menu(tr("Устройство"), {"ActDevReadCfg", "ActDevWriteCfg", "ActDevUpdFirmware", "-", "ActDevReboot", "-",
                            "ActDevShowInfo", "ActDevCompare", "ActDevBackups"});
    menu(tr("Справка"), {"ActHelp", "ActAbout"});
}

// The line that narrows the tree to the rows matching a text (Ctrl+F); hidden until asked for.
QWidget *TVeltraConfigurator::CreateFilterBar(QWidget *parent) {
    fFilterBar = new QWidget(parent);
    fFilterBar->setObjectName("FilterBar");
    auto *row = new QHBoxLayout(fFilterBar);
    row->setContentsMargins(0, 0, 0, 0);
    fFilterEdit = new QLineEdit(fFilterBar);
    fFilterEdit->setObjectName("FilterEdit");
    fFilterEdit->setPlaceholderText(tr("Параметр, название или значение (Esc - закрыть)"));
    fFilterEdit->setClearButtonEnabled(true);
    fFilterEdit->installEventFilter(this);
    fFilterChanged = new QCheckBox(tr("только изменённые"), fFilterBar);
    fFilterChanged->setObjectName("FilterChanged");
    row->addWidget(fFilterEdit, 1);
    row->addWidget(fFilterChanged);
    connect(fFilterEdit, &QLineEdit::textChanged, this, &TVeltraConfigurator::ApplyFilter);
    connect(fFilterChanged, &QCheckBox::toggled, this, &TVeltraConfigurator::ApplyFilter);
    fFilterBar->hide();
    return fFilterBar;
}

void TVeltraConfigurator::ActFindExecute() {
    fFilterBar->show();
    fFilterEdit->setFocus();
    fFilterEdit->selectAll();
}

void TVeltraConfigurator::CloseFilter() {
    fFilterBar->hide();
    fFilterEdit->clear();
    fFilterChanged->setChecked(false);
    ApplyFilter();
    fParamsTree->setFocus();
}

// Hides the parameter rows that do not match; a group stays while one of its rows does.
void TVeltraConfigurator::ApplyFilter() {
    ffilter->SetFilter(fFilterEdit->text().trimmed(), fFilterChanged->isChecked());
    if (ffilter->Filtering())
        fParamsTree->expandAll();
}

void TVeltraConfigurator::CreateLayout() {
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);

    auto *strip = new QHBoxLayout;
    strip->setSpacing(6);
    fDevLed = new TLuLed(central);
    fDevLed->setObjectName("DevLed");
    fDevLed->SetColorOn(QColor(0, 128, 0));
    fDevLed->setFixedSize(12, 21);
    fDevName = new QLineEdit(NoDevice(), central);
    fDevName->setObjectName("DevName");
    fDevName->setReadOnly(true);
    strip->addWidget(fDevLed);
    strip->addWidget(fDevName, 1);
    const std::pair<const char *, TGlyph> buttons[] = {
        {"ActDevShowInfo", glyphDevInfo}, {"ActDevReadCfg", glyphReadConfig}, {"ActDevWriteCfg", glyphWriteConfig}};
    for (const auto &[name, glyph] : buttons) {
        Action(name)->setIcon(ToolbarGlyph(glyph));
        auto *button = new QToolButton(central);
        button->setDefaultAction(Action(name));
        button->setFixedSize(32, 24);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        strip->addWidget(button);
    }
    column->addLayout(strip);
    column->addWidget(CreateFilterBar(central));

    fmodel = new TParamsModel(this);
    connect(fmodel, &TParamsModel::Edited, this, &TVeltraConfigurator::ValueEdited);
    ffilter = new TParamsFilter(*fmodel, this);
    fParamsTree = new QTreeView(central);
    fParamsTree->setObjectName("ParamsTree");
    fParamsTree->setModel(ffilter);
    fParamsTree->setSelectionBehavior(QAbstractItemView::SelectRows);
    fParamsTree->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    fParamsTree->header()->setFixedHeight(20);
    fParamsTree->header()->setSectionsMovable(true);
    fParamsTree->header()->setStretchLastSection(true);
    fParamsTree->setColumnWidth(0, 200);
    fParamsTree->setItemDelegate(new TVirtualEditDelegate(
        *fmodel, [this](TParamNode *node, int column) { return ParamsTreeCreateEditor(node, column); }, fParamsTree));
    fParamsTree->installEventFilter(this);
    fmodel->SetExpandedQuery(
        [this](const QModelIndex &index) { return fParamsTree->isExpanded(ffilter->mapFromSource(index)); });
    connect(fParamsTree, &QTreeView::expanded, fmodel, [this](const QModelIndex &i) { fmodel->NodeChanged(ViewNode(i)); });
    connect(fParamsTree, &QTreeView::collapsed, fmodel, [this](const QModelIndex &i) { fmodel->NodeChanged(ViewNode(i)); });
    connect(fParamsTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TVeltraConfigurator::ParamsTreeChange);
    column->addWidget(fParamsTree, 1);

    fParamDesc = new QTextEdit(central);
    fParamDesc->setObjectName("ParamDesc");
    fParamDesc->setReadOnly(true);
    fParamDesc->setFixedHeight(64);
    column->addWidget(fParamDesc);

    fNoDeviceHint = new QPushButton(tr("Трекер не найден: почему?"), this);
    fNoDeviceHint->setObjectName("NoDeviceHint");
    fNoDeviceHint->setFlat(true);
    fNoDeviceHint->hide();
    connect(fNoDeviceHint, &QPushButton::clicked, this, &TVeltraConfigurator::ExplainNoDevice);
    statusBar()->addWidget(fNoDeviceHint);

    setCentralWidget(central);
    resize(472, 450 + menuBar()->sizeHint().height());
    KeepOuterMinimum();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// The smallest window is 400 by 400 with its frame, which is known once the window manager has framed
// the window: until then (and without a window manager) the frame adds nothing.
void TVeltraConfigurator::KeepOuterMinimum() {
    const QSize frame = frameGeometry().size() - geometry().size();
    setMinimumSize(QSize(400, 400) - frame);
}

void TVeltraConfigurator::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    KeepOuterMinimum();
}

void TVeltraConfigurator::moveEvent(QMoveEvent *event) {
    QMainWindow::moveEvent(event);
    KeepOuterMinimum();
}

QModelIndex TVeltraConfigurator::ViewIndex(TParamNode *node, int column) const {
    return ffilter->mapFromSource(fmodel->IndexOf(node, column));
}

TParamNode *TVeltraConfigurator::ViewNode(const QModelIndex &index) const {
    return fmodel->NodeOf(ffilter->mapToSource(index));
}

QString TVeltraConfigurator::StatusText() const {
    return fDevName->text();
}

QString TVeltraConfigurator::DescriptionText() const {
    return fParamDesc->toPlainText();
}

bool TVeltraConfigurator::LedLit() const {
    return fDevLed->Lit();
}

void TVeltraConfigurator::Log(const QString &text) const {
    AppLog(TAG, text, -1);
}

// ---- the parameter tree ----

void TVeltraConfigurator::ClearTree() {
    fmodel->Clear();
}

void TVeltraConfigurator::BuildParamsTree() {
    ClearTree();
    refresh_params.Clear();
    const QString confDir = ConfDirPrefix();
    LoadParamsDescription(params_conf, {ExeDir, ParentDir, confDir});

    for (const TParamsLayoutEntry &entry : ParamsTreeLayout(params_conf)) {
        if (!entry.isGroup) {
            AddParamNode(nullptr, entry.key);
            continue;
        }
        TParamNodeData data;
        data.key = entry.key;
        data.is_group = true;
        data.attrs = AttributesOf(params_conf.GetVal(entry.key));
        TParamNode *node = fmodel->AddNode(nullptr, std::move(data));
        for (const QString &param : entry.params)
            AddParamNode(node, param);
    }
    ApplyFilter();

    fParamsTree->setFocus();
    if (!fmodel->IsEmpty()) {
        const QModelIndex first = ViewIndex(fmodel->Root(0));
        fParamsTree->setCurrentIndex(first);
        fParamsTree->expand(first);
    }
}

void TVeltraConfigurator::AddParamNode(TParamNode *parent, const QString &key) {
    TParamNodeData data;
    data.key = key;
    data.attrs = AttributesOf(params_conf.GetVal(key));
    const TLuHash &values = fsession->Values();
    if (values.KeyIndex(key) >= 0)
        data.value = values.GetVal(key);
    else
        fsession->ReadValue(key);
    if (RefreshWanted(data.attrs) && refresh_params.IndexOf(key) < 0)
        refresh_params.Add(key);
    fmodel->AddNode(parent, std::move(data));
}

void TVeltraConfigurator::ParamsTreeChange() {
    const TParamNode *node = ViewNode(fParamsTree->currentIndex());
    fParamDesc->setPlainText(node ? node->data.attrs.GetVal(QStringLiteral("desc")) : QString());
}

std::unique_ptr<TVirtualEditLink> TVeltraConfigurator::ParamsTreeCreateEditor(TParamNode *node, int column) {
    if (column != 1 || !node || node->data.is_group)
        return nullptr;
    auto link = std::make_unique<TVirtualEditLink>();
    link->EditData() = ParamEditData(node->data.attrs, node->data.value);
    return link;
}

bool TVeltraConfigurator::StartEditing(const QModelIndex &index) {
    const QModelIndex value = index.siblingAtColumn(1);
    const TParamNode *node = ViewNode(value);
    if (!node || !TParamsModel::Editable(node->data, 1))
        return false;
    fParamsTree->edit(value);
    return true;
}

bool TVeltraConfigurator::eventFilter(QObject *watched, QEvent *event) {
    if (watched == fFilterEdit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        CloseFilter();
        return true;
    }
    // While an editor is open the keys go to it, not to the tree.
    if (watched == fParamsTree && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F2) {
            const QModelIndexList selected = fParamsTree->selectionModel()->selectedRows();
            if (!selected.isEmpty())
                StartEditing(selected.first());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- the dialogue with the device ----

bool TVeltraConfigurator::HasChangedParams() const {
    return fmodel->ChangedCount() > 0;
}

void TVeltraConfigurator::UpdateWriteAction() {
    Action("ActDevWriteCfg")->setEnabled(HasChangedParams());
}

namespace {

// One step of the history: the values and marks before and after it, of the parameters it changed.
// A load also keeps the session's store of the device's values before and after it: a file brings keys
// the tree does not show, and they must go with the undone load.
class TValueEditsCommand : public QUndoCommand {
public:
    using TStates = TVeltraConfigurator::TValueStates;
    using TApply = std::function<void(const TStates &, const TLuHash *)>;
    TValueEditsCommand(const QString &text, TStates before, TStates after, TApply apply,
                       std::optional<TLuHash> valuesBefore = {}, std::optional<TLuHash> valuesAfter = {})
        : QUndoCommand(text), fbefore(std::move(before)), fafter(std::move(after)), fapply(std::move(apply)),
          fvaluesBefore(std::move(valuesBefore)), fvaluesAfter(std::move(valuesAfter)) {}
    // The step has already been taken when it is pushed.
    void redo() override {
        if (!fdone)
            fdone = true;
        else
            fapply(fafter, fvaluesAfter ? &*fvaluesAfter : nullptr);
    }
    void undo() override { fapply(fbefore, fvaluesBefore ? &*fvaluesBefore : nullptr); }
    bool Touches(const QString &key) const { return fbefore.contains(key) || fafter.contains(key); }

private:
    TStates fbefore, fafter;
    TApply fapply;
    std::optional<TLuHash> fvaluesBefore, fvaluesAfter;
    bool fdone = false;
};

} // namespace

void TVeltraConfigurator::ParamEdited(TParamNode *node, int column, const QString &value, bool modified) {
    if (node && modified)
        fmodel->setData(fmodel->IndexOf(node, column), value);
}

// An edit of the model (an editor, or ParamEdited) becomes a step of the history.
void TVeltraConfigurator::ValueEdited(TParamNode *node, const QString &oldValue, bool wasChanged) {
    const QString key = node->data.key;
    UpdateWriteAction();
    fundo->push(new TValueEditsCommand(tr("изменение %1").arg(key), {{key, {oldValue, wasChanged}}},
                                       {{key, {node->data.value, node->data.changed}}},
                                       [this](const TValueStates &states, const TLuHash *) { ApplyValueStates(states); }));
}

// ---- undo of unwritten edits ----

TVeltraConfigurator::TValueStates TVeltraConfigurator::ValueStates() const {
    TValueStates states;
    fmodel->ForEachNode([&states](TParamNode &node) {
        if (!node.data.is_group && !states.contains(node.data.key))
            states.insert(node.data.key, {node.data.value, node.data.changed});
    });
    return states;
}

// Every parameter back to the value and mark it had; a parameter the tree no longer has is skipped.
void TVeltraConfigurator::ApplyValueStates(const TValueStates &states) {
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        fmodel->SetValue(FindParamNode(it.key()), it->value, it->changed);
    UpdateWriteAction();
    ApplyFilter();
}


// The tracker now holds what it confirmed or reported: a step that would put an older value back
// would be wrong, so the history that names the key ends.
void TVeltraConfigurator::ForgetHistoryOf(const QString &key) {
    for (int i = 0; i < fundo->count(); ++i)
        if (static_cast<const TValueEditsCommand *>(fundo->command(i))->Touches(key)) {
            fundo->clear();
            return;
        }
}

void TVeltraConfigurator::RecordEdits(const QString &text, const std::function<void()> &change, bool withValues) {
    const TValueStates before = ValueStates();
    std::optional<TLuHash> valuesBefore;
    if (withValues)
        valuesBefore = fsession->Values();
    change();
    const TValueStates after = ValueStates();
    TValueStates was, now;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const auto old = before.constFind(it.key());
        const TValueState previous = old == before.cend() ? TValueState{} : *old;
        if (previous.value != it->value || previous.changed != it->changed) {
            was.insert(it.key(), previous);
            now.insert(it.key(), *it);
        }
    }
    UpdateWriteAction();
    if (!now.isEmpty())
        fundo->push(new TValueEditsCommand(
            text, was, now,
            [this](const TValueStates &states, const TLuHash *values) {
                if (values) {
                    fsession->Values().Clear();
                    fsession->Values().Assign(values);
                }
                ApplyValueStates(states);
            },
            valuesBefore, withValues ? std::optional<TLuHash>(fsession->Values()) : std::nullopt));
}

void TVeltraConfigurator::ActUndoExecute() {
    if (!fundo->canUndo())
        return;
    const QString text = fundo->undoText();
    fundo->undo();
    statusBar()->showMessage(tr("Отменено: %1").arg(text));
}

void TVeltraConfigurator::ActRedoExecute() {
    if (!fundo->canRedo())
        return;
    const QString text = fundo->redoText();
    fundo->redo();
    statusBar()->showMessage(tr("Возвращено: %1").arg(text));
}

void TVeltraConfigurator::ReadDeviceConfig() {
    if (HasChangedParams() &&
        fquestions->Confirm(Caption(),
                      tr("Некоторые параметры были изменены. При перезагрузке изменения будут потеряны. "
                         "Всё равно перезагрузить?"),
                      MB_YESNO | MB_ICONWARNING) != IDYES)
        return;
    if (!fsession->DevicePresent())
        return;
    ClearTree();
    fsession->ReadConfig();
}

void TVeltraConfigurator::WriteDeviceConfig(bool closeAfter) {
    if (!fsession->DevicePresent() || !RefusedValuesAccepted())
        return;
    QList<std::pair<QString, QString>> entries;
    fmodel->ForEachNode([&entries](TParamNode &node) {
        if (node.data.changed)
            entries.append({node.data.key, node.data.value});
    });
    fsession->Write(entries, closeAfter);
}

// Without a backup a write or an update goes on only when the user agrees.
bool TVeltraConfigurator::GoOnWithoutBackup(const QString &error) {
    return fquestions->Confirm(
               Caption(),
               tr("Не удалось сохранить резервную копию конфигурации трекера (%1). Всё равно продолжить?")
                   .arg(error),
               MB_YESNO | MB_ICONWARNING) == IDYES;
}

void TVeltraConfigurator::ActDevCompareExecute() {
    const QString file =
        AskFile(false, tr("Сравнение с файлом конфигурации"), UsersFolder(ExeDir), QString(), ConfigFilter());
    if (!file.isEmpty())
        CompareWithFile(file);
}

// Shows what the file would change on the device; the user loads just that, the whole file, or nothing.
void TVeltraConfigurator::CompareWithFile(const QString &fileName) {
    TLuHash fileConfig;
    fileConfig.Load(fileName, true, StdKeySeparators);
    const QList<TConfigDifference> differences = CompareConfigs(fsession->DeviceReported(), fileConfig);
    auto *dialog = new TVeltraCompare(fileName, differences, [this](const QString &key) {
        TParamNode *node = FindParamNode(key);
        return node ? fmodel->IndexOf(node).data().toString() : QString();
    }, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &TVeltraCompare::LoadWholeFile, this, [this, fileName] { LoadConfigFrom(fileName); });
    connect(dialog, &TVeltraCompare::LoadDifferences, this, [this, differences] { LoadDifferences(differences); });
    dialog->open();
}

void TVeltraConfigurator::LoadDifferences(const QList<TConfigDifference> &differences) {
    RecordEdits(tr("загрузка отличий"), [&] {
        for (const TConfigDifference &d : differences) {
            TParamNode *node = FindParamNode(d.key);
            if (d.inFile && node && !node->data.is_group)
                fmodel->SetValue(node, d.fileValue, true);
        }
    });
    ApplyFilter();
}

void TVeltraConfigurator::ActDevBackupsExecute() {
    const QString imei = fsession->Identity().imei;
    auto *dialog = new TVeltraBackups(ListBackups(AppDataDir, imei), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &TVeltraBackups::Chosen, this, &TVeltraConfigurator::LoadConfigFrom);
    dialog->open();
}

// Values the description would refuse are sent only when the user says so, once per write.
bool TVeltraConfigurator::RefusedValuesAccepted() {
    QStringList refused;
    fmodel->ForEachNode([&refused](TParamNode &node) {
        if (node.data.changed && TParamsModel::ValueCheck(node.data) != vcOk)
            refused << node.data.key;
    });
    if (refused.isEmpty())
        return true;
    return fquestions->Confirm(Caption(),
                         tr("Значения %1 параметров не соответствуют описанию: %2. Всё равно записать их "
                            "в трекер?")
                             .arg(refused.size())
                             .arg(refused.join(QStringLiteral(", "))),
                         MB_YESNO | MB_ICONWARNING) == IDYES;
}

void TVeltraConfigurator::RefreshTick() {
    QStringList keys;
    for (int i = 0; i < refresh_params.Count(); ++i) {
        const QString key = TrimText(refresh_params[i]);
        const TParamNode *node = FindParamNode(key);
        if (node && !node->data.changed)
            keys << key;
    }
    fsession->Refresh(keys);
}

// ---- what the session reports ----

void TVeltraConfigurator::DevicePresent(const TDeviceIdentity &id) {
    fNoDeviceTimer->stop();
    fNoDeviceHint->hide();
    ShowPresence(true);
    IdentityUpdated(id);
    ReadDeviceConfig();
}

void TVeltraConfigurator::DeviceAbsent(bool forget) {
    fNoDeviceTimer->start();
    ShowPresence(false);
    fDevName->setText(NoDevice());
    if (forget) {
        fundo->clear();
        ClearTree();
        fParamDesc->clear();
    }
}

void TVeltraConfigurator::ShowPresence(bool present) {
    for (const char *name : {"ActDevReadCfg", "ActDevShowInfo", "ActDevReboot", "ActDevUpdFirmware"})
        Action(name)->setEnabled(present);
    fDevLed->SetLit(present);
}

void TVeltraConfigurator::IdentityUpdated(const TDeviceIdentity &id) {
    fDevName->setText(id.name + QStringLiteral(" [ ") + id.imei + QStringLiteral(" ]"));
}

void TVeltraConfigurator::ConfigRead(const TLuHash &) {
    fundo->clear(); // the tree is the tracker's again
    BuildParamsTree();
}

// An edited parameter keeps its edit; the answer is dropped for it.
bool TVeltraConfigurator::ValueRead(const QString &key, const QString &value) {
    TParamNode *node = FindParamNode(key);
    if (!node || node->data.changed)
        return false;
    if (node->data.value != value)
        ForgetHistoryOf(key);
    fmodel->SetValue(node, value, false);
    return true;
}

void TVeltraConfigurator::ValueConfirmed(const QString &key, const QString &) {
    ForgetHistoryOf(key);
    if (TParamNode *node = FindParamNode(key)) {
        fmodel->SetChanged(node, false);
        UpdateWriteAction();
    }
}

// The refused keys keep their marks, so the next write retries just those.
void TVeltraConfigurator::WriteDone(const TWriteSummary &summary) {
    // What was written is the tracker's now: its history ends (refused values keep their marks).
    fundo->clear();
    QString text = tr("Записано параметров: %1").arg(summary.written);
    if (!summary.refused.isEmpty())
        text += tr(", не принято трекером: %1 (%2)")
                    .arg(summary.refused.size())
                    .arg(summary.refused.join(QStringLiteral(", ")));
    statusBar()->showMessage(text);
}

void TVeltraConfigurator::CloseRequested() {
    close();
}

void TVeltraConfigurator::Message(const QString &text) {
    if (text.isEmpty())
        return;
    static const QString marks = QStringLiteral("!#*?");
    static const int flags[] = {MB_ICONWARNING, MB_ICONERROR, MB_ICONWARNING, MB_ICONQUESTION};
    const qsizetype mark = marks.indexOf(text[0]);
    const QString shown = mark < 0 ? text.left(999) : text.mid(1, 999);
    if (fcompanions.msgBox)
        fcompanions.msgBox->ShowMsg(shown, mark < 0 ? 0 : flags[mark], 10);
}

void TVeltraConfigurator::PasswordWanted() {
    QString password;
    if (fquestions->AskPassword(password))
        fsession->SendPassword(password);
}

// Names the device, its group and how to join it. Shown after the notification returns, so that the
// engine goes on scanning while the message is open.
void TVeltraConfigurator::PortDenied(const QString &path) {
    if (fPortAccessExplained)
        return;
    fPortAccessExplained = true;
    const QString group = sio_PortAccessGroup(path);
    const QString text =
        group.isEmpty()
            ? tr("Нет доступа к последовательному порту %1. Попросите администратора компьютера дать Вам "
                 "права "
                 "на чтение и запись этого устройства.")
                  .arg(path)
            : tr("Нет доступа к последовательному порту %1: он принадлежит группе %2. Чтобы получить доступ, "
                 "добавьте себя в эту группу командой\n\nsudo usermod -aG %2 $USER\n\nи войдите в систему "
                 "заново.")
                  .arg(path, group);
    QTimer::singleShot(0, this, [this, text] { fquestions->Confirm(Caption(), text, MB_OK | MB_ICONWARNING); });
}

void TVeltraConfigurator::Progress(int code, qint64 value, const QString &text) {
    if (fcompanions.progress)
        fcompanions.progress->ApplyProgressCode(code, value, text);
}

// ---- configuration files ----

QString TVeltraConfigurator::AskFile(bool save, const QString &title, const QString &folder, const QString &name,
                                     const QList<TFileFilter> &filters) {
    return fquestions->ChooseFile(save, title, folder, name, filters);
}

// The name both file dialogs propose: the connected tracker's IMEI.
QString TVeltraConfigurator::DefaultConfigName() const {
    return QStringLiteral("veltra_") + fsession->Identity().imei + QStringLiteral(".cfg");
}

void TVeltraConfigurator::SaveConfigFile() {
    const QString file = AskFile(true, tr("Сохранение конфигурации"), UsersFolder(ExeDir),
                                 DefaultConfigName(), ConfigFilter());
    if (!file.isEmpty())
        SaveConfigTo(file);
}

bool TVeltraConfigurator::SaveConfigTo(const QString &fileName) {
    TLuHash &values = fsession->Values();
    fmodel->ForEachNode([&values](TParamNode &node) {
        if (!node.data.key.startsWith(u'_'))
            values.SetVal(node.data.key, node.data.value);
    });
    QString error;
    if (WriteTextFileWhole(fileName, values.AsText(QStringLiteral("="), QStringLiteral("\r\n")), error))
        return true;
    fquestions->Confirm(Caption(), tr("Не удалось сохранить конфигурацию в файл [%1]: %2").arg(fileName, error),
                  MB_OK | MB_ICONERROR);
    return false;
}

void TVeltraConfigurator::LoadConfigFile() {
    const QString file =
        AskFile(false, tr("Загрузка конфигурации"), UsersFolder(ExeDir), DefaultConfigName(), ConfigFilter());
    if (!file.isEmpty())
        LoadConfigFrom(file);
}

void TVeltraConfigurator::LoadConfigFrom(const QString &fileName) {
    RecordEdits(tr("загрузка файла %1").arg(QFileInfo(fileName).fileName()), [&] {
        TLuHash &values = fsession->Values();
        values.Load(fileName, true, StdKeySeparators);
        BuildParamsTree();
        fmodel->ForEachNode([this, &values](TParamNode &node) {
            const QString value = values.GetVal(node.data.key);
            fmodel->SetValue(&node, value, WrittenByLoad(node.data.key, value));
        });
    }, true);
    ApplyFilter();
}

// ---- the actions ----

void TVeltraConfigurator::ActDevReadCfgExecute() {
    ReadDeviceConfig();
}

void TVeltraConfigurator::ActDevWriteCfgExecute() {
    WriteDeviceConfig(false);
}

void TVeltraConfigurator::ActExitExecute() {
    close();
}

void TVeltraConfigurator::ActShowLogExecute() {
    QWidget *log = fcompanions.logView;
    if (!log)
        return;
    QPoint at(frameGeometry().right() + 2, frameGeometry().top() + 24);
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->geometry();
        const QSize size = log->frameGeometry().size();
        at.setX(std::min(at.x(), area.right() + 1 - size.width()));
        at.setY(std::min(at.y(), area.bottom() + 1 - size.height()));
    }
    log->move(at);
    log->show();
    log->lower();
    log->raise();
}

void TVeltraConfigurator::ActDevShowInfoExecute() {
    TVeltraDevInfo *info = fcompanions.devInfo;
    if (!info)
        return;
    const TDeviceIdentity id = fsession->Identity();
    info->UpdateDevInfo(QStringLiteral("\rDevName=") + id.name + QStringLiteral("\rDevIMEI=") + id.imei +
                        QStringLiteral("\rDevHwVersion=") + VersionText(id.hw) + QStringLiteral("\rDevSwVersion=") +
                        VersionText(id.sw) + u'\r');
    info->show();
    MoveWindowToCursor(info, false, false);
}

void TVeltraConfigurator::ActDevUpdFirmwareExecute() {
    if (fFirmwareDir.isEmpty())
        fFirmwareDir = ParentDir + QStringLiteral("dat") + QDir::separator();
    if (!DirExists(fFirmwareDir))
        fFirmwareDir = UsersFolder(ParentDir);
    const QString file =
        AskFile(false, tr("Выбор файла прошивки"), fFirmwareDir, QString(), FirmwareFilter());
    if (file.isEmpty())
        return;
    if (HasChangedParams() &&
        fquestions->Confirm(Caption(),
                      tr("Некоторые параметры конфигурации были изменены. При обновлении прошивки эти "
                         "изменения будут потеряны. Всё равно обновлять прошивку?"),
                      MB_YESNO | MB_ICONWARNING) != IDYES)
        return;
    fsession->UpdateFirmware(QFileInfo(file).absoluteFilePath());
}

void TVeltraConfigurator::ActDevRebootExecute() {
    fsession->Reboot();
}

void TVeltraConfigurator::ActHelpExecute() {
    const QStringList files = FindFiles(ParentDir, QStringLiteral("\\.pdf$"), true).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (files.isEmpty()) {
        AppLog(QStringLiteral("help"), QStringLiteral("No files found"), -1);
        return;
    }
    // The shell's "open" answers with a result code; QDesktopServices tells only whether the document
    // was handed on, so the line carries 1 for success and 0 for failure.
    const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(files.first()));
    AppLog(QStringLiteral("help"), QStringLiteral("Open [") + files.first() + QStringLiteral("]: ") +
                                       QString::number(opened ? 1 : 0), -1);
}

void TVeltraConfigurator::ActAboutExecute() {
    TVeltraAbout about(this);
    about.exec();
}

void TVeltraConfigurator::ActDevSimExecute() {
    fsession->SimulatePresence();
    fsession->Values().Clear();
    fundo->clear();
    BuildParamsTree();
}

void TVeltraConfigurator::closeEvent(QCloseEvent *event) {
    bool mayClose = !HasChangedParams();
    if (!mayClose) {
        const int answer =
            fquestions->Confirm(Caption(), tr("Некоторые параметры были изменены. Записать их в трекер?"),
                          MB_YESNOCANCEL | MB_ICONWARNING);
        if (answer == IDNO) {
            mayClose = true;
        } else if (answer == IDYES) {
            // Without a tracker nothing would be written and "_CLOSE" would never come back.
            if (fsession->DevicePresent())
                WriteDeviceConfig(true);
            else
                fquestions->Confirm(Caption(),
                              tr("Трекер не подключён: изменения не могут быть записаны. Подключите "
                                 "трекер или закройте программу без записи."),
                              MB_OK | MB_ICONWARNING);
        }
    }
    Log(QStringLiteral("Close query: ") + (mayClose ? "true" : "false"));
    event->setAccepted(mayClose);
}
