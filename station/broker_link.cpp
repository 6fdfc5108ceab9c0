#include "broker_link.h"

#include "LuUtils.h"

#include <mosquitto.h>
#include <cstdlib>

namespace {

constexpr int KeepAliveSeconds = 30;
constexpr int LoopMs = 100;

enum : int { BrokerConnected = 1, BrokerLost, BrokerMessage, BrokerDelivered, BrokerRefused, BrokerSubscribed };

struct TIncoming {
    QString topic;
    QByteArray payload;
    bool retained = false;
};

// libmosquitto's global state (OpenSSL's among it), set up once for the process and given back at
// its end.
void InitLibrary() {
    static const int once = [] {
        const int rc = mosquitto_lib_init();
        std::atexit([] { mosquitto_lib_cleanup(); });
        return rc;
    }();
    (void)once;
}

QString ConnackText(int rc) {
    switch (rc) {
    case 1: return QStringLiteral("the broker does not speak this protocol version");
    case 2: return QStringLiteral("the broker refused the client id");
    case 3: return QStringLiteral("the broker is unavailable");
    case 4: return QStringLiteral("the broker refused the user name or password");
    case 5: return QStringLiteral("the broker refused this user (not authorised)");
    case 134: return QStringLiteral("the broker refused the user name or password");
    case 135: return QStringLiteral("the broker refused this user (not authorised)");
    default: return QStringLiteral("the broker refused the connection (%1)").arg(rc);
    }
}

// The library's own loop, on a thread of ours so that the main thread can join it while serving
// the notifications it sends (JoinServing).
class TLoopThread : public TWorkerThread {
public:
    explicit TLoopThread(mosquitto *m) : fmosq(m) {}

protected:
    void Execute() override {
        int backoffMs = 0;
        while (!isInterruptionRequested()) {
            if (backoffMs > 0) {
                for (int waited = 0; waited < backoffMs && !isInterruptionRequested(); waited += LoopMs)
                    msleep(LoopMs);
                if (isInterruptionRequested())
                    break;
                if (mosquitto_reconnect(fmosq) != MOSQ_ERR_SUCCESS) {
                    backoffMs = std::min(backoffMs * 2, 10000);
                    continue;
                }
            }
            const int rc = mosquitto_loop(fmosq, LoopMs, 1);
            backoffMs = rc == MOSQ_ERR_SUCCESS ? 0 : std::max(backoffMs, 500);
        }
    }

private:
    mosquitto *fmosq;
};

} // namespace

TBrokerLink::TBrokerLink(const TBrokerSettings &settings, TEvents events)
    : fsettings(settings), fevents(std::move(events)),
      fmessage(RegisterMessageName(QStringLiteral("Veltra Broker Message"))) {
    InitLibrary();
}

TBrokerLink::~TBrokerLink() {
    Stop();
}

