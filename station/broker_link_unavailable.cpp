// The broker link where libmosquitto is not part of the build (Windows): every start fails with the
// reason, so that a station given broker= says why and works no job rather than one it did not get.
#include "broker_link.h"

TBrokerLink::TBrokerLink(const TBrokerSettings &settings, TEvents events)
    : fsettings(settings), fevents(std::move(events)), fmessage(0) {}

TBrokerLink::~TBrokerLink() = default;

bool TBrokerLink::Start(const QString &, const QByteArray &, QString &error) {
    error = QStringLiteral("this build has no MQTT broker link (it is part of the Linux build only)");
    std::lock_guard guard(flock);
    flastError = error;
    return false;
}

void TBrokerLink::Stop(const QString &, const QByteArray &) {}

int TBrokerLink::Publish(const QString &, const QByteArray &, int, bool) {
    return -1;
}

void TBrokerLink::Subscribe(const QString &, int) {}

QString TBrokerLink::LastError() const {
    std::lock_guard guard(flock);
    return flastError;
}

void TBrokerLink::HandleNotification(quint32, int, qint64, const QString &) {}

void TBrokerLink::HandleDetailed(quint32, int, qint64, const QString &, const std::any &) {}
