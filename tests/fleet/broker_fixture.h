// A Mosquitto broker of a test's (or a benchmark's) own on 127.0.0.1 and a free port: a CA and the
// broker's certificate made with openssl, a password per user, the access list the package ships,
// persistence in the folder given.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

const QString AclFile = QStringLiteral(VELTRA_SOURCE_DIR "/packaging/broker/veltra.acl");

inline bool WaitFor(const std::function<bool()> &done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline bool Run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A broker of the test's own: a CA, the broker's certificate for 127.0.0.1, a password per user.
class TBroker {
public:
    explicit TBroker(const QString &folder) : fdir(folder), fport(FreePort()), fcertPort(FreePort()) {
        const auto path = [&](const char *name) { return QDir(fdir).filePath(QString::fromLatin1(name)); };
        const QString openssl = QStringLiteral("openssl");
        ready = Run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out",
                              path("ca.crt"), "-days", "2", "-subj", "/CN=Veltra test CA"}) &&
                Run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("other-ca.key"), "-out",
                              path("other-ca.crt"), "-days", "2", "-subj", "/CN=Another CA"}) &&
                Run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("broker.key"), "-out",
                              path("broker.csr"), "-subj", "/CN=127.0.0.1"});
        QFile ext(path("ext.cnf"));
        ready = ready && ext.open(QIODevice::WriteOnly) && ext.write("subjectAltName=IP:127.0.0.1\n") > 0;
        ext.close();
        ready = ready && Run(openssl, {"x509", "-req", "-in", path("broker.csr"), "-CA", path("ca.crt"), "-CAkey",
                                       path("ca.key"), "-CAcreateserial", "-out", path("broker.crt"), "-days", "2",
                                       "-extfile", path("ext.cnf")});
        // bench-2's client certificate: its name is its user name on the second listener.
        ready = ready &&
                Run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("bench-2.key"), "-out",
                              path("bench-2.csr"), "-subj", "/CN=bench-2"}) &&
                Run(openssl, {"x509", "-req", "-in", path("bench-2.csr"), "-CA", path("ca.crt"), "-CAkey", path("ca.key"),
                              "-CAcreateserial", "-out", path("bench-2.crt"), "-days", "2"});
        QFile(path("passwd")).open(QIODevice::WriteOnly);
        for (const auto &[user, password] : Users)
            ready = ready && Run("mosquitto_passwd", {"-b", path("passwd"), user, password});
        QDir().mkpath(path("data"));
        QFile conf(path("broker.conf"));
        ready = ready && conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("per_listener_settings false\nallow_anonymous false\npassword_file %1\nacl_file %2\n"
                                  "listener %3 127.0.0.1\ncafile %4\ncertfile %5\nkeyfile %6\ntls_version tlsv1.2\n"
                                  "persistence true\npersistence_location %7/\nmax_queued_messages 0\n%8"
                                  "listener %9 127.0.0.1\ncafile %4\ncertfile %5\nkeyfile %6\n"
                                  "require_certificate true\nuse_identity_as_username true\n")
                       .arg(path("passwd"), AclFile)
                       .arg(fport)
                       .arg(path("ca.crt"), path("broker.crt"), path("broker.key"), path("data"),
                            ::geteuid() == 0 ? QStringLiteral("user root\n") : QString())
                       .arg(fcertPort)
                       .toUtf8());
        conf.close();
        for (const auto &[user, password] : Users) {
            QFile file(path(qPrintable(QStringLiteral("%1.pw").arg(user))));
            file.open(QIODevice::WriteOnly);
            file.write(QByteArray(password) + '\n');
        }
    }
    ~TBroker() { Stop(); }

    bool Start() {
        fprocess = std::make_unique<QProcess>();
        fprocess->setProcessChannelMode(QProcess::MergedChannels);
        fprocess->start(QStringLiteral("mosquitto"), {"-c", QDir(fdir).filePath("broker.conf")});
        return fprocess->waitForStarted(5000) &&
               WaitFor([&] { return LogHas("running"); }, 5000);
    }
    void Stop() {
        if (!fprocess)
            return;
        fprocess->terminate();
        fprocess->waitForFinished(5000);
        flog += fprocess->readAll();
        fprocess.reset();
    }
    bool LogHas(const char *text) {
        if (fprocess)
            flog += fprocess->readAll();
        return flog.contains(text);
    }
    QString Log() const { return QString::fromUtf8(flog); }
    QString Url() const { return QStringLiteral("mqtts://127.0.0.1:%1").arg(fport); }
    QString File(const QString &name) const { return QDir(fdir).filePath(name); }
    // A client certificate instead of a password, on the listener that asks for one.
    QStringList WithCertificate(const QString &user) const {
        return {QStringLiteral("broker=mqtts://127.0.0.1:%1").arg(fcertPort), "broker_cert=" + File(user + ".crt"),
                "broker_key=" + File(user + ".key"), "broker_ca=" + File("ca.crt")};
    }
    QStringList As(const QString &user, const QString &ca = QStringLiteral("ca.crt")) const {
        return {"broker=" + Url(), "broker_user=" + user, "broker_pass_file=" + File(user + ".pw"),
                "broker_ca=" + File(ca)};
    }

    bool ready = false;
    static constexpr std::pair<const char *, const char *> Users[] = {
        {"office", "office-secret"}, {"bench-1", "bench-1-secret"}, {"bench-2", "bench-2-secret"}};

private:
    QString fdir;
    int fport, fcertPort;
    QByteArray flog;
    std::unique_ptr<QProcess> fprocess;
};

