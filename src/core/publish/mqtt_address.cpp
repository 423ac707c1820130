#include "core/publish/mqtt_address.h"

#include <QStringList>

namespace kv {

QString MqttAddress::shown() const {
    const QString h = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2%3:%4/%5")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), user.isEmpty() ? QString() : user + u'@',
             h)
        .arg(port)
        .arg(prefix);
}

std::optional<MqttAddress> parseMqttAddress(const QString& text, QString* problem) {
    MqttAddress address;
    QString rest;
    if (text.startsWith(QStringLiteral("mqtt://"))) {
        rest = text.mid(7);
    } else if (text.startsWith(QStringLiteral("mqtts://"))) {
        address.tls = true;
        address.port = 8883;
        rest = text.mid(8);
    } else {
        *problem = QStringLiteral("the broker's address starts with mqtt:// or mqtts://");
        return std::nullopt;
    }
    const qsizetype slash = rest.indexOf(u'/');
    QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash + 1);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        address.user = authority.left(at);
        authority = authority.mid(at + 1);
        if (address.user.contains(u':')) {
            *problem = QStringLiteral(
                "the broker's address holds a password; give it in KESTROVAR_MQTT_PASSWORD "
                "or --mqtt-password-file instead");
            return std::nullopt;
        }
        if (address.user.isEmpty()) {
            *problem = QStringLiteral("the broker's address has an empty user name before \"@\"");
            return std::nullopt;
        }
    }
    QString portText;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0) {
            *problem = QStringLiteral("the broker's IPv6 address has no closing \"]\"");
            return std::nullopt;
        }
        address.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':')) {
            *problem = QStringLiteral("the broker's address has \"%1\" after its host").arg(after);
            return std::nullopt;
        }
        portText = after.mid(1);
        if (after.startsWith(u':') && portText.isEmpty()) {
            portText = QStringLiteral("none");
        }
    } else {
        const qsizetype colon = authority.indexOf(u':');
        address.host = colon < 0 ? authority : authority.left(colon);
        portText = colon < 0 ? QString() : authority.mid(colon + 1);
        if (colon >= 0 && portText.isEmpty()) {
            portText = QStringLiteral("none");
        }
    }
    if (address.host.isEmpty()) {
        *problem = QStringLiteral("the broker's address names no host");
        return std::nullopt;
    }
    for (const QChar c : address.host) {
        if (c.isSpace() || c.unicode() < 0x20) {
            *problem = QStringLiteral("the broker's host \"%1\" holds a space or a control character")
                           .arg(address.host.simplified());
            return std::nullopt;
        }
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        address.port = portText.toInt(&ok);
        if (!ok || address.port < 1 || address.port > 65535 || !portText.at(0).isDigit()) {
            *problem =
                QStringLiteral("the broker's port is a number from 1 to 65535, not \"%1\"").arg(portText);
            return std::nullopt;
        }
    }
    // "mqtt://host/" and "mqtt://host/lab/" alike: slashes at the ends are not levels.
    QString prefix = path;
    while (prefix.endsWith(u'/')) {
        prefix.chop(1);
    }
    if (!prefix.isEmpty()) {
        const QStringList levels = prefix.split(u'/');
        for (const QString& level : levels) {
            bool bad = level.isEmpty() || level.startsWith(u'$');
            for (const QChar c : level) {
                bad = bad || c == u'+' || c == u'#' || c.unicode() < 0x20 || c.unicode() == 0x7f;
            }
            if (bad) {
                *problem = QStringLiteral(
                               "the topic prefix \"%1\" has an empty level, a \"+\", \"#\" or \"$\", "
                               "or a control character")
                               .arg(prefix);
                return std::nullopt;
            }
        }
        address.prefix = prefix;
    }
    return address;
}

}  // namespace kv
