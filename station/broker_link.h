// The link to an MQTT broker that stations and the office share, on libmosquitto. Its network thread
// hands every event (connected, refused, a message, a delivery confirmed) to the main thread through
// a synchronous notification; publishing and subscribing are safe from the main thread at any time,
// the library queues them while the broker is away and reconnects by itself.
//
// Security by default: mqtts:// with the broker's certificate verified against broker_ca (or the
// system's authorities); mqtt:// only when named. The password comes from the settings or a file,
// never from a command line.
#pragma once

#include "LuHash.h"
#include "notify.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

struct TBrokerSettings {
    QString host;
    int port = 8883;
    bool tls = true;
    QString user, password;
    QString ca, cert, key; // files; ca empty: the system's authorities
    QString clientId;
    bool cleanSession = true;
};

// Reads broker=, broker_user=, broker_pass= (or broker_pass_file=), broker_ca=, broker_cert=,
// broker_key= from `settings`. False, with the reason, when the address is not one we speak.
bool ParseBrokerSettings(const TLuHash &settings, TBrokerSettings &broker, QString &error);

// The topics every station and the office agree on.
namespace BrokerTopics {
// A name as one level of a topic: no separators or wildcards.
QString Level(QString name);
QString Presence(const QString &station);                 // retained "online" / "offline" (last will)
QString Slot(const QString &station, const QString &slot); // retained slot state
QString Records(const QString &station);                  // QoS 1 audit records
QString StationJob(const QString &station, const QString &job);
QString GroupJob(const QString &group, const QString &job);
} // namespace BrokerTopics

class TBrokerLink : public TNotifyReceiver {
public:
    struct TEvents {
        std::function<void()> connected;
        // Not connected: why, for a person (refused password, certificate, unreachable).
        std::function<void(const QString &why)> lost;
        std::function<void(const QString &topic, const QByteArray &payload, bool retained)> message;
        std::function<void(int mid)> delivered;
        // A publish the broker refused (its access list): not delivered, never will be.
        std::function<void(int mid)> publishRefused;
        // A subscription the broker refused (its access list).
        std::function<void(const QString &topic)> refused;
    };

    TBrokerLink(const TBrokerSettings &settings, TEvents events);
    ~TBrokerLink() override;

    // Starts connecting; the last will publishes `willPayload` (retained) at `willTopic` when the link
    // dies without saying goodbye. False, with the reason, when the library refused the settings.
    bool Start(const QString &willTopic, const QByteArray &willPayload, QString &error);
    // Publishes the goodbye (retained, at `goodbyeTopic`) first when given, then disconnects and stops the thread.
    void Stop(const QString &goodbyeTopic = QString(), const QByteArray &goodbye = QByteArray());

    // The message id (>0) of a QoS 1 publish, to match its delivery; -1 when the library refused it.
    int Publish(const QString &topic, const QByteArray &payload, int qos, bool retain);
    void Subscribe(const QString &topic, int qos = 1);
    bool Connected() const { return fconnected; }
    QString LastError() const;

    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override;
    void HandleDetailed(quint32 msg, int code, qint64 value, const QString &text, const std::any &detail) override;

private:
    static void OnConnect(mosquitto *m, void *self, int rc);
    static void OnDisconnect(mosquitto *m, void *self, int rc);
    static void OnMessage(mosquitto *m, void *self, const mosquitto_message *message);
    static void OnPublish(mosquitto *m, void *self, int mid, int reason, const struct mqtt5__property *properties);
    static void OnSubscribe(mosquitto *m, void *self, int mid, int count, const int *granted);
    static void OnLog(mosquitto *m, void *self, int level, const char *text);

    const TBrokerSettings fsettings;
    const TEvents fevents;
    const quint32 fmessage;
    mosquitto *fmosq = nullptr;
    std::atomic<bool> fconnected{false};
    bool fstarted = false;
    bool fstopping = false;
    mutable std::mutex flock; // fsubscriptions and flastError, written on the library's thread
    QHash<int, QString> fsubscriptions; // by message id, until the broker answers
    QString flastError;
    std::unique_ptr<TWorkerThread> fthread; // last: it calls into everything above
};
