// The broker settings and the topics every station and the office agree on: the same with or without
// a broker link in the build.
#include "broker_link.h"

#include "LuFiles.h"
#include "LuUtils.h"

#include <QFile>
#include <QUrl>

bool ParseBrokerSettings(const TLuHash &settings, TBrokerSettings &broker, QString &error) {
    broker = {};
    const QString address = TrimText(settings.GetVal(QStringLiteral("broker")));
    const QUrl url(address);
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != u"mqtts" && url.scheme() != u"mqtt")) {
        error = QStringLiteral("broker=%1: give mqtts://HOST[:PORT] (TLS), or mqtt://HOST[:PORT] for plain text")
                    .arg(address);
        return false;
    }
    broker.tls = url.scheme() == u"mqtts";
    broker.host = url.host();
    broker.port = url.port(broker.tls ? 8883 : 1883);
    broker.user = TrimText(settings.GetVal(QStringLiteral("broker_user")));
    broker.password = settings.GetVal(QStringLiteral("broker_pass"));
    const QString passFile = TrimText(settings.GetVal(QStringLiteral("broker_pass_file")));
    if (!passFile.isEmpty()) {
        QFile file(passFile);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("broker_pass_file=%1 cannot be read").arg(passFile);
            return false;
        }
        broker.password = QString::fromUtf8(file.readAll()).section(u'\n', 0, 0).trimmed();
    }
    broker.ca = TrimText(settings.GetVal(QStringLiteral("broker_ca")));
    broker.cert = TrimText(settings.GetVal(QStringLiteral("broker_cert")));
    broker.key = TrimText(settings.GetVal(QStringLiteral("broker_key")));
    if (broker.cert.isEmpty() != broker.key.isEmpty()) {
        error = QStringLiteral("broker_cert and broker_key go together");
        return false;
    }
    for (const QString &file : {broker.ca, broker.cert, broker.key})
        if (!file.isEmpty() && !QFile::exists(file)) {
            error = QStringLiteral("no such file: ") + file;
            return false;
        }
    return true;
}

namespace BrokerTopics {
QString Level(QString name) {
    for (QChar &c : name)
        if (c == u'/' || c == u'+' || c == u'#')
            c = u'_';
    return name;
}
QString Presence(const QString &station) {
    return QStringLiteral("veltra/station/%1/presence").arg(station);
}
QString Slot(const QString &station, const QString &slot) {
    return QStringLiteral("veltra/station/%1/slot/%2").arg(station, slot);
}
QString Records(const QString &station) {
    return QStringLiteral("veltra/records/%1").arg(station);
}
QString StationJob(const QString &station, const QString &job) {
    return QStringLiteral("veltra/jobs/station/%1/%2").arg(station, job);
}
QString GroupJob(const QString &group, const QString &job) {
    return QStringLiteral("veltra/jobs/group/%1/%2").arg(group, job);
}
} // namespace BrokerTopics
