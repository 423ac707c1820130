#include "core/platform/port_map.h"
#include "core/publish/mqtt_address.h"
#include "core/publish/topics.h"
#include "gui/mqtt_tool.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray result;
    for (int v : values) {
        result.append(char(v));
    }
    return result;
}

TEST(RememberedPortFile, ReadsTheTaggedValueAtTheStartOfTheFile) {
    struct Case {
        const char* what;
        QByteArray content;
        TaggedValue expected;
    };
    const Case cases[] = {
        {"empty file", {}, TaggedValue::empty()},
        {"explicit empty value", bytes({0, 0}), TaggedValue::empty()},
        {"port 3 as 16-bit integer", bytes({2, 0, 3, 0}), TaggedValue::port(3)},
        {"port 16", bytes({2, 0, 16, 0}), TaggedValue::port(16)},
        {"extra bytes after the value", bytes({2, 0, 1, 0, 0xFF, 0x7F}), TaggedValue::port(1)},
        {"32-bit integer tag", bytes({3, 0, 5, 0, 0, 0}), TaggedValue{3, 5}},
        {"truncated 16-bit value", bytes({2, 0, 3}), TaggedValue::empty()},
        {"truncated 32-bit value", bytes({3, 0, 5, 0}), TaggedValue::empty()},
        {"single stray byte", bytes({2}), TaggedValue::empty()},
        {"string tag is not a port", bytes({8, 0, 3, 0}), TaggedValue::empty()},
        {"garbage", bytes({0xFF, 0xFF, 0xFF, 0xFF}), TaggedValue::empty()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TaggedValue::fromBytes(c.content), c.expected) << c.what;
    }
}

TEST(RememberedPortFile, WritesTheBytesTheFileHasAlwaysHeld) {
    EXPECT_EQ(TaggedValue::port(3).toBytes(), bytes({2, 0, 3, 0}));
    EXPECT_EQ(TaggedValue::port(16).toBytes(), bytes({2, 0, 16, 0}));
    EXPECT_EQ(TaggedValue::empty().toBytes(), bytes({0, 0}));
    EXPECT_EQ((TaggedValue{3, 7}).toBytes(), bytes({3, 0, 7, 0, 0, 0}));
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        EXPECT_EQ(TaggedValue::fromBytes(TaggedValue::port(port).toBytes()), TaggedValue::port(port));
    }
}

TEST(RememberedPortFile, OnlyNumericValuesMatchAPort) {
    EXPECT_TRUE(TaggedValue::port(3).holdsPort(3));
    EXPECT_FALSE(TaggedValue::port(3).holdsPort(4));
    EXPECT_TRUE((TaggedValue{3, 4}).holdsPort(4));
    EXPECT_FALSE(TaggedValue::empty().holdsPort(0));
    EXPECT_FALSE(TaggedValue::empty().holdsPort(1));
}

