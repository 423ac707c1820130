// kestrovar-cli's commands against the scripted device in virtual time: what a script sees on
// stdout and stderr, its exit status, and the bytes that went to the device.
#include "cli/cli.h"
#include "cli/multi_port.h"
#include "core/calibration/calibration_file.h"
#include "core/calibration/calibration_text.h"
#include "support/scripted_device.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <optional>

namespace kv::test {
namespace {

QByteArray factoryFile() {
    return calibrationFileContent(calibrationTexts(sim::factorySettings()));
}

// The factory calibration with the first table cell changed.
QByteArray changedFile(const char* firstCell = "30") {
    QByteArray file = factoryFile();
    const qsizetype line3 = file.indexOf("\r\n", file.indexOf("\r\n") + 2) + 2;
    file.replace(line3, file.indexOf(',', line3) - line3, firstCell);
    return file;
}

// The signal the running command is asked to stop by; the cases set it as the device hears a byte.
int signalled = 0;
auto signalAt = [](int byte, int signal) {
    return [byte, signal](sim::DeviceModel&, int heard) {
        if (heard == byte)
            signalled = signal;
    };
};

struct CliRun {
    QByteArray out;
    QByteArray err;
    int exit = -1;
    QByteArray wire;
    std::vector<std::pair<qint64, std::uint8_t>> writes;
};

struct Case {
    const char* name;
    QStringList args;
    std::map<QString, QByteArray> files;
    // Called as each byte reaches the device, with how many it has heard.
    std::function<void(sim::DeviceModel&, int heard)> duringRun;
    std::function<void(VirtualPlatform&, sim::DeviceModel&)> before;
    int exit;
    const char* errContains;  // "" for no message at all
    QByteArray out;           // exact, unless outStarts is set
    bool outStarts = false;
    QByteArray wire;                                // the bytes written, in order; "*" skips the check
    bool outFails = false;                          // stdout is a full disk
    std::function<void(const CliRun&)> after = {};  // checks the output and the files left
};

CliRun run(const Case& c) {
    CliRun result;
    VirtualPlatform platform;
    platform.presentPorts = {1};
    platform.files = c.files;
    std::optional<ScriptedDevice> device;
    int heard = 0;
    platform.onSerialCreated = [&](FakeSerial& serial) {
        device.emplace(platform);
        if (c.before) {
            c.before(platform, device->model);
        }
        auto hear = serial.deviceReceives;
        // The serial control goes with the command's session, so the wire is noted as it happens.
        serial.deviceReceives = [&, hear](std::uint8_t byte) {
            result.wire.append(char(byte));
            result.writes.emplace_back(platform.clock.now(), byte);
            ++heard;
            if (c.duringRun) {
                c.duringRun(device->model, heard);
            }
            hear(byte);
        };
    };
    cli::Context context(platform);
    context.port = 1;
    context.portPath = QStringLiteral("/dev/ttyUSB0");
    context.out = [&](const QByteArray& b) {
        if (c.outFails) {
            context.outputError = QStringLiteral("No space left on device");
        } else {
            result.out += b;
        }
    };
    context.err = [&](const QByteArray& b) { result.err += b; };
    signalled = 0;
    context.stopSignal = [] { return signalled; };
    result.exit = cli::runCli(context, c.args);
    return result;
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) {
        b.append(char(v));
    }
    return b;
}

QByteArray writeOf(const QByteArray& file) {
    const SettingsBytes layout =
        settingsToWriteLayout(calibrationFromTexts(*parseCompleteCalibrationFile(file).texts));
    return bytes({2, 3}) + QByteArray(reinterpret_cast<const char*>(layout.data()), 43) + bytes({2});
}

TEST(Cli, CommandsGiveTheirDataMessagesStatusAndBytes) {
    const QTemporaryDir history;
    qputenv("KESTROVAR_HISTORY", history.path().toUtf8());
    const QString f = QStringLiteral("unit.cal");
    auto silentAfter = [](int n) {
        return [n](sim::DeviceModel& m, int heard) {
            if (heard == n)
                m.setSilent(true);
        };
    };
    auto problem = [](const char* text, bool inUse = false) {
        return [text, inUse](VirtualPlatform& p, sim::DeviceModel&) {
            p.portProblems[1] = QString::fromUtf8(text);
            if (inUse)
                p.portsInUse.insert(1);
        };
    };
    // The simulated unit's readings: about 1.3 V and 80 °F at the input, nothing straddling two frames.
    auto onlyDeviceReadings = [](const CliRun& r) {
        const QRegularExpression reading(QStringLiteral("^\\S+ 1\\.\\d{3}V [5-9]\\d\\.\\d°F "));
        for (const QString& line : QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts))
            EXPECT_TRUE(reading.match(line).hasMatch()) << line.toStdString();
    };
    VirtualPlatform* platform = nullptr;  // the running command's, for faults in the middle of it
    auto noted = [&platform](VirtualPlatform& p, sim::DeviceModel&) { platform = &p; };
    auto paused = [](VirtualPlatform&, sim::DeviceModel& m) { m.receive(togglePause, sim::Micros(0)); };
    const QTemporaryDir work;
    const QString kept = work.filePath(QStringLiteral("kept.csv"));
    const QString inFolder = work.filePath(QStringLiteral("folder/rec.csv"));
    QDir(work.path()).mkdir(QStringLiteral("folder"));
    QFile keptFile(kept);
    ASSERT_TRUE(keptFile.open(QIODevice::WriteOnly) && keptFile.write("earlier\r\n") == 9);
    keptFile.close();
    auto keptAsItWas = [&kept](const CliRun&) {
        QFile f(kept);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly) && f.readAll() == "earlier\r\n");
    };
    auto folderRemovedAt2s = [&work](VirtualPlatform& p, sim::DeviceModel&) {
        p.clock.schedule(2000,
                         [&work] { QDir(work.filePath(QStringLiteral("folder"))).removeRecursively(); });
    };
    auto switchedOff = [](VirtualPlatform&, sim::DeviceModel& m) {
        Calibration c = sim::factorySettings();
        c.correctionSwitch = 0;  // correction off: never active, whatever the pause
        m.setSettings(c);
    };
    const QByteArray asFound = "as-found: 20261209T08";
    // n exact rows, and the return said after `before` frames.
    auto rowsExact = [](int n, int before) {
        return [n, before](const CliRun& r) {
            EXPECT_TRUE(r.err.contains(
                QStringLiteral("(/dev/ttyUSB0) is back; %1 frames before the gap\n").arg(before).toUtf8()))
                << r.err.toStdString();
            const QList<QByteArray> rows = r.out.split('\n');
            EXPECT_EQ(rows.size(), n + 2)
                << r.out.toStdString();  // the header, n rows, nothing after the last
            for (const QByteArray& row : rows.mid(1, n))
                EXPECT_TRUE(QRegularExpression(QStringLiteral("^2026-12-09T[^,]+(,[-0-9.]+){6},[01]\r$"))
                                .match(QString::fromUtf8(row))
                                .hasMatch())
                    << row.toStdString();
        };
    };
    auto vanishesAt3Returns3sLater = [&platform](sim::DeviceModel&, int heard) {
        if (heard == 3) {
            platform->serial->vanish();
            platform->clock.schedule(platform->clock.now() + 3000,
                                     [&platform] { platform->presentPorts.insert(1); });
        }
    };
    QDir(work.path()).mkdir(QStringLiteral("wait"));
    auto absentFolderGoneAt2s = [&work](VirtualPlatform& p, sim::DeviceModel&) {
        if (p.clock.now() == 0)
            p.presentPorts.clear(),
                p.clock.schedule(2000, [&work] { QDir(work.filePath("wait")).removeRecursively(); });
    };
    auto absentFor3s = [](VirtualPlatform& p, sim::DeviceModel&) {
        if (p.clock.now() == 0)
            p.presentPorts.clear(), p.clock.schedule(3000, [&p] { p.presentPorts.insert(1); });
    };
    // clang-format off
    const QByteArray none =
        ("there is no calibration history in \"" + QDir::toNativeSeparators(history.path()) + "\"\n").toUtf8();
    const QByteArray noCertificate = "no certificate: " + none;
    // The system's words for a full disk: Linux's, and those of wine's Windows.
