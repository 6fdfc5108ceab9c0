// TVeltraConfigurator: the program's main window and its single point of control. It owns the command
// engine and the three configuration stores (the device's values, the parameter description, the
// refresh list), shows the parameter tree and the device's presence, and handles the engine's
// notifications: reading the configuration into the tree, writing the marked parameters and clearing
// each mark as the device confirms it, the password dialogue, progress and messages.
//
// Every question it asks (message boxes, file dialogs, the password) goes through a hook that tests
// answer; nothing here waits on a real modal box in a test.
#pragma once

#include "LuHash.h"
#include "LuStrings.h"
#include "notify.h"
#include "file_dialog.h"
#include "params_tree.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QLineEdit;
class QTextEdit;
class QTimer;
class QToolButton;
class QTreeView;
class TLuLed;
class TVeltraCommander;
class TVeltraConfigurator;
class TVeltraDevInfo;
class TVeltraMsgBox;
class TVirtualEditLink;
class TVeltraProgressInfo;

// The window's receiver of the engine's and the log window's notifications.
class TMainWindowReceiver : public TNotifyReceiver {
public:
    explicit TMainWindowReceiver(TVeltraConfigurator &window) : fwindow(window) {}
    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override;

private:
    TVeltraConfigurator &fwindow;
};

// The windows that live beside the main window for the whole run; any may be missing (tests).
struct TCompanionWindows {
    QWidget *logView = nullptr;
    TVeltraDevInfo *devInfo = nullptr;
    TVeltraProgressInfo *progress = nullptr;
    TVeltraMsgBox *msgBox = nullptr;
};

class TVeltraConfigurator : public QMainWindow {
    Q_OBJECT
public:
    explicit TVeltraConfigurator(QWidget *parent = nullptr);
    ~TVeltraConfigurator() override;

    // Set right after creation, by the program's start-up, as the windows come into being.
    void SetCompanions(const TCompanionWindows &companions) { fcompanions = companions; }

    // Answers the open and save dialogs: (save?, title, folder, proposed name, filter) -> chosen path,
    // empty when cancelled. A test sets it; the program leaves the real dialogs.
    using TFileDialog = std::function<QString(bool, const QString &, const QString &, const QString &,
                                              const QString &)>;
    static TFileDialog FileDialogHook;
    // Answers the password window: true with the password, false when cancelled.
    using TPasswordDialog = std::function<bool(QString &)>;
    static TPasswordDialog PasswordDialogHook;

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
    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text);
    // What a command result (MSG_DEV_CMD) does to the tree, the marks and the log, given the engine's
    // last command, its answer and the result value.
    void CmdAnswered(const QString &cmd, const QString &answer, qint64 value);
    void RefreshTick();

    // Configuration files.
    void SaveConfigFile();
    void LoadConfigFile();
    // What the two do once a file is chosen; false (and the user told) when the file was not written.
    bool SaveConfigTo(const QString &fileName);
    void LoadConfigFrom(const QString &fileName);
    // The comparison of the device's configuration with a file, in its dialog.
    void CompareWithFile(const QString &fileName);

    // For tests and the status strip.
    TVeltraCommander &Engine() const { return *comm; }
    TParamsModel &Model() const { return *fmodel; }
    QTreeView &ParamsTree() const { return *fParamsTree; }
    QString StatusText() const;
    QString DescriptionText() const;
    bool LedLit() const;
    QAction *Action(const QString &name) const;
    int RefreshPeriodMs() const;
    const TLuHash &DevParams() const { return dev_params; }
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
    void ParamsTreeChange();
    bool StartEditing(const QModelIndex &index);

    void DevCmdDone(qint64 value);
    void DevPresent(qint64 value);
    void DevInfo(qint64 value);
    void DevMessage(const QString &text);
    void DevPassword();
    void DevSendStr(const QString &text);
    void PortDenied(const QString &path);
    void ProgressCode(int code, qint64 value, const QString &text);
    void LogDeviceDetails();
    void ShowWriteSummary();
    bool RefusedValuesAccepted();
    bool BackupAccepted(const QString &reason);
    void ActDevBackupsExecute();
    void ActDevCompareExecute();
    void LoadDifferences(const QList<TConfigDifference> &differences);
    void ClearTree();
    void Log(const QString &text) const;
    QString DefaultConfigName() const;
    QString AskFile(bool save, const QString &title, const QString &folder, const QString &name,
                    const QList<TFileFilter> &filters);

    const QString TAG = QStringLiteral("main");
    TLuHash dev_params;
    TLuHash fDeviceReported; // what the device itself last reported or confirmed: the backups' source
    TLuHash params_conf;
    TLuStringList refresh_params;
    TCompanionWindows fcompanions;
    TParamsModel *fmodel = nullptr;
    QTreeView *fParamsTree = nullptr;
    QTextEdit *fParamDesc = nullptr;
    QWidget *fFilterBar = nullptr;
    QLineEdit *fFilterEdit = nullptr;
    QCheckBox *fFilterChanged = nullptr;
    QLineEdit *fDevName = nullptr;
    TLuLed *fDevLed = nullptr;
    QTimer *fRefreshTimer = nullptr;
    QString fFirmwareDir;
    struct TWriteTally {
        int written = 0;
        QStringList refused;
    } fWriteTally; // of the write batch under way
    bool fPortAccessExplained = false; // the person is told once per run how to reach a refused port
    TMainWindowReceiver freceiver{*this};
    // Last: the engine notifies freceiver and reads nothing else of the window, and it is stopped
    // first in the destructor, while everything its notifications touch is whole.
    std::unique_ptr<TVeltraCommander> comm;
};
