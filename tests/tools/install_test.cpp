// Tests of the installation as a package makes it: the build installed with DESTDIR into a folder of
// the test's own, its tree checked, and the installed veltra_cli run against the simulator with a
// home folder of the test's, so that its settings come through the chain an installed program has
// (the settings file in etc/, then the user's own in ~/.config/Veltra/).
#include "devsim_process.h"
#include "run_program.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QString Imei = QStringLiteral("356938035643809"); // the simulator's default identification

// What a symbolic link says, as written.
QString LinkText(const QString &path) {
    char text[4096];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), text, sizeof text);
    return size < 0 ? QString() : QFile::decodeName(QByteArray(text, int(size)));
}

QByteArray FileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The build is installed once for the cases of a process; each case gets its own home folder.
class InstalledTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        staging = new QTemporaryDir();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), staging->path());
        installRun = RunProgram(QStringLiteral(VELTRA_CMAKE),
                                {"--install", VELTRA_BUILD_DIR, "--prefix", "/usr"}, environment);
    }
    static void TearDownTestSuite() { delete staging; }

    void SetUp() override { ASSERT_EQ(installRun.exitCode, 0) << installRun.err.toStdString(); }

    static QString Root(const QString &path) { return staging->path() + path; }

    // Every file and link of the tree, relative to the root, sorted.
    static QStringList Entries() {
        QStringList entries;
        QDirIterator it(staging->path(), QDir::Files | QDir::System | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << it.next().mid(staging->path().size());
        entries.sort();
        return entries;
    }

    // The installed veltra_cli with this case's home folder: HOME for "~/", XDG_CONFIG_HOME for the logs.
    TProgramRun Cli(const QStringList &arguments) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
        return RunProgram(Root(QStringLiteral("/usr/bin/veltra_cli")), arguments, environment, 20000);
    }
    QString UserFile(const QString &name) const {
        return home.filePath(QStringLiteral(".config/Veltra/") + name);
    }
    void WriteUserFile(const QString &name, const QByteArray &text) const {
        QDir().mkpath(QFileInfo(UserFile(name)).path());
        QFile file(UserFile(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    static inline QTemporaryDir *staging = nullptr;
    static inline TProgramRun installRun;
    QTemporaryDir home;
};

} // namespace

// What is installed and nothing more (no tests, benchmarks or the screenshot tool).
TEST_F(InstalledTree, HoldsTheProgramsTheirFilesAndTheDesktopEntry) {
    QStringList expected{"/etc/veltra/veltra_cli.conf",
                         "/etc/veltra/veltra_configure.conf",
                         "/etc/veltra/veltra_fleet.conf",
                         "/etc/veltra/veltra_station.conf",
                         "/usr/bin/veltra_cli",
                         "/usr/bin/veltra_configure",
                         "/usr/bin/veltra_devsim",
                         "/usr/bin/veltra_fleet",
                         "/usr/bin/veltra_station",
                         "/usr/lib/veltra/devsim_default.cfg",
                         "/usr/lib/veltra/veltra_cli",
                         "/usr/lib/veltra/veltra_cli.conf",
                         "/usr/lib/veltra/veltra_configure",
                         "/usr/lib/veltra/veltra_configure.conf",
                         "/usr/lib/veltra/veltra_devsim",
                         "/usr/lib/veltra/veltra_fleet",
                         "/usr/lib/veltra/veltra_fleet.conf",
                         "/usr/lib/veltra/veltra_params.conf",
                         "/usr/lib/veltra/veltra_station",
                         "/usr/lib/veltra/veltra_station.conf",
                         "/usr/share/applications/veltra-configure.desktop",
                         "/usr/share/bash-completion/completions/veltra_cli",
                         "/usr/share/doc/veltra-configure/changelog.gz",
                         "/usr/share/doc/veltra-configure/copyright",
                         "/usr/share/icons/hicolor/scalable/apps/veltra-configure.svg",
                         "/usr/share/veltra/99-veltra-modemmanager.rules",
                         "/usr/share/veltra/broker/veltra-broker.conf",
                         "/usr/share/veltra/broker/veltra.acl",
                         "/usr/share/veltra/devsim_default.cfg",
                         "/usr/share/veltra/veltra_params.conf"};
    if (VELTRA_MAN_PAGES)
        expected << "/usr/share/man/man1/veltra_configure.1.gz"
                 << "/usr/share/man/man1/veltra_cli.1.gz"
                 << "/usr/share/man/man1/veltra_devsim.1.gz"
                 << "/usr/share/man/man1/veltra_station.1.gz"
                 << "/usr/share/man/man1/veltra_fleet.1.gz";
    expected.sort();
    EXPECT_EQ(Entries(), expected);

    for (const char *program : {"veltra_cli", "veltra_configure", "veltra_devsim", "veltra_station", "veltra_fleet"}) {
        const QFileInfo real(Root(QStringLiteral("/usr/lib/veltra/") + program));
        EXPECT_TRUE(real.isFile() && !real.isSymLink() && real.isExecutable()) << program;
        EXPECT_EQ(QFileInfo(Root(QStringLiteral("/usr/bin/") + program)).canonicalFilePath(),
                  real.canonicalFilePath())
            << program;
    }
    const QFileInfo svg(Root("/usr/share/icons/hicolor/scalable/apps/veltra-configure.svg"));
    EXPECT_TRUE(FileBytes(svg.filePath()).contains("<svg"));
    const TProgramRun validation = RunProgram(QStringLiteral("desktop-file-validate"),
                                              {Root("/usr/share/applications/veltra-configure.desktop")});
    EXPECT_EQ(validation.exitCode, 0) << validation.out.toStdString() << validation.err.toStdString();
}

// The programs' folder rules find each file beside the program; the links say where it really is,
// relative, so that the tree works under any root.
TEST_F(InstalledTree, LinksBesideTheProgramsLeadRelativelyToTheDataAndTheSettings) {
    const std::pair<const char *, const char *> links[] = {
        {"/usr/bin/veltra_cli", "../lib/veltra/veltra_cli"},
        {"/usr/lib/veltra/veltra_params.conf", "../../share/veltra/veltra_params.conf"},
        {"/usr/lib/veltra/devsim_default.cfg", "../../share/veltra/devsim_default.cfg"},
        {"/usr/lib/veltra/veltra_cli.conf", "../../../etc/veltra/veltra_cli.conf"},
        {"/usr/lib/veltra/veltra_configure.conf", "../../../etc/veltra/veltra_configure.conf"}};
    for (const auto &[link, target] : links) {
        EXPECT_EQ(LinkText(Root(link)), target) << link;
        EXPECT_TRUE(QFileInfo::exists(Root(link))) << link << " is dangling";
    }
    EXPECT_EQ(FileBytes(Root("/usr/lib/veltra/veltra_params.conf")),
              FileBytes(QStringLiteral(VELTRA_DATA_DIR "/veltra_params.conf")));
    for (const char *settings : {"veltra_cli.conf", "veltra_configure.conf", "veltra_station.conf", "veltra_fleet.conf"})
        EXPECT_TRUE(FileBytes(Root(QStringLiteral("/usr/lib/veltra/") + settings))
                        .contains("\nconf_dir=~/.config/Veltra/\n"))
            << settings;
}

TEST_F(InstalledTree, InstalledCliIdentifiesTheSimulatorWithTheSettingsFromEtc) {
    EXPECT_EQ(Cli({"--version"}).out, "veltra_cli " VELTRA_VERSION "\n");
    // The window's program answers in a terminal without a display.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        noDisplay.remove(QString::fromLatin1(variable));
    const QString configure = Root(QStringLiteral("/usr/bin/veltra_configure"));
    EXPECT_EQ(RunProgram(configure, {"--version"}, noDisplay).out, "veltra_configure " VELTRA_VERSION "\n");
    EXPECT_TRUE(RunProgram(configure, {"--help"}, noDisplay).out.contains("\n  lang=en|ru "));
    TDevSimProcess sim({});
    ASSERT_FALSE(sim.SlavePath().isEmpty());
    const TProgramRun info = Cli({"com_ports=1", "com1=" + sim.SlavePath(), "info"});
    EXPECT_EQ(info.exitCode, 0) << info.err.toStdString();
    EXPECT_TRUE(info.out.contains("imei: " + Imei)) << info.out.toStdString();
    // The start banner lists the settings: those of the file in etc/ among them.
    EXPECT_TRUE(
        FileBytes(UserFile(QStringLiteral("veltra_cli.log"))).contains("] conf_dir=~/.config/Veltra/\r\n"));
}

// The settings file in etc/ points conf_dir at ~/.config/Veltra/: the user's own settings and
// description are read from there.
TEST_F(InstalledTree, InstalledCliReadsTheUsersOwnSettingsAndDescription) {
    TDevSimProcess sim({});
    ASSERT_FALSE(sim.SlavePath().isEmpty());
    WriteUserFile(QStringLiteral("veltra_cli.conf"),
                  "com_ports=1\ncom1=" + sim.SlavePath().toLocal8Bit() + '\n');
    const TProgramRun info = Cli({"info"});
    EXPECT_EQ(info.exitCode, 0) << info.err.toStdString();
    EXPECT_TRUE(info.out.contains("imei: " + Imei)) << info.out.toStdString();

    const QString config = home.filePath(QStringLiteral("my.cfg"));
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("MY_OWN_KEY=5\n");
    file.close();
    EXPECT_EQ(Cli({"check", config}).exitCode, 6);
    WriteUserFile(QStringLiteral("veltra_params.conf"),
                  "MY_OWN_KEY = {\n  type = number\n  min = 0\n  max = 9\n}\n");
    const TProgramRun check = Cli({"check", config});
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
}