#ifdef Q_OS_WIN
    const QByteArray fullDisk = "/dev/full could not be written: Disk full; 0 frames were recorded";
#else
    const QByteArray fullDisk = "/dev/full could not be written: No space left on device; 0 frames were recorded";
#endif
    const Case cases[] = {
        // Before any record is kept: no history is neither intact nor empty, and none is made.
        {"history --check where none was kept", {"history", "--check"}, {}, {}, {}, 66, none.constData(), "", false, ""},
        {"certificate where no history was kept", {"certificate", "--unit", "U", "--json", "--lab-name", "L"}, {}, {}, {}, 66,
         noCertificate.constData(), "", false, ""},
        {"history --unit with a line break", {"history", "--unit", "a\nb"}, {}, {}, {}, 64, "--unit takes a TAG without control characters", "", false, ""},
        {"read prints the .cal", {"read"}, {}, {}, {}, 0, "", factoryFile(), false, bytes({2})},
        {"read as JSON", {"read", "--json"}, {}, {}, {}, 0, "", "{\"col\":[10,20,70,120,170],\"row\":[100,75,65", true, bytes({2})},
        {"read from a silent device", {"read"}, {}, {}, [](VirtualPlatform&, sim::DeviceModel& m) { m.setSilent(true); },
         69, "no answer from the KestroVar on Com 1 (/dev/ttyUSB0)\n", "", false, bytes({2})},
        {"read from an absent port", {"read"}, {}, {}, [](VirtualPlatform& p, sim::DeviceModel&) { p.presentPorts.clear(); },
         69, "Com 1 (/dev/ttyUSB0) is not there", "", false, ""},
        {"read without permission", {"read"}, {}, {}, problem("/dev/ttyUSB0 exists but cannot be opened: permission denied."),
         77, "kestrovar-cli: /dev/ttyUSB0 exists but cannot be opened: permission denied.\n", "", false, ""},
        {"read a port another program holds", {"read"}, {}, {}, problem("/dev/ttyUSB0 is in use by another program", true),
         75, "kestrovar-cli: /dev/ttyUSB0 is in use by another program\n", "", false, ""},
        {"the status comes from the port's state, not the words", {"read"}, {}, {}, problem("in use by another program"),
         77, "in use by another program", "", false, ""},
        {"read to a stdout that cannot be written", {"read"}, {}, {}, {}, 74,
         "kestrovar-cli: standard output could not be written: No space left on device\n", "", false, bytes({2}), true},
        {"read into a file that cannot be written", {"read", "-o", "out.cal"}, {}, {},
         [](VirtualPlatform& p, sim::DeviceModel&) { p.unwritable.insert(QStringLiteral("out.cal")); },
         73, "out.cal could not be written", "", false, bytes({2})},
        {"write what the device holds", {"write", f}, {{f, factoryFile()}}, {}, {}, 0, "already holds", asFound, true, bytes({2})},
        {"write with --force", {"write", f, "--force"}, {{f, factoryFile()}}, {}, {}, 0, "written to Com 1", asFound, true, writeOf(factoryFile())},
        {"write a change and verify it", {"write", f}, {{f, changedFile()}}, {}, {}, 0, "and verified", asFound, true, writeOf(changedFile())},
        {"write without a read-back", {"write", f}, {{f, changedFile()}}, silentAfter(45), {}, 1, "not verified", asFound, true, writeOf(changedFile())},
        {"write cut off part-way", {"write", f}, {{f, changedFile()}},
         [&platform](sim::DeviceModel&, int heard) { if (heard == 22) platform->serial->vanish(); }, noted, 69,
         "the write was cut off after 20 of 43 bytes; the device may hold a partial calibration", asFound, true,
         writeOf(changedFile()).left(22)},
        {"write stopped by Ctrl+C before its first byte", {"write", f}, {{f, changedFile()}}, signalAt(1, SIGINT), {}, 130,
         "kestrovar-cli: stopped by SIGINT; nothing was written to Com 1 (/dev/ttyUSB0)\n", asFound, true, bytes({2})},
        {"write finished when SIGTERM comes during it", {"write", f}, {{f, changedFile()}}, signalAt(2, SIGTERM), {}, 0,
         "and verified\nkestrovar-cli: SIGTERM came during the write to Com 1 (/dev/ttyUSB0); the write was finished and read back before stopping\n",
         asFound, true, writeOf(changedFile())},
        {"write not verified when Ctrl+C comes during it", {"write", f}, {{f, changedFile()}},
         [](sim::DeviceModel& m, int heard) { signalAt(2, SIGINT)(m, heard); if (heard == 45) m.setSilent(true); }, {}, 1,
         "not verified\nkestrovar-cli: SIGINT came during the write to Com 1 (/dev/ttyUSB0); the write was finished and read back before stopping\n",
         asFound, true, writeOf(changedFile())},
        {"write cut off when Ctrl+C comes during it", {"write", f}, {{f, changedFile()}},
         [&platform](sim::DeviceModel& m, int heard) { signalAt(2, SIGINT)(m, heard); if (heard == 22) platform->serial->vanish(); },
         noted, 69, "partial calibration\nkestrovar-cli: SIGINT came during the write to Com 1 (/dev/ttyUSB0); the write was not cut short for it\n",
         asFound, true, writeOf(changedFile()).left(22)},
        {"verify stopped by SIGTERM", {"verify", f}, {{f, changedFile()}}, signalAt(1, SIGTERM), {}, 143,
         "stopped by SIGTERM", "", false, bytes({2})},
        {"write an incomplete file", {"write", f}, {{f, "10,20\r\n"}}, {}, {}, 65, "unit.cal: line 1 holds 2 values", "", false, ""},
        {"write a value the save refuses", {"write", f}, {{f, changedFile("300")}}, {}, {}, 65, "row 1, column 1 is 300, above 255", "", false, ""},
        {"write a missing file", {"write", "nowhere.cal"}, {}, {}, {}, 66, "nowhere.cal: ", "", false, ""},
        {"verify an equal file", {"verify", f}, {{f, factoryFile()}}, {}, {}, 0, "holds the calibration in unit.cal", "", false, bytes({2})},
        {"verify a different file", {"verify", f}, {{f, changedFile()}}, {}, {}, 1, "", "Table row 1, column 1: file 30, device 24\n", false, bytes({2})},
        {"monitor two frames as CSV", {"monitor", "--count", "2", "--csv"}, {}, {}, {}, 0, "",
         "time,input_voltage_v,input_temp_f,dew_point_f,output_voltage_v,modified_temp_f,output_temp_f,correction_active\r\n2026-12-09T",
         true, bytes({1, 1})},
        {"monitor past a byte lost on the line", {"monitor", "--count", "4", "--interval", "500"}, {},
         [](sim::DeviceModel& m, int heard) { if (heard == 2) m.dropByteOfNextAnswer(); }, {}, 0, "",
         "2026-12-09T", true, bytes({1, 1, 1, 1, 1}), false, onlyDeviceReadings},
        {"monitor --csv FILE keeps FILE when the port is not there", {"monitor", "--csv", kept}, {}, {},
         [](VirtualPlatform& p, sim::DeviceModel&) { p.presentPorts.clear(); }, 69, "is not there", "", false, "",
         false, keptAsItWas},
        {"monitor --csv FILE notices its folder removed between frames", {"monitor", "--csv", inFolder, "--interval", "5000"},
         {}, {}, folderRemovedAt2s, 73, "rec.csv could not be written: the file or its folder was removed; 1 frames were recorded",
         "", false, bytes({1})},
        {"monitor --csv into a full disk", {"monitor", "--csv", "/dev/full"}, {}, {}, {}, 73,
         fullDisk.constData(), "", false, bytes({1})},
        {"monitor to a stdout that cannot be written", {"monitor"}, {}, {}, {}, 74,
         "standard output could not be written", "", false, bytes({1}), true},
        {"monitor in °C as CSV", {"monitor", "--count", "1", "--csv", "--celsius"}, {}, {}, {}, 0, "",
         "time,input_voltage_v,input_temp_c,dew_point_c,output_voltage_v,modified_temp_c,output_temp_c,correction_active\r\n2026-12-09T",
         true, bytes({1})},
        {"monitor a device that goes quiet", {"monitor"}, {}, silentAfter(3), {}, 69,
         "no frame from the KestroVar on Com 1 (/dev/ttyUSB0) for 1200 ms; 2 frames received", "", true, "*"},
        {"monitor --reconnect across a silent gap", {"monitor", "--reconnect", "--count", "4", "--csv"}, {}, silentAfter(3), {}, 0,
         "(/dev/ttyUSB0) lost: no frame for 1200 ms; trying again every second\n", "", true, "*", false, rowsExact(4, 2)},
        {"monitor --reconnect across an adapter pulled and put back", {"monitor", "--reconnect", "--count", "4", "--csv"}, {},
         vanishesAt3Returns3sLater, noted, 0, ":04.968", "", true, "*", false, rowsExact(4, 2)},
        {"monitor --reconnect waits for a port not there at the start", {"monitor", "--reconnect", "--count", "2", "--csv"}, {}, {},
         absentFor3s, 0, "(/dev/ttyUSB0) is not there; trying again every second\n", "time,", true, "*", false, [](const CliRun& r) {
             EXPECT_TRUE(r.err.endsWith("(/dev/ttyUSB0) answers; the first frame has come\n") && r.out.count('\n') == 3); }},
        {"monitor --reconnect notices the folder of its file removed while it waits", {"monitor", "--reconnect", "--csv", work.filePath("wait/rec.csv")},
         {}, {}, absentFolderGoneAt2s, 73, "wait/rec.csv could not be written: its folder", "", false, ""},
        {"monitor --reconnect ends at once without permission on the port", {"monitor", "--reconnect"}, {}, {},
         problem("/dev/ttyUSB0 exists but cannot be opened: permission denied."), 77,
         "kestrovar-cli: /dev/ttyUSB0 exists but cannot be opened: permission denied.\n", "", false, ""},
        {"pause an active correction", {"pause"}, {}, {}, {}, 0, "humidity correction paused", "", false, bytes({2, 1, 4, 1})},
        {"pause a paused correction", {"pause"}, {}, {}, paused, 0, "already paused", "", false, bytes({2, 1})},
        {"resume with the switch at No", {"resume"}, {}, {}, switchedOff, 1,
         "the correction switch on Com 1 (/dev/ttyUSB0) is No", "", false, bytes({2})},
        {"resume with the switch at No and --toggle", {"resume", "--toggle"}, {}, {}, switchedOff, 0,
         "could not be confirmed", "", false, bytes({2, 4})},
        {"resume a device that ignores the toggle", {"resume"}, {},
         [](sim::DeviceModel& m, int heard) { if (heard == 3) m.receive(togglePause, sim::Micros(0)); }, paused, 1,
         "does not report humidity correction active", "", false, bytes({2, 1, 4, 1, 1, 1})},
        {"restore a record that is not there", {"restore", "19990101T000000.000Z_read_received"}, {}, {}, {}, 66, "no record", "", false, ""},
        {"certificate of a record that is not there", {"certificate", "19990101T000000.000Z_read_received", "--json", "--lab-name", "L"}, {}, {}, {}, 66, "no certificate: no record 19990101T000000.000Z_read_received in the history", "", false, ""},
        {"certificate needs a record or a unit", {"certificate", "-o", "a.pdf"}, {}, {}, {}, 64, "no ID given", "", false, ""},
        {"certificate of a record and a unit", {"certificate", "X", "--unit", "U", "--json"}, {}, {}, {}, 64, "give a record ID or --unit TAG, not both", "", false, ""},
        {"certificate needs a file or --json", {"certificate", "X"}, {}, {}, {}, 64, "-o FILE.pdf or --json is needed", "", false, ""},
        {"certificate on A3", {"certificate", "X", "--json", "--page-size", "A3"}, {}, {}, {}, 64, "--page-size is A4 or Letter", "", false, ""},
        {"history --check", {"history", "--check"}, {}, {}, {}, 0, "kestrovar-cli: every record in ", "", false, ""},
        {"history --check with --json", {"history", "--check", "--json"}, {}, {}, {}, 64, "--check does not go with --json", "", false, ""},
        {"history --export with --check", {"history", "--export", "X", "--check"}, {}, {}, {}, 64, "--check does not go with --export", "", false, ""},
        {"history --export with --limit", {"history", "--limit", "2", "--export", "X"}, {}, {}, {}, 64, "--export does not go with --limit", "", false, ""},
        {"an unknown command", {"frobnicate"}, {}, {}, {}, 64, "unknown command \"frobnicate\"", "", false, ""},
        {"an unknown option", {"read", "--fast"}, {}, {}, {}, 64, "unknown option --fast", "", false, ""},
        {"an empty --csv FILE", {"monitor", "--csv="}, {}, {}, {}, 64, "--csv= names no FILE", "", false, ""},
        {"a count that is no number", {"monitor", "--count", "x"}, {}, {}, {}, 64, "--count takes", "", false, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
#ifdef Q_OS_WIN
        // Windows refuses to remove a folder while a file in it is open: the recording holds it.
        if (QByteArray(c.name).contains("folder removed between frames")) {
            std::fprintf(stderr, "not on Windows: %s\n", c.name);
            continue;
        }
#endif
        const CliRun r = run(c);
        EXPECT_EQ(r.exit, c.exit);
        if (std::string(c.errContains).empty()) {
            EXPECT_EQ(r.err, QByteArray());
        } else {
            EXPECT_TRUE(r.err.contains(c.errContains)) << r.err.toStdString();
        }
        if (c.outStarts) {
            EXPECT_TRUE(r.out.startsWith(c.out)) << r.out.toStdString();
        } else {
            EXPECT_EQ(r.out, c.out);
        }
        if (c.wire != "*") {
            EXPECT_EQ(r.wire.toHex(' '), c.wire.toHex(' '));
        }
        if (c.after) {
            c.after(r);
        }
    }
    for (const auto& command : cli::allCommands())  // the command list sets every name apart
        EXPECT_TRUE(cli::mainHelp().contains(QStringLiteral("\n  %1  ").arg(command->name())));
}

