// The windows on a real X server (Xvfb) with a window manager (openbox), read back as the desktop shows
// them: the title each window gave the server (xprop) and the outer size the manager framed. The
// offscreen platform used elsewhere cannot show what Qt hands the platform. Without Xvfb or xprop the
// cases are skipped.
#include "common.h"
#include "file_dialog.h"
#include "sys_message_box.h"
#include "ui_test_util.h"
#include "veltra_about.h"
#include "veltra_configure_main.h"
#include "veltra_dev_info.h"
#include "veltra_log_view.h"
#include "veltra_look.h"
#include "veltra_msgbox.h"
#include "veltra_password.h"
#include "veltra_progress_info.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool HaveDisplay = false;
bool HaveWindowManager = false;

// The title the window's X11 window carries, as a window manager reads it (_NET_WM_NAME, UTF-8).
QString PlatformTitle(const QWidget &window) {
    QProcess xprop;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    xprop.setProcessEnvironment(env);
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()),
                                          QStringLiteral("-notype"), QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(5000))
        return QStringLiteral("<xprop did not answer>");
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const qsizetype first = out.indexOf(u'"');
    return first < 0 ? out : out.mid(first + 1, out.lastIndexOf(u'"') - first - 1);
}

// Shows the window and waits until the server has it (and the manager has framed it).
bool Exposed(QWidget &window) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window, 5000))
        return false;
    ServeFor(300);
    return true;
}

class WindowCaptions : public ::testing::Test {
protected:
    QTemporaryDir dir;

    void SetUp() override {
        if (!HaveDisplay)
            GTEST_SKIP() << "no Xvfb or xprop";
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->Clear();
        AppSettings->SetVal(QStringLiteral("com_ports"), QStringLiteral("9"));
        AppSettings->SetVal(QStringLiteral("com9"), QStringLiteral("/nonexistent/tty9"));
        ExeDir = ParentDir = AppDataDir = dir.path() + u'/';
        for (QString *log : {&MainLogFile, &CmdLogFile, &ComLogFile, &DbgLogFile})
            *log = dir.filePath(QString::number(quintptr(log)) + QStringLiteral(".log"));
    }
    void ExpectTitle(QWidget &window, const QString &caption) {
        ASSERT_TRUE(Exposed(window)) << caption.toStdString();
        EXPECT_EQ(window.windowTitle(), caption);
        EXPECT_EQ(PlatformTitle(window), caption);
        window.hide();
    }
};

} // namespace

// Every window's title bar reads exactly its caption, nothing appended.
TEST_F(WindowCaptions, EveryWindowShowsExactlyItsCaption) {
    TVeltraConfigurator window;
    ExpectTitle(window, QStringLiteral("VELTRA - Конфигуратор"));
    TVeltraLogView logView;
    ExpectTitle(logView, QStringLiteral("VELTRA - Журнал"));
    TVeltraMsgBox msgBox;
    ExpectTitle(msgBox, QStringLiteral("VELTRA - Сообщение"));
    TVeltraPassword password;
    ExpectTitle(password, QStringLiteral("VELTRA - Пароль"));
    TVeltraDevInfo devInfo;
    ExpectTitle(devInfo, QStringLiteral("VELTRA - Информация об устройстве"));
    TVeltraAbout about;
    ExpectTitle(about, QStringLiteral("VELTRA - О программе"));
    TVeltraProgressInfo progress;
    ExpectTitle(progress, QStringLiteral("VELTRA - Информация"));
    const auto question = NewSysMessageBox(QStringLiteral("Конфигуратор"), QStringLiteral("Записать?"),
                                           MB_YESNO | MB_ICONWARNING, nullptr);
    ExpectTitle(*question, QStringLiteral("Конфигуратор"));
    const auto save = NewFileDialog(nullptr, true, QStringLiteral("Сохранение конфигурации"), dir.path(),
                                    {{QStringLiteral("Все файлы"), QStringLiteral("*")}}, QStringLiteral("cfg"));
    ExpectTitle(*save, QStringLiteral("Сохранение конфигурации"));
}

// The main window may not shrink below 400 by 400 with the frame the window manager gave it.
TEST_F(WindowCaptions, TheMainWindowsSmallestOuterSizeIs400By400) {
    if (!HaveWindowManager)
        GTEST_SKIP() << "no openbox";
    TVeltraConfigurator window;
    ASSERT_TRUE(Exposed(window));
    ASSERT_FALSE((window.frameGeometry().size() - window.size()).isNull()) << "the window has no frame";
    window.resize(100, 100);
    ASSERT_TRUE(WaitUntil([&] { return window.frameGeometry().size() == QSize(400, 400); }, 5000))
        << window.frameGeometry().width() << "x" << window.frameGeometry().height();
}

namespace {

// A child process, ended with the test program. Started before any application object exists.
class TChild {
public:
    // `outFd` >= 0: the child's descriptor 1 is a pipe whose reading end it returns there.
    bool Start(std::vector<std::string> command, int *outFd = nullptr) {
        int pipeFds[2] = {-1, -1};
        if (outFd && ::pipe(pipeFds) != 0)
            return false;
        fpid = ::fork();
        if (fpid == 0) {
            if (outFd) {
                ::dup2(pipeFds[1], 1);
                ::close(pipeFds[0]);
            }
            std::vector<char *> argv;
            for (std::string &word : command)
                argv.push_back(word.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        if (outFd) {
            ::close(pipeFds[1]);
            *outFd = pipeFds[0];
        }
        return fpid > 0;
    }
    ~TChild() {
        if (fpid <= 0)
            return;
        ::kill(fpid, SIGTERM);
        ::waitpid(fpid, nullptr, 0);
    }

private:
    pid_t fpid = -1;
};

bool OnPath(const char *program) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

// Xvfb picks a free display and writes its number to the descriptor it is given.
bool StartXvfb(TChild &xvfb) {
    int out = -1;
    if (!OnPath("Xvfb") || !OnPath("xprop") ||
        !xvfb.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, &out))
        return false;
    std::string number;
    char c;
    while (::read(out, &c, 1) == 1 && c != '\n')
        number += c;
    ::close(out);
    if (number.empty())
        return false;
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    TChild xvfb, openbox;
    HaveDisplay = StartXvfb(xvfb);
    ::setenv("QT_QPA_PLATFORM", HaveDisplay ? "xcb" : "offscreen", 1);
    HaveWindowManager = HaveDisplay && OnPath("openbox") && openbox.Start({"openbox", "--sm-disable"});
    if (HaveWindowManager)
        ::usleep(500000); // the manager takes the screen before the first window is mapped
    int result = 0;
    {
        QApplication app(argc, argv);
        SetUpProgramWindows(app.devicePixelRatio());
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
