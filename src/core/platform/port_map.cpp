#include "core/platform/port_map.h"

#include <algorithm>

namespace kv {

// ---- the tagged value ------------------------------------------------------------------------

TaggedValue TaggedValue::fromBytes(const QByteArray& bytes) {
    auto byteAt = [&bytes](int i) { return std::uint32_t(std::uint8_t(bytes[i])); };
    if (bytes.size() < 2) {
        return empty();
    }
    const auto tag = std::uint16_t(byteAt(0) | (byteAt(1) << 8));
    if (tag == 2 && bytes.size() >= 4) {
        return {2, std::int16_t(byteAt(2) | (byteAt(3) << 8))};
    }
    if (tag == 3 && bytes.size() >= 6) {
        return {3, std::int32_t(byteAt(2) | (byteAt(3) << 8) | (byteAt(4) << 16) | (byteAt(5) << 24))};
    }
    return empty();
}

QByteArray TaggedValue::toBytes() const {
    const auto v = std::uint32_t(value);
    QByteArray bytes;
    bytes.append(char(tag == 2 || tag == 3 ? tag : 0)).append('\0');
    if (tag == 2 || tag == 3) {  // written back in the width it was read in
        bytes.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
    }
    if (tag == 3) {
        bytes.append(char((v >> 16) & 0xFF)).append(char(v >> 24));
    }
    return bytes;
}

// ---- port names ------------------------------------------------------------------------------

int comPortNumber(const QString& name) {
    const QString bare = name.startsWith(QLatin1String("\\\\.\\")) ? name.mid(4) : name;
    const QString digits = bare.mid(3);
    if (!bare.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || digits.isEmpty() ||
        digits.size() > 3 || digits.startsWith(u'0') ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
        return 0;
    }
    const int number = digits.toInt();
    return number <= 255 ? number : 0;
}

PortMap::PortMap() {
    for (int n = kFirstPort; n <= kLastPort; ++n) {
#ifdef Q_OS_WIN
        names_[n] = QStringLiteral("COM%1").arg(n);
#else
        names_[n] =
            n <= 8 ? QStringLiteral("/dev/ttyUSB%1").arg(n - 1) : QStringLiteral("/dev/ttyACM%1").arg(n - 9);
#endif
    }
}

QString PortMap::systemName(int port) const {
    return port >= kFirstPort && port <= kLastPort ? names_[port] : QString();
}

void PortMap::set(int port, const QString& path) {
    if (port >= kFirstPort && port <= kLastPort) {
        names_[port] = path;
    }
}

std::optional<QString> PortMap::apply(const QStringList& assignments) {
    for (const QString& item : assignments) {
        const qsizetype eq = item.indexOf(u'=');
        // Digits only: QString::toInt stops at a NUL and would read "1\0" "7" as 1.
        const QString number = eq > 0 ? item.left(eq).trimmed() : QString();
        const bool isNumber = !number.isEmpty() && std::all_of(number.begin(), number.end(), [](QChar c) {
            return c >= u'0' && c <= u'9';
        });
        const int port = isNumber ? number.toInt() : 0;  // too long for an int: 0, out of range
        const QString path = eq > 0 ? item.mid(eq + 1).trimmed() : QString();
        if (eq <= 0 || !isNumber) {
            return QStringLiteral("bad port assignment \"%1\": expected N=PATH with N from 1 to 16")
                .arg(item);
        }
        if (port < kFirstPort || port > kLastPort) {
            return QStringLiteral("bad port assignment \"%1\": the port number must be 1 to 16").arg(item);
        }
        if (path.isEmpty()) {
            return QStringLiteral("bad port assignment \"%1\": no path given").arg(item);
        }
        set(port, path);
    }
    return std::nullopt;
}

QStringList PortMap::splitVariable(const QString& value) {
    QStringList items;
    for (const QString& item : value.split(u',', Qt::SkipEmptyParts)) {
        if (!item.trimmed().isEmpty()) {
            items << item.trimmed();
        }
    }
    return items;
}

}  // namespace kv
