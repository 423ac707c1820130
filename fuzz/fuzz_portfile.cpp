// Arbitrary bytes as the content of comsetting.ini, and arbitrary "N=PATH" port assignments.
//
// The remembered port: whatever the file holds, reading it gives the empty value or a numeric one;
// only a numeric value matches a port number, and only its own; writing it back over the file keeps
// every byte after the value, so the file never shrinks; and reading the written file gives the
// same value again. The read and the write go through the program's real file functions.
//
// The port names: each line of the input is applied as one assignment, the whole input also as a
// KESTROVAR_PORTS value. An assignment is accepted only when its number is a whole number from 1 to
// 16, and then exactly that port takes the path; a refused one changes no port.
#include "core/platform/port_map.h"
#include "core/platform/qt_system.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The port number of an assignment as a person reads it: optional blanks, an optional sign, ASCII
// digits, optional blanks. Nothing when the text is no whole number; a number far out of range is
// capped so that it stays out of range.
std::optional<long long> readNumber(QStringView text) {
    text = text.trimmed();
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    long long value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = std::min(value * 10 + (c.unicode() - u'0'), 1'000'000'000LL);
    }
    return negative ? -value : value;
}

std::array<QString, kv::kLastPort + 2> namesOf(const kv::PortMap& ports) {
    std::array<QString, kv::kLastPort + 2> names;
    for (int n = 0; n <= kv::kLastPort + 1; ++n) {
        names[std::size_t(n)] = ports.systemName(n);
    }
    return names;
}

void checkRememberedPort(const QByteArray& content) {
    static QTemporaryDir dir;
    check(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("comsetting.ini"));
    kv::QtSystemPlatform platform{kv::PortMap()};
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size());
    }

    const std::optional<QByteArray> read = platform.readBinaryFile(path);
    check(read && *read == content);
    const kv::TaggedValue value = kv::TaggedValue::fromBytes(*read);

    // Empty, a 16-bit or a 32-bit integer; the empty value holds nothing.
    check(value.tag == 0 || value.tag == 2 || value.tag == 3);
    if (value.tag == 0) {
        check(value.value == 0);
    }
    if (value.tag == 2) {
        check(value.value >= -32768 && value.value <= 32767);
    }
    const bool numericTag = content.size() >= 2 && (content[0] == 2 || content[0] == 3) && content[1] == 0;
    if (!numericTag) {
        check(value.isEmpty());
    }
    for (const int n : {-1, 0, 1, 2, 3, 8, 9, 16, 17, 256, 65535, value.value}) {
        check(value.holdsPort(n) == (!value.isEmpty() && n == value.value));
    }

    // Written back over the file: the value's bytes first, the rest of the old content after them.
    const QByteArray bytes = value.toBytes();
    check(bytes.size() == (value.tag == 0 ? 2 : value.tag == 2 ? 4 : 6));
    if (!value.isEmpty()) {
        check(bytes == content.left(bytes.size()));  // a numeric value is written as it was read
    }
    check(platform.writeBinaryFile(path, bytes));
    const std::optional<QByteArray> written = platform.readBinaryFile(path);
    check(written && written->size() == std::max(content.size(), bytes.size()));
    check(written->startsWith(bytes) && written->mid(bytes.size()) == content.mid(bytes.size()));
    check(kv::TaggedValue::fromBytes(*written) == value);
}

void checkAssignment(const QString& item) {
    kv::PortMap ports;
    const auto before = namesOf(ports);
    const std::optional<QString> error = ports.apply({item});
    const auto after = namesOf(ports);
    check(after[0].isEmpty() && after[kv::kLastPort + 1].isEmpty());

    const qsizetype eq = item.indexOf(u'=');
    const std::optional<long long> number = eq > 0 ? readNumber(QStringView(item).left(eq)) : std::nullopt;
    if (error) {
        check(!error->isEmpty());
        check(after == before);
        return;
    }
    check(number && *number >= kv::kFirstPort && *number <= kv::kLastPort);
    const QString path = item.mid(eq + 1).trimmed();
    check(!path.isEmpty());
    for (int n = kv::kFirstPort; n <= kv::kLastPort; ++n) {
        check(after[std::size_t(n)] == (n == *number ? path : before[std::size_t(n)]));
    }
}

void checkVariable(const QString& value) {
    const QStringList items = kv::PortMap::splitVariable(value);
    for (const QString& item : items) {
        check(!item.isEmpty() && !item.contains(u',') && item == item.trimmed());
    }
    kv::PortMap ports;
    if (!ports.apply(items)) {
        for (const QString& item : items) {
            const std::optional<long long> number = readNumber(QStringView(item).left(item.indexOf(u'=')));
            check(number && *number >= kv::kFirstPort && *number <= kv::kLastPort);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkRememberedPort(bytes);

    const QString text = QString::fromUtf8(bytes);
    for (const QString& line : text.split(u'\n')) {
        checkAssignment(line);
    }
    checkVariable(text);
    return 0;
}