// write on several ports, one after the other in virtual time, a platform and a device each.
TEST(Cli, SeveralPortsPrefixTheirLinesAndSumUp) {
    const QTemporaryDir history;
    qputenv("KESTROVAR_HISTORY", history.path().toUtf8());
    enum Unit { good, silent, refusesReadBack, absent, stopped };
    struct Several {
        const char* name;
        std::vector<std::pair<const char*, Unit>> ports;
        int exit;
        QByteArray err;  // exact
    };
    // clang-format off
    const Several cases[] = {
        {"two good", {{"/dev/a", good}, {"/dev/b", good}}, 0,
         "/dev/a: kestrovar-cli: unit.cal written to /dev/a and verified\n"
         "/dev/b: kestrovar-cli: unit.cal written to /dev/b and verified\n"
         "2 of 2 verified\n"},
        {"one of three silent", {{"/dev/a", good}, {"/dev/b", silent}, {"/dev/c", good}}, 69,
         "/dev/a: kestrovar-cli: unit.cal written to /dev/a and verified\n"
         "/dev/b: kestrovar-cli: no answer from the KestroVar on /dev/b; nothing was written\n"
         "/dev/c: kestrovar-cli: unit.cal written to /dev/c and verified\n"
         "2 of 3 verified; /dev/b: no answer\n"},
        {"the first failure in the order given decides", {{"/dev/a", refusesReadBack}, {"/dev/b", silent}, {"/dev/c", good}}, 1,
         "/dev/a: kestrovar-cli: the calibration was sent to /dev/a, but no read-back came: not verified\n"
         "/dev/b: kestrovar-cli: no answer from the KestroVar on /dev/b; nothing was written\n"
         "/dev/c: kestrovar-cli: unit.cal written to /dev/c and verified\n"
         "1 of 3 verified; /dev/a: not verified; /dev/b: no answer\n"},
        {"a port not there, a signal before the write", {{"/dev/a", absent}, {"/dev/b", stopped}, {"/dev/c", silent}}, 69,
         "/dev/a: kestrovar-cli: /dev/a is not there\n"
         "/dev/b: kestrovar-cli: stopped by SIGINT; nothing was written to /dev/b\n"
         "/dev/c: kestrovar-cli: no answer from the KestroVar on /dev/c; nothing was written\n"
         "0 of 3 verified; /dev/a: not there; /dev/b: stopped by SIGINT; /dev/c: no answer\n"},
    };
    // clang-format on
    for (const Several& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray out, err;
        cli::SeveralPorts run;
        run.concurrent = false;
        for (const auto& [given, unit] : c.ports)
            run.targets.push_back({QString::fromUtf8(given), {}});
        run.out = [&out](const QByteArray& b) { out += b; };
        run.err = [&err](const QByteArray& b) { err += b; };
        run.work = [&](const cli::PortTarget& target, const auto& portOut, const auto& portErr) {
            const Unit unit = c.ports[std::size_t(&target - run.targets.data())].second;
            VirtualPlatform platform;
            platform.presentPorts = {1};
            if (unit == absent)
                platform.presentPorts.clear();
            platform.files[QStringLiteral("unit.cal")] = changedFile();
            std::optional<ScriptedDevice> device;
            int heard = 0;
            platform.onSerialCreated = [&](FakeSerial& serial) {
                device.emplace(platform);
                device->model.setSilent(unit == silent);
                auto hear = serial.deviceReceives;
                serial.deviceReceives = [&, hear](std::uint8_t byte) {
                    if (++heard == 45 && unit == refusesReadBack)
                        device->model.setSilent(true);
                    hear(byte);
                };
            };
            cli::Context context(platform);
            context.port = 1;
            context.portPath = target.given;
            context.portGivenAsPath = true;
            context.out = portOut;
            context.err = portErr;
            context.stopSignal = [unit] { return unit == stopped ? SIGINT : 0; };
            const int status = cli::runCli(context, {"write", "unit.cal"});
            return cli::PortOutcome{status, context.why};
        };
        EXPECT_EQ(cli::runOnSeveralPorts(run), c.exit);
        EXPECT_EQ(err, c.err) << err.toStdString();
        QByteArray expected;  // each written port's id, on a line that names the port
        for (const auto& [given, unit] : c.ports)
            if (unit != silent && unit != absent)
                expected += QByteArray(given) + ": as-found: 20261209T080000";
        EXPECT_EQ(
            QString::fromUtf8(out).remove(QRegularExpression(QStringLiteral("\\.\\d+Z\\S+\n"))).toUtf8(),
            expected)
            << out.toStdString();
    }

    // The same device twice, by the same path or by two, is refused before anything is opened.
    const std::map<QString, QString> devices = {{"/dev/serial/by-id/usb-A", "/dev/ttyUSB0"},
                                                {"/dev/ttyUSB0", "/dev/ttyUSB0"}};
    auto deviceOf = [&devices](const cli::PortTarget& t) {
        return devices.count(t.given) ? devices.at(t.given) : QString();
    };
    const std::pair<std::vector<cli::PortTarget>, QString> duplicates[] = {
        {{{"/dev/ttyUSB0", {}}, {"/dev/ttyUSB1", {}}}, ""},
        {{{"/dev/ttyUSB1", {}}, {"/dev/ttyUSB1", {}}}, "--port /dev/ttyUSB1 is given twice"},
        {{{"/dev/serial/by-id/usb-A", {}}, {"/dev/ttyUSB1", {}}, {"/dev/ttyUSB0", {}}},
         "--port /dev/serial/by-id/usb-A and --port /dev/ttyUSB0 are the same device (/dev/ttyUSB0)"},
    };
    for (const auto& [targets, problem] : duplicates)
        EXPECT_EQ(cli::duplicatePortProblem(targets, deviceOf), problem);
}

