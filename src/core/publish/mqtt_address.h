// Where readings and records are published: mqtt://[USER@]HOST[:PORT][/PREFIX] or mqtts://... (TLS).
#pragma once

#include <QString>

#include <optional>

namespace kv {

struct MqttAddress {
    bool tls = false;
    QString user;  // empty: no login
    QString host;  // a name, an IPv4 address or an IPv6 address without its brackets
    int port = 1883;
    QString prefix = QStringLiteral("kestrovar");  // the topics' first levels, without slashes at the ends

    // The address for messages: never a password, since it holds none.
    QString shown() const;
};

// Reads an address; nullopt with *problem set when it is not one. A password in it is refused
// without being repeated: it belongs in KESTROVAR_MQTT_PASSWORD or a password file.
std::optional<MqttAddress> parseMqttAddress(const QString& text, QString* problem);

}  // namespace kv
