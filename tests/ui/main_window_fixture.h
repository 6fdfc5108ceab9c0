// The main window against the device simulator on a pseudo-terminal, for the tests of the window and
// of its language: settings and folders of a temporary start-up, questions answered through the hooks.
#pragma once

#include "LuFiles.h"
#include "LuLed.h"
#include "LuTtyBox.h"
#include "common.h"
#include "config_backups.h"
#include "devsim_process.h"
#include "sys_message_box.h"
#include "ui_test_util.h"
#include "veltra_backups.h"
#include "veltra_commander.h"
#include "veltra_compare.h"
#include "veltra_configure_main.h"
#include "veltra_log_view.h"
#include "veltra_msgbox.h"
#include "veltra_progress_info.h"

#include <QAction>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <memory>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

const QString DefaultConfig = QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg");

// The description of the worked example, and one over the simulator's own parameters.
const char *const WorkedExample = R"(__GROUPS = grp_link, grp_mode
grp_link = {
  name = Link
  desc = Server connection
  params = PAR_ADDR, PAR_PORT
}
grp_mode = {
  name = Mode
  params = PAR_MODE PAR_FLAGS PAR_PERIOD
}
PAR_ADDR = {
  name = Server address
  type = ip
}
PAR_PORT = {
  name = Server port
  type = int
  min = 1
  max = 65535
}
PAR_MODE = {
  name = Mode
  type = lookup
  values = off|on|auto
  refresh = yes
}
PAR_FLAGS = {
  name = Flags
  type = check
  count = 3
  values = first,second,third
}
PAR_PERIOD = {
  name = Period
  type = duration
}
PAR_NOTE = {
  name = Note
  type = string
  max_len = 16
}
)";

const char *const SimDescription = R"(__GROUPS = grp_srv
grp_srv = {
  name = Сервер
  params = SRV_ADDR SRV_PORT SRV2_ADDR
}
SRV_ADDR = {
  name = Адрес
  desc = Адрес сервера
}
SRV_PORT = {
  name = Порт
  type = int
}
SRV2_ADDR = {
  name = Резервный адрес
}
GSM_SIGNAL = {
  name = Сигнал
  refresh = yes
}
NO_SUCH_PARAM = {
  name = Нет в трекере
}
)";

// The person at the window, as a test plays them: each question answered by a function.
struct TTestQuestions : TWindowQuestions {
    std::function<int(const QString &text)> confirm;
    std::function<QString(bool save, const QString &title, const QString &folder, const QString &name,
                          const QList<TFileFilter> &filters)>
        file;
    std::function<bool(QString &password)> password;

    int Confirm(const QString &, const QString &text, int) override { return confirm ? confirm(text) : IDNO; }
    QString ChooseFile(bool save, const QString &title, const QString &folder, const QString &name,
                       const QList<TFileFilter> &filters) override {
        return file ? file(save, title, folder, name, filters) : QString();
    }
    bool AskPassword(QString &answer) override { return password && password(answer); }
};

class MainWindowTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TTestQuestions person;
    std::unique_ptr<TDevSimProcess> sim;
    std::unique_ptr<TVeltraConfigurator> window;
    TVeltraMsgBox msgBox;
    TVeltraProgressInfo progress;
    QStringList questions; // the texts SysMessageBox was asked
    int answer = IDNO;

    void SetUp() override {
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->Clear();
        LogLevel = 6;
        AppMessage = RegisterMessageName(QStringLiteral("main-window-test"));
        ProgressMessage = RegisterMessageName(QStringLiteral("Veltra Progress Message"));
        LogTailNotifyMessage = RegisterMessageName(QStringLiteral("TLuLogTailNotifyMessage"));
        ExeDir = dir.filePath(QStringLiteral("bin/"));
        ParentDir = dir.path() + u'/';
        AppDataDir = dir.filePath(QStringLiteral("appdata/"));
        QDir().mkpath(ExeDir);
        AppSettings->SetVal(QStringLiteral("conf_dir"), ExeDir);
        MainLogFile = dir.filePath(QStringLiteral("main.log"));
        CmdLogFile = dir.filePath(QStringLiteral("cmd.log"));
        DbgLogFile = dir.filePath(QStringLiteral("dbg.log"));
        ComLogFile = dir.filePath(QStringLiteral("com.log"));
        person.confirm = [this](const QString &text) {
            questions << text;
            return answer;
        };
    }
    void TearDown() override {
        window.reset();
    }
    void Describe(const QByteArray &description) {
        QFile file(ExeDir + QStringLiteral("veltra_params.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(description);
    }
    // The window on port 9, with the simulator there when `simArgs` are given.
    void Open(const QStringList &simArgs = {}, bool withSim = true) {
        AppSettings->SetVal(QStringLiteral("com_ports"), QStringLiteral("9"));
        if (withSim) {
            sim = std::make_unique<TDevSimProcess>(QStringList{"--config", DefaultConfig} + simArgs);
            AppSettings->SetVal(QStringLiteral("com9"), sim->SlavePath());
        } else {
            AppSettings->SetVal(QStringLiteral("com9"), QStringLiteral("/nonexistent/tty9"));
        }
        window = std::make_unique<TVeltraConfigurator>();
        MainWindowHandle = &window->Session();
        window->SetQuestions(&person);
        window->SetCompanions({nullptr, nullptr, &progress, &msgBox});
        ShowWindow(*window);
    }
    bool WaitRead(int timeoutMs = 10000) {
        return WaitUntil([&] { return MainLog().contains("Device config readed") && Idle(); }, timeoutMs);
    }
    bool Idle() const { return window->Engine().CmdQuLen() == 0 && !window->Engine().RunningCommand(); }
    QString MainLog() const { return ReadTextFile(MainLogFile, 0); }
    // The tree as "name=value" rows, one level indented, with the mark as "*".
    QString TreeText() const {
        QString text;
        window->Model().ForEachNode([&](TParamNode &node) {
            const QModelIndex index = window->Model().IndexOf(&node);
            text += (node.parent ? QStringLiteral("  ") : QString()) + index.data().toString() +
                    (node.data.is_group ? QString() : u'=' + node.data.value) +
                    (node.data.changed ? "*" : "") + u'\n';
        });
        return text;
    }
    void Edit(const QString &key, const QString &value) {
        TParamNode *node = window->FindParamNode(key);
        ASSERT_NE(node, nullptr) << key.toStdString();
        window->ParamEdited(node, 1, value, value != node->data.value);
    }
};

// Root opens any file whatever its permission bits; without these two capabilities the bits hold for
// root too. Only this thread and the threads it starts from now on (the engine's) lose them.
class TPermissionBitsHold {
public:
    TPermissionBitsHold() {
        if (syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        held = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~TPermissionBitsHold() {
        if (held)
            syscall(SYS_capset, &header, saved);
    }
    bool Held() const { return held; }

private:
    bool held = false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2] = {};
};

