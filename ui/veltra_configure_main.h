// TVeltraConfigurator: the program's main window and its single point of control. It shows the
// parameter tree built from the description and the device's values, the device's presence and the
// description of the chosen parameter; its actions, menus and dialogs hand the dialogue with the
// tracker to its session (session/), whose events it shows: the tree filled from a read, marks cleared
// as the device confirms them, the password asked for, progress and messages.
//
// Every question it asks (message boxes, file dialogs, the password) goes through TWindowQuestions,
// which tests implement; nothing here waits on a real modal box in a test.
#pragma once

#include "LuHash.h"
#include "LuStrings.h"
#include "file_dialog.h"
#include "params_tree.h"
#include "veltra_session.h"
#include "window_questions.h"

#include <QHash>
#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTextEdit;
class QTimer;
class QToolButton;
class QTreeView;
class QUndoStack;
class TLuLed;
class TVeltraCommander;
class TVeltraDevInfo;
class TVeltraMsgBox;
class TVirtualEditLink;
class TVeltraProgressInfo;

// The windows that live beside the main window for the whole run; any may be missing (tests).
struct TCompanionWindows {
    QWidget *logView = nullptr;
    TVeltraDevInfo *devInfo = nullptr;
    TVeltraProgressInfo *progress = nullptr;
    TVeltraMsgBox *msgBox = nullptr;
};

class TVeltraConfigurator : public QMainWindow, private TSessionListener {
    Q_OBJECT
public:
    explicit TVeltraConfigurator(QWidget *parent = nullptr);
    ~TVeltraConfigurator() override;

    // Set right after creation, by the program's start-up, as the windows come into being.
    void SetCompanions(const TCompanionWindows &companions) { fcompanions = companions; }

    // Who answers the window's questions; null: the real dialogs. A test gives its own answers.
    void SetQuestions(TWindowQuestions *questions);

    // The parameter tree (description file and device values).
    void BuildParamsTree();
    void AddParamNode(TParamNode *parent, const QString &key);
    TParamNode *FindParamNode(const QString &key) const { return fmodel->FindParamNode(key); }
    // The editor of a value cell, prepared from the node's description and value; none for groups
    // and for the name column.
    std::unique_ptr<TVirtualEditLink> ParamsTreeCreateEditor(TParamNode *node, int column);

    // The dialogue with the device.
    void ReadDeviceConfig();
    void WriteDeviceConfig(bool closeAfter);
    bool HasChangedParams() const;
    void UpdateWriteAction();
    void ParamEdited(TParamNode *node, int column, const QString &value, bool modified);

    // The history of unwritten edits (Ctrl+Z, Ctrl+Shift+Z): each step keeps the values and marks of
    // the parameters it changed, before and after.
    struct TValueState {
        QString value;
        bool changed = false;
    };
    using TValueStates = QHash<QString, TValueState>;
    QUndoStack &History() const { return *fundo; }

    // Without a tracker for this long, the status strip offers the machine-side reasons.
    static constexpr int NoDeviceDelayMs = 10000;
    void ShowWhyNoDevice();
    void RefreshTick();

    // Configuration files.
    void SaveConfigFile();
    void LoadConfigFile();
    // What the two do once a file is chosen; false (and the user told) when the file was not written.
    bool SaveConfigTo(const QString &fileName);
    void LoadConfigFrom(const QString &fileName);
    // The comparison of the device's configuration with a file, in its dialog.
    void CompareWithFile(const QString &fileName);

