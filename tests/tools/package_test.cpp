// The Debian package as cpack makes it from this build, into a folder of the test's own: its files,
// its control fields (the dependencies found by dpkg-shlibdeps from what the programs link), its
// conffiles and its stripped programs.
#include "run_program.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// cpack runs once for the cases of the suite.
class DebPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir();
        const TProgramRun cpack =
            RunProgram(QStringLiteral(VELTRA_CPACK),
                       {"--config", VELTRA_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", dir->path()},
                       QProcessEnvironment::systemEnvironment(), 240000);
        cpackOutput = cpack.out + cpack.err;
        const QStringList debs = QDir(dir->path()).entryList({"*.deb"}, QDir::Files);
        if (cpack.exitCode == 0 && debs.size() == 1)
            deb = dir->filePath(debs[0]);
    }
    static void TearDownTestSuite() { delete dir; }

    void SetUp() override { ASSERT_FALSE(deb.isEmpty()) << cpackOutput.toStdString(); }

    // dpkg-deb OPTION PACKAGE [ARGUMENTS]
    static QString DpkgDeb(const QString &option, const QStringList &arguments = {}) {
        const TProgramRun run = RunProgram(QStringLiteral("dpkg-deb"), QStringList{option, deb} + arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return run.out;
    }

    static inline QTemporaryDir *dir = nullptr;
    static inline QString cpackOutput;
    static inline QString deb;
};

} // namespace

TEST_F(DebPackage, HoldsTheInstalledTree) {
    const QString contents = DpkgDeb(QStringLiteral("-c"));
    QStringList files{"./usr/bin/veltra_configure -> ../lib/veltra/veltra_configure",
                      "./usr/lib/veltra/veltra_configure\n",
                      "./usr/lib/veltra/veltra_params.conf -> ../../share/veltra/veltra_params.conf",
                      "./usr/lib/veltra/veltra_cli.conf -> /etc/veltra/veltra_cli.conf",
                      "./usr/share/doc/veltra-configure/copyright\n",
                      "./usr/share/doc/veltra-configure/changelog.gz\n",
                      "./usr/share/applications/veltra-configure.desktop\n",
                      "./usr/share/icons/hicolor/scalable/apps/veltra-configure.svg\n",
                      "./etc/veltra/veltra_configure.conf\n",
                      "./etc/veltra/veltra_cli.conf\n",
                      "./usr/bin/veltra_station -> ../lib/veltra/veltra_station",
                      "./etc/veltra/veltra_station.conf\n"};
    if (VELTRA_MAN_PAGES)
        files << "./usr/share/man/man1/veltra_configure.1.gz\n"
              << "./usr/share/man/man1/veltra_cli.1.gz\n"
              << "./usr/share/man/man1/veltra_devsim.1.gz\n"
              << "./usr/share/man/man1/veltra_station.1.gz\n"
              << "./usr/share/man/man1/veltra_fleet.1.gz\n";
    for (const QString &file : files)
        EXPECT_TRUE(contents.contains(u' ' + file)) << file.toStdString() << " in:\n"
                                                    << contents.toStdString();
}

TEST_F(DebPackage, ControlNamesTheVersionTheLinkedLibrariesAndTheConffiles) {
    const QString architecture =
        RunProgram(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
    EXPECT_EQ(QFileInfo(deb).fileName(), "veltra-configure_" VELTRA_VERSION "_" + architecture + ".deb");
    EXPECT_EQ(DpkgDeb(QStringLiteral("-f"), {"Package", "Version"}),
              "Package: veltra-configure\nVersion: " VELTRA_VERSION "\n");
    const QString depends = DpkgDeb(QStringLiteral("-f"), {"Depends"});
    for (const char *library : {"libc6 ", "libqt6core6 ", "libqt6gui6 ", "libqt6widgets6 "})
        EXPECT_TRUE(depends.contains(QLatin1String(library))) << library << "in: " << depends.toStdString();

    const QString control = dir->filePath(QStringLiteral("control"));
    DpkgDeb(QStringLiteral("-e"), {control});
    QFile conffiles(control + QStringLiteral("/conffiles"));
    ASSERT_TRUE(conffiles.open(QIODevice::ReadOnly));
    EXPECT_EQ(conffiles.readAll(), "/etc/veltra/veltra_configure.conf\n/etc/veltra/veltra_cli.conf\n/etc/veltra/veltra_station.conf\n"
                                  "/etc/veltra/veltra_fleet.conf\n");
}

// The build keeps its debugging information; the package does not.
TEST_F(DebPackage, ProgramsAreStripped) {
    const QString root = dir->filePath(QStringLiteral("root"));
    DpkgDeb(QStringLiteral("-x"), {root});
    for (const char *program : {"veltra_configure", "veltra_cli", "veltra_devsim"}) {
        const TProgramRun file =
            RunProgram(QStringLiteral("file"), {"-b", root + "/usr/lib/veltra/" + program});
        EXPECT_TRUE(file.out.contains(QStringLiteral(", stripped")))
            << program << ": " << file.out.toStdString();
    }
}

// Debian's own checker of packages: policy, documents, links, manual pages. Not for a sanitizer
// build, which has no manual pages and is never packaged.
#if VELTRA_MAN_PAGES
TEST_F(DebPackage, LintianFindsNothing) {
    const TProgramRun lintian = RunProgram(QStringLiteral("lintian"), {"--tag-display-limit", "0", deb});
    EXPECT_EQ(lintian.exitCode, 0) << lintian.err.toStdString();
    EXPECT_EQ(lintian.out, QString());
}
#endif