TEST(PortNames, AssignmentsOverrideSinglePortsAndRejectMistakes) {
    struct Case {
        QStringList items;
        bool ok;
        int port;
        QString path;
    };
    const Case cases[] = {
        {{"1=/dev/pts/4"}, true, 1, "/dev/pts/4"},
        {{" 16 = /dev/ttyS3 "}, true, 16, "/dev/ttyS3"},
        {{"3=/dev/ttyS0", "3=/dev/ttyS1"}, true, 3, "/dev/ttyS1"},
        {{"2=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X3K2-if00-port0"},
         true,
         2,
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X3K2-if00-port0"},
        {{"4=/dev/serial/by-id/usb-Maker_Model=2_77-if00"},
         true,
         4,
         "/dev/serial/by-id/usb-Maker_Model=2_77-if00"},
        {{"0=/dev/ttyS0"}, false, 0, {}},
        {{"17=/dev/ttyS0"}, false, 0, {}},
        {{"3="}, false, 0, {}},
        {{"=/dev/ttyS0"}, false, 0, {}},
        {{"three=/dev/ttyS0"}, false, 0, {}},
        {{"/dev/ttyS0"}, false, 0, {}},
        {{"+3=/dev/ttyS0"}, false, 0, {}},
        {{QString::fromUtf8("1\0"
                            "7=/dev/ttyS0",
                            13)},
         false,
         0,
         {}},  // not port 1
        {{"99999999999=/dev/ttyS0"}, false, 0, {}},
    };
    for (const Case& c : cases) {
        PortMap map;
        const auto error = map.apply(c.items);
        EXPECT_EQ(!error.has_value(), c.ok) << c.items.join(' ').toStdString();
        if (c.ok) {
            EXPECT_EQ(map.systemName(c.port), c.path);
        } else {
            EXPECT_FALSE(error->isEmpty());
        }
    }
}

TEST(PortNames, AWindowsComNameGivesItsNumber) {
    const std::pair<const char*, int> cases[] = {
        {"COM3", 3},    {"com16", 16}, {"\\\\.\\COM10", 10}, {"COM255", 255}, {"COM256", 0},
        {"COM1000", 0}, {"COM03", 0},  {"COM", 0},           {"COM1x", 0},    {"/dev/ttyS0", 0},
    };
    for (const auto& [name, number] : cases) {
        EXPECT_EQ(comPortNumber(name), number) << name;
    }
}

TEST(PortNames, DefaultsAndTheEnvironmentVariable) {
    PortMap map;
#ifdef Q_OS_WIN
    EXPECT_EQ(map.systemName(1), "COM1");
    EXPECT_EQ(map.systemName(16), "COM16");
#else
    EXPECT_EQ(map.systemName(1), "/dev/ttyUSB0");
    EXPECT_EQ(map.systemName(8), "/dev/ttyUSB7");
    EXPECT_EQ(map.systemName(9), "/dev/ttyACM0");
    EXPECT_EQ(map.systemName(16), "/dev/ttyACM7");
#endif
    EXPECT_TRUE(map.systemName(0).isEmpty());
    EXPECT_TRUE(map.systemName(17).isEmpty());
    EXPECT_EQ(PortMap::splitVariable("1=/dev/pts/4,3=/dev/ttyS0"),
              QStringList({"1=/dev/pts/4", "3=/dev/ttyS0"}));
    EXPECT_EQ(PortMap::splitVariable(""), QStringList());
    EXPECT_EQ(PortMap::splitVariable(" , 2=/a ,"), QStringList({"2=/a"}));
    EXPECT_EQ(PortMap::splitVariable("1=/dev/serial/by-id/usb-FTDI_FT232R_A9-if00-port0,9=/dev/ttyACM0"),
              QStringList({"1=/dev/serial/by-id/usb-FTDI_FT232R_A9-if00-port0", "9=/dev/ttyACM0"}));
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// --mqtt URL and the window's boxes: what each part of an address gives, and every refusal.
TEST(MqttAddress, ReadsEachPartAndRefusesWhatNamesNoBroker) {
    struct Case {
        const char* text;
        const char* shown;    // the address read, or empty when refused
        const char* problem;  // part of the refusal
    };
    const Case cases[] = {
        {"mqtt://h", "mqtt://h:1883/kestrovar", ""},
        {"mqtts://u@h:8884/lab/b1/", "mqtts://u@h:8884/lab/b1", ""},
        {"mqtts://h", "mqtts://h:8883/kestrovar", ""},
        {"mqtt://[::1]:1884/", "mqtt://[::1]:1884/kestrovar", ""},
        {"http://h", "", "starts with mqtt://"},
        {"mqtt://u:hunter2@h", "", "holds a password"},
        {"mqtt://@h", "", "empty user name"},
        {"mqtt://[::1", "", "no closing"},
        {"mqtt://[::1]x", "", "after its host"},
        {"mqtt:///p", "", "names no host"},
        {"mqtt://a b", "", "a space"},
        {"mqtt://h:", "", "not \"none\""},
        {"mqtt://h:0", "", "1 to 65535"},
        {"mqtt://h:65536", "", "1 to 65535"},
        {"mqtt://h:+1", "", "1 to 65535"},
        {"mqtt://h/a//b", "", "empty level"},
        {"mqtt://h/a/+", "", "\"+\""},
        {"mqtt://h/a#", "", "\"+\""},
        {"mqtt://h/$SYS", "", "\"$\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QString problem;
        const std::optional<MqttAddress> address = parseMqttAddress(QString::fromUtf8(c.text), &problem);
        EXPECT_EQ(address ? address->shown() : QString(), QString::fromUtf8(c.shown));
        EXPECT_TRUE(problem.contains(QString::fromUtf8(c.problem))) << problem.toStdString();
        EXPECT_FALSE(problem.contains(QStringLiteral("hunter2")));
    }
    // The window's boxes: a bare host is mqtt://; the user and the prefix have boxes of their own.
    QString problem;
    EXPECT_EQ(mqttWindowAddress(
                  {QStringLiteral("lab:1884/"), QStringLiteral("u"), QStringLiteral("/b1"), {}, false, true},
                  &problem)
                  ->shown(),
              QStringLiteral("mqtt://u@lab:1884/b1"));
    EXPECT_FALSE(mqttWindowAddress({QStringLiteral("mqtt://lab/b1"), {}, {}, {}, false, true}, &problem));
    EXPECT_TRUE(problem.contains(QStringLiteral("boxes of their own")));
}

// The unit's topic level: the tag, else the adapter's serial number, else the machine and the port.
TEST(MqttTopics, TheUnitIsTheTagTheSerialOrTheMachineAndPortMadeSafe) {
    EXPECT_EQ(unitTopicName(QStringLiteral(" A/1+# "), QStringLiteral("FT1"), QStringLiteral("pc"), {}),
              QStringLiteral("A_1__"));
    EXPECT_EQ(unitTopicName({},
                            QStringLiteral("FT\x01"
                                           "1"),
                            QStringLiteral("pc"), {}),
              QStringLiteral("FT_1"));
    EXPECT_EQ(unitTopicName({}, {}, QStringLiteral("pc"), QStringLiteral("/dev/ttyUSB0")),
              QStringLiteral("pc_dev_ttyUSB0"));
    EXPECT_EQ(unitTopicName({}, {}, {}, {}), QStringLiteral("unit"));
    FeedFrame frame;
    frame.timeMs = 1'000;
    EXPECT_TRUE(readingPayload(frame, TemperatureUnit::Fahrenheit, QStringLiteral("b\"1"))
                    .endsWith(",\"correction_active\":0,\"unit\":\"b\\\"1\"}"));
}

}  // namespace
}  // namespace kv