TEST(Cli, WriteKeepsTheDevicesPauses) {
    const QTemporaryDir history;
    qputenv("KESTROVAR_HISTORY", history.path().toUtf8());
    Case c{"write", {"write", "unit.cal"}, {{"unit.cal", changedFile()}}, {}, {}, 0, "", "", false, ""};
    const CliRun r = run(c);
    ASSERT_EQ(r.exit, 0);
    ASSERT_EQ(r.writes.size(), 46u);
    const qint64 command = r.writes[1].first;                  // 0x03 right after the as-found read
    EXPECT_EQ(r.writes[2].first - command, 700);               // the 43 bytes after the pause
    EXPECT_EQ(r.writes[45].first - r.writes[44].first, 1000);  // the read-back after the settle wait
    EXPECT_LT(r.writes[45].first + 30, 1900);                  // done well within 1.9 s
}

TEST(Cli, WritesLeaveRecordsThatRestoreTheUnit) {
    const QTemporaryDir history;
    qputenv("KESTROVAR_HISTORY", history.path().toUtf8());
    VirtualPlatform platform;
    platform.presentPorts = {1};
    std::optional<ScriptedDevice> device;
    Calibration onDevice = sim::factorySettings();
    platform.onSerialCreated = [&](FakeSerial&) {
        device.emplace(platform);
        device->model.setSettings(onDevice);  // the unit keeps its memory between runs
    };
    QByteArray out, err;
    cli::Context context(platform);
    context.port = 1;
    context.portPath = QStringLiteral("/dev/ttyUSB0");
    context.out = [&](const QByteArray& b) { out += b; };
    context.err = [&](const QByteArray& b) { err += b; };
    auto command = [&](QStringList words) {
        out.clear();
        err.clear();
        const int status = cli::runCli(context, words);
        onDevice = device->model.settings();
        return status;
    };
    platform.files[QStringLiteral("unit.cal")] = changedFile();
    ASSERT_EQ(command({"write", "unit.cal"}), 0);
    const QString id = QString::fromUtf8(out.trimmed()).mid(QStringLiteral("as-found: ").size());
    EXPECT_TRUE(id.contains(QStringLiteral("write-as-found"))) << out.toStdString();
    EXPECT_EQ(onDevice.matrix[0], 30);

    ASSERT_EQ(command({"history", "--limit", "3"}), 0);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].contains("write-read-back  verified  /dev/ttyUSB0")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains("write-sent  verified")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(id.toUtf8()));

    ASSERT_EQ(command({"restore", id}), 0) << err.toStdString();
    EXPECT_EQ(onDevice, sim::factorySettings());
    ASSERT_EQ(command({"history", "--limit", "1"}), 0);
    EXPECT_TRUE(out.contains("restore-read-back  verified")) << out.toStdString();
    EXPECT_TRUE(out.contains("same as " + id.toUtf8())) << out.toStdString();
    const QString newest = QString::fromUtf8(out.left(out.indexOf(' ')));

    // The check says what it checked, for a lab to compare with a later check; then a record changed.
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(history.path()));
    ASSERT_EQ(command({"history", "--check"}), 0);
    EXPECT_TRUE(QRegularExpression("^kestrovar-cli: every record in " + QRegularExpression::escape(shown) +
                                   " is intact: 6 records, the newest " + newest +
                                   " \\(hash [0-9a-f]{12}\\)\n$")
                    .match(QString::fromUtf8(err))
                    .hasMatch())
        << err.toStdString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tamper");
        db.setDatabaseName(history.path() + "/history.db");
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec("DROP TRIGGER calibration_records_no_update");
        QSqlQuery(db).exec("UPDATE calibration_records SET unit = 'KV-9' WHERE id = '" + id + "'");
    }
    QSqlDatabase::removeDatabase("tamper");
    ASSERT_EQ(command({"history", "--check"}), 1);
    EXPECT_EQ(out, id.toUtf8() + " has been changed since it was kept\n");
    EXPECT_TRUE(err.startsWith("kestrovar-cli: 1 record in " + shown.toUtf8() +
                               " is not as it was kept; checked 6 records, the newest " + newest.toUtf8()))
        << err.toStdString();

    // A history that cannot be written never stops the exchange; it is said once.
    qputenv("KESTROVAR_HISTORY", "/proc/no-history-here");
    EXPECT_EQ(command({"write", "unit.cal"}), 0);
    EXPECT_EQ(err.count("the calibration history could not be kept"), 1) << err.toStdString();
    EXPECT_EQ(onDevice.matrix[0], 30);

    // The global --unit picks history's records as its own does; a command that keeps and reads no
    // records refuses it.
    qputenv("KESTROVAR_HISTORY", history.path().toUtf8());
    context.unit = QStringLiteral("SN9");
    ASSERT_EQ(command({"verify", "unit.cal"}), 0);
    ASSERT_EQ(command({"history"}), 0);
    EXPECT_TRUE(out.contains("  verify  same  /dev/ttyUSB0  unit SN9")) << out.toStdString();
    EXPECT_EQ(out.count('\n'), 1);
    EXPECT_EQ(command({"history", "--unit", "SN8"}), 64);
    EXPECT_TRUE(err.contains("--unit SN9 before the command and --unit SN8 after it differ"))
        << err.toStdString();
    EXPECT_EQ(command({"monitor"}), 64);
    EXPECT_TRUE(err.contains("monitor keeps and reads none")) << err.toStdString();
}

TEST(Cli, QuietLeavesOnlyData) {
    const QTemporaryDir history;
    qputenv("KESTROVAR_HISTORY", history.path().toUtf8());
    VirtualPlatform platform;
    platform.presentPorts = {1};
    std::optional<ScriptedDevice> device;
    platform.onSerialCreated = [&](FakeSerial&) { device.emplace(platform); };
    QByteArray out, err;
    cli::Context context(platform);
    context.port = 1;
    context.quiet = true;
    context.out = [&](const QByteArray& b) { out += b; };
    context.err = [&](const QByteArray& b) { err += b; };
    platform.files[QStringLiteral("unit.cal")] = factoryFile();
    EXPECT_EQ(cli::runCli(context, {"write", "unit.cal"}), 0);
    EXPECT_EQ(err, QByteArray());
    EXPECT_TRUE(out.startsWith("as-found: ")) << out.toStdString();
    EXPECT_EQ(out.count('\n'), 1);
}

}  // namespace
}  // namespace kv::test