    // The dialogue with the tracker: the log and progress windows notify it (MainWindowHandle).
    TVeltraSession &Session() const { return *fsession; }
    // For tests and the status strip.
    TVeltraCommander &Engine() const { return fsession->Engine(); }
    TParamsModel &Model() const { return *fmodel; }
    QTreeView &ParamsTree() const { return *fParamsTree; }
    // The tree view shows the model through the filter line: a node's index in the view (invalid while
    // the filter hides it), and the node of a view's index.
    QModelIndex ViewIndex(TParamNode *node, int column = 0) const;
    TParamNode *ViewNode(const QModelIndex &index) const;
    QString StatusText() const;
    QString DescriptionText() const;
    bool LedLit() const;
    QAction *Action(const QString &name) const;
    int RefreshPeriodMs() const;
    const TLuHash &DevParams() const { return fsession->Values(); }
    const TLuStringList &RefreshParams() const { return refresh_params; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateLayout();
    void KeepOuterMinimum();
    QWidget *CreateFilterBar(QWidget *parent);
    void ActFindExecute();
    void CloseFilter();
    void ApplyFilter();
    QAction *AddAction(const QString &name, const char *caption, const char *hint,
                       const QList<QKeySequence> &keys, bool enabled, void (TVeltraConfigurator::*slot)());
    void ActDevReadCfgExecute();
    void ActDevWriteCfgExecute();
    void ActShowLogExecute();
    void ActDevShowInfoExecute();
    void ActDevUpdFirmwareExecute();
    void ActDevRebootExecute();
    void ActHelpExecute();
    void ActAboutExecute();
    void ActDevSimExecute();
    void ActExitExecute();
    void ActUndoExecute();
    void ExplainNoDevice();
    void ActRedoExecute();
    // Runs `change` and keeps it in the history as one step named `text`.
    void RecordEdits(const QString &text, const std::function<void()> &change, bool withValues = false);
    void ForgetHistoryOf(const QString &key);
    TValueStates ValueStates() const;
    void ApplyValueStates(const TValueStates &states);
    void ValueEdited(TParamNode *node, const QString &oldValue, bool wasChanged);
    void ParamsTreeChange();
    bool StartEditing(const QModelIndex &index);

    // The session's events.
    void DevicePresent(const TDeviceIdentity &id) override;
    void DeviceAbsent(bool forget) override;
    void IdentityUpdated(const TDeviceIdentity &id) override;
    void ConfigRead(const TLuHash &values) override;
    bool ValueRead(const QString &key, const QString &value) override;
    void ValueConfirmed(const QString &key, const QString &value) override;
    void WriteDone(const TWriteSummary &summary) override;
    void CloseRequested() override;
    void PasswordWanted() override;
    void Message(const QString &text) override;
    void Progress(int code, qint64 value, const QString &text) override;
    void PortDenied(const QString &path) override;
    bool GoOnWithoutBackup(const QString &error) override;
    void ShowPresence(bool present);
    bool RefusedValuesAccepted();
    void ActDevBackupsExecute();
    void ActDevCompareExecute();
    void LoadDifferences(const QList<TConfigDifference> &differences);
    void ClearTree();
    void Log(const QString &text) const;
    QString DefaultConfigName() const;
    QString AskFile(bool save, const QString &title, const QString &folder, const QString &name,
                    const QList<TFileFilter> &filters);

    const QString TAG = QStringLiteral("main");
    TLuHash params_conf;
    TLuStringList refresh_params;
    TCompanionWindows fcompanions;
    TParamsModel *fmodel = nullptr;
    TParamsFilter *ffilter = nullptr;
    QTreeView *fParamsTree = nullptr;
    QTextEdit *fParamDesc = nullptr;
    QWidget *fFilterBar = nullptr;
    QLineEdit *fFilterEdit = nullptr;
    QCheckBox *fFilterChanged = nullptr;
    QLineEdit *fDevName = nullptr;
    TLuLed *fDevLed = nullptr;
    QTimer *fRefreshTimer = nullptr;
    QString fFirmwareDir;
    QUndoStack *fundo = nullptr;
    QTimer *fNoDeviceTimer = nullptr;
    QPushButton *fNoDeviceHint = nullptr;
    QString fWhyNoDevice;
    TDialogQuestions fdialogs{this};
    TWindowQuestions *fquestions = &fdialogs;
    bool fPortAccessExplained = false; // the person is told once per run how to reach a refused port
    // Last: its events reach this window, and it is stopped first in the destructor, while everything
    // they touch is whole.
    std::unique_ptr<TVeltraSession> fsession;
};
