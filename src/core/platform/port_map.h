// The remembered port (the tagged value stored in comsetting.ini) and the names of ports 1..16.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace kv {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;
inline constexpr const char* kPortSettingFile = "comsetting.ini";

// A tagged value: a 16-bit type tag (VARIANT codes: 0 empty, 2 int16, 3 int32) and its value,
// little-endian. Only numeric tags carry a port; anything else reads as empty.
struct TaggedValue {
    std::uint16_t tag = 0;
    std::int32_t value = 0;

    static TaggedValue empty() { return {}; }
    static TaggedValue port(int number) { return {2, number}; }
    bool isEmpty() const { return tag == 0; }
    // An empty value never equals a port number.
    bool holdsPort(int number) const { return (tag == 2 || tag == 3) && value == number; }

    // Reads one tagged value from the start of a file's content. An empty file, tag 0, an unknown
    // tag or a truncated value give the empty value.
    static TaggedValue fromBytes(const QByteArray& bytes);
    // The bytes written at offset 0: 00 00 for empty, 02 00 lo hi for a 16-bit port number.
    QByteArray toBytes() const;

    bool operator==(const TaggedValue&) const = default;
};

// The number of a Windows COM port name: "COM3", "com3", "\\.\COM10" give 3, 3 and 10 (up to 255,
// the numbers Windows hands out); anything else gives 0.
int comPortNumber(const QString& name);

// Which system port each number 1..16 stands for. On Windows port n is "COMn". Elsewhere Com 1..8
// are /dev/ttyUSB0..7 and Com 9..16 /dev/ttyACM0..7, unless overridden by KESTROVAR_PORTS
// ("1=/dev/pts/4,3=/dev/ttyS0") or --port N=PATH, the option winning over the variable.
class PortMap {
  public:
    PortMap();  // the platform's defaults

    QString systemName(int port) const;  // empty outside 1..16
    void set(int port, const QString& path);

    // Applies "N=PATH" items. Returns an error text for the first bad item, or nothing.
    std::optional<QString> apply(const QStringList& assignments);
    // Splits a KESTROVAR_PORTS value at commas.
    static QStringList splitVariable(const QString& value);

  private:
    std::array<QString, kLastPort + 1> names_;
};

}  // namespace kv