bool TBrokerLink::Start(const QString &willTopic, const QByteArray &willPayload, QString &error) {
    const QByteArray id = fsettings.clientId.toUtf8();
    fmosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), fsettings.cleanSession, this);
    if (!fmosq) {
        error = QStringLiteral("the MQTT library could not make a client");
        return false;
    }
    mosquitto_threaded_set(fmosq, true);
    // MQTT 5 lets the broker say when its access list refuses a publish (3.1.1 has no words for it and
    // drops the line). A kept session stays on 3.1.1, where it lives on after the disconnection
    // without the session-expiry property the library's reconnection could not carry.
    if (fsettings.cleanSession)
        mosquitto_int_option(fmosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_callback_set(fmosq, &TBrokerLink::OnConnect);
    mosquitto_disconnect_callback_set(fmosq, &TBrokerLink::OnDisconnect);
    mosquitto_message_callback_set(fmosq, &TBrokerLink::OnMessage);
    mosquitto_publish_v5_callback_set(fmosq, &TBrokerLink::OnPublish);
    mosquitto_subscribe_callback_set(fmosq, &TBrokerLink::OnSubscribe);
    mosquitto_log_callback_set(fmosq, &TBrokerLink::OnLog);
    // Every QoS 1 message kept until the broker has it, however long it is away.
    mosquitto_max_inflight_messages_set(fmosq, 0);
    const QByteArray user = fsettings.user.toUtf8(), password = fsettings.password.toUtf8();
    if (!user.isEmpty())
        mosquitto_username_pw_set(fmosq, user.constData(), password.isEmpty() ? nullptr : password.constData());
    if (fsettings.tls) {
        const QByteArray ca = fsettings.ca.toLocal8Bit(), cert = fsettings.cert.toLocal8Bit(),
                         key = fsettings.key.toLocal8Bit();
        const int rc = mosquitto_tls_set(fmosq, ca.isEmpty() ? nullptr : ca.constData(),
                                         ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = QStringLiteral("TLS settings refused: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
        mosquitto_tls_opts_set(fmosq, 1, "tlsv1.2", nullptr); // 1: the broker's certificate is verified
    }
    if (!willTopic.isEmpty()) {
        const QByteArray topic = willTopic.toUtf8();
        mosquitto_will_set(fmosq, topic.constData(), int(willPayload.size()), willPayload.constData(), 1, true);
    }
    const QByteArray host = fsettings.host.toUtf8();
    const int rc = mosquitto_connect_async(fmosq, host.constData(), fsettings.port, KeepAliveSeconds);
    // A broker that is not up yet is tried again by the loop; a handshake that fails at once says why
    // in the library's log (the certificate, most often).
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO) {
        const QString why = LastError();
        error = QStringLiteral("cannot connect to %1:%2: %3")
                    .arg(fsettings.host)
                    .arg(fsettings.port)
                    .arg(why.isEmpty() ? QString::fromUtf8(mosquitto_strerror(rc)) : why);
        return false;
    }
    fthread = std::make_unique<TLoopThread>(fmosq);
    fthread->start();
    fstarted = true;
    return true;
}

void TBrokerLink::Stop(const QString &goodbyeTopic, const QByteArray &goodbye) {
    if (!fmosq)
        return;
    if (fstarted && fconnected && !goodbyeTopic.isEmpty()) {
        Publish(goodbyeTopic, goodbye, 1, true);
        // A moment for the goodbye to leave before the line closes.
        ServeNotificationsFor(200);
    }
    fstopping = true; // the goodbye's disconnection is no loss to report
    // MQTT 5 can ask the broker to publish the last will all the same ("offline", whatever of the
    // goodbye is still queued).
    if (fstarted && fsettings.cleanSession && !goodbyeTopic.isEmpty())
        mosquitto_disconnect_v5(fmosq, 0x04, nullptr);
    else if (fstarted)
        mosquitto_disconnect(fmosq);
    if (fthread) {
        fthread->requestInterruption();
        JoinServing(fthread.get());
        fthread.reset();
    }
    mosquitto_destroy(fmosq);
    fmosq = nullptr;
    fstarted = false;
    fconnected = false;
    fstopping = false;
}

int TBrokerLink::Publish(const QString &topic, const QByteArray &payload, int qos, bool retain) {
    if (!fmosq)
        return -1;
    int mid = 0;
    const QByteArray t = topic.toUtf8();
    const int rc = mosquitto_publish(fmosq, &mid, t.constData(), int(payload.size()), payload.constData(), qos, retain);
    // Not connected: the library keeps a QoS 1 message and sends it once the broker is back.
    return rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN ? mid : -1;
}

void TBrokerLink::Subscribe(const QString &topic, int qos) {
    if (!fmosq)
        return;
    int mid = 0;
    const QByteArray t = topic.toUtf8();
    if (mosquitto_subscribe(fmosq, &mid, t.constData(), qos) == MOSQ_ERR_SUCCESS) {
        std::lock_guard guard(flock);
        fsubscriptions.insert(mid, topic);
    }
}

QString TBrokerLink::LastError() const {
    std::lock_guard guard(flock);
    return flastError;
}

void TBrokerLink::OnConnect(mosquitto *, void *self, int rc) {
    auto *link = static_cast<TBrokerLink *>(self);
    if (rc == 0) {
        link->fconnected = true;
        SendNotification(link, link->fmessage, BrokerConnected, 0);
        return;
    }
    {
        std::lock_guard guard(link->flock);
        link->flastError = ConnackText(rc);
    }
    SendNotification(link, link->fmessage, BrokerLost, rc, ConnackText(rc));
}

void TBrokerLink::OnDisconnect(mosquitto *, void *self, int rc) {
    auto *link = static_cast<TBrokerLink *>(self);
    const bool was = link->fconnected.exchange(false);
    if (was || rc != 0)
        SendNotification(link, link->fmessage, BrokerLost, rc, link->LastError());
}

void TBrokerLink::OnMessage(mosquitto *, void *self, const mosquitto_message *m) {
    auto *link = static_cast<TBrokerLink *>(self);
    const TIncoming incoming{QString::fromUtf8(m->topic),
                             QByteArray(static_cast<const char *>(m->payload), m->payloadlen), m->retain};
    SendNotification(link, link->fmessage, BrokerMessage, 0, QString(), std::any(incoming));
}

void TBrokerLink::OnPublish(mosquitto *, void *self, int mid, int reason, const mqtt5__property *) {
    auto *link = static_cast<TBrokerLink *>(self);
    // 0x80 and above: refused (0x87 not authorised); 0x10: accepted, no one subscribed yet.
    SendNotification(link, link->fmessage, reason >= 0x80 ? BrokerRefused : BrokerDelivered, mid);
}

void TBrokerLink::OnSubscribe(mosquitto *, void *self, int mid, int count, const int *granted) {
    auto *link = static_cast<TBrokerLink *>(self);
    QString topic;
    {
        std::lock_guard guard(link->flock);
        topic = link->fsubscriptions.take(mid);
    }
    // 0x80 and above: the broker's access list refuses the subscription.
    const bool refused = count > 0 && granted[0] >= 0x80;
    SendNotification(link, link->fmessage, BrokerSubscribed, refused ? 0 : 1, topic);
}

// The library says why a TLS connection failed only in its log.
void TBrokerLink::OnLog(mosquitto *, void *self, int level, const char *text) {
    if (level != MOSQ_LOG_ERR && level != MOSQ_LOG_WARNING)
        return;
    auto *link = static_cast<TBrokerLink *>(self);
    const QString line = QString::fromUtf8(text);
    std::lock_guard guard(link->flock);
    if (line.contains(QStringLiteral("certificate verify failed")))
        link->flastError = QStringLiteral("the broker's certificate is not signed by broker_ca (verification failed)");
    else if (line.contains(QStringLiteral("OpenSSL Error")) && link->flastError.isEmpty())
        link->flastError = QStringLiteral("TLS failed: ") + line;
}

void TBrokerLink::HandleNotification(quint32 msg, int code, qint64 value, const QString &text) {
    HandleDetailed(msg, code, value, text, std::any());
}

void TBrokerLink::HandleDetailed(quint32 msg, int code, qint64 value, const QString &text, const std::any &detail) {
    if (msg != fmessage)
        return;
    switch (code) {
    case BrokerConnected:
        {
            std::lock_guard guard(flock);
            flastError.clear();
        }
        if (fevents.connected)
            fevents.connected();
        break;
    case BrokerLost:
        if (fevents.lost && !fstopping)
            fevents.lost(text.isEmpty() ? QStringLiteral("the broker cannot be reached") : text);
        break;
    case BrokerMessage:
        if (const auto *in = std::any_cast<TIncoming>(&detail); in && fevents.message)
            fevents.message(in->topic, in->payload, in->retained);
        break;
    case BrokerDelivered:
        if (fevents.delivered)
            fevents.delivered(int(value));
        break;
    case BrokerRefused:
        if (fevents.publishRefused)
            fevents.publishRefused(int(value));
        break;
    case BrokerSubscribed:
        if (value == 0 && fevents.refused)
            fevents.refused(text);
        break;
    default:
        break;
    }
}
