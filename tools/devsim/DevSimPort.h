// TDevSimPort: the simulator's end of the serial line, raw POSIX: the master of a new pseudo-terminal
// (whose slave the configurator opens) or a serial device given by path. Used by TDevSim only.
#pragma once

#include <QByteArray>
#include <QString>

class TDevSimPort {
public:
    TDevSimPort() = default;
    TDevSimPort(const TDevSimPort &) = delete;
    TDevSimPort &operator=(const TDevSimPort &) = delete;
    ~TDevSimPort() { Close(); }

    bool OpenPty(QString &error);
    bool OpenDevice(const QString &path, QString &error);
    // Closes the line end first, so that a client on the pseudo-terminal sees the hang-up.
    void Close();

    int Fd() const { return fFd; }
    // The path the other side opens: the pseudo-terminal's slave, or the given device.
    QString Path() const { return fPath; }

    // Appends whatever is waiting; false when the line is gone (end of file or a read error).
    bool Read(QByteArray &bytes);
    // Writes what the line takes now; -1 when the line is gone.
    qint64 Write(const QByteArray &bytes);

private:
    bool Fail(const QString &what, QString &error);

    int fFd = -1;
    int fHeldSlave = -1;
    QString fPath;
};
