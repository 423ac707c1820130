// The production port probe on real device files, as an ordinary user: a port is present exactly
// when it opens and no running program holds its lock, and a device that is there but refuses this
// user or is held by another program is explained from that same probe.
#include "core/platform/qt_system.h"
#include "simulator/in_process_device.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kv {
namespace {

struct ProbeResult {
    bool exists = false;  // the platform's probe
    QString problem;      // and its explanation; empty: none
    PortStatus status;    // probePortStatus with the test's lock folder
    bool skipped = false;
};

// Probes `path` as port 1 in a child process that runs as the user "nobody" when the tests run as
// root, so that file permissions and exclusive opens bind as they do for a technician's own account.
ProbeResult probeAsOrdinaryUser(const QString& path, const QString& lockFolder) {
    int fds[2];
    if (::pipe(fds) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        QByteArray answer;
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            answer = "skip";
        } else {
            PortMap ports;
            ports.set(1, path);
            QtSystemPlatform platform(ports);
            const bool exists = platform.portExists(1);
            const PortStatus status = probePortStatus(path, {lockFolder});
            answer = QByteArray(exists ? "1" : "0") + char('0' + int(status.state)) +
                     platform.portProblem(1).value_or(PortStatus{}).explanation.toUtf8() + '\n' +
                     status.explanation.toUtf8();
        }
        const ssize_t written = ::write(fds[1], answer.constData(), size_t(answer.size()));
        ::_exit(written == answer.size() ? 0 : 1);
    }
    ::close(fds[1]);
    QByteArray answer;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        answer.append(buffer, n);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the probing child failed";
    if (answer == "skip") {
        return {false, {}, {}, true};
    }
    const QList<QByteArray> texts = answer.mid(2).split('\n');
    return {answer.startsWith('1'),
            QString::fromUtf8(texts.value(0)),
            {PortState(answer[1] - '0'), QString::fromUtf8(texts.value(1))},
            false};
}

void writeLock(const QString& file, qint64 pid) {
    QFile lock(file);
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid).rightJustified(10, ' ') + '\n');  // as UUCP programs write it
}

TEST(QtPlatformPorts, AProbeTellsARefusedOrBusyDeviceFromAMissingOne) {
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kv-ports-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    // Others may pass through the folder, as through /dev.
    QFile::setPermissions(dir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther);
    const QString refused = dir.filePath(QStringLiteral("ttyUSB0"));
    {
        QFile device(refused);
        ASSERT_TRUE(device.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::setPermissions(refused, QFile::Permissions()));  // like a tty of group dialout
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("ttyACM0")));

    // A terminal another program holds open with TIOCEXCL, as QSerialPort does.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString held = QString::fromLocal8Bit(::ptsname(master));
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(::fchmod(slave, 0666), 0);
    ASSERT_EQ(::ioctl(slave, TIOCEXCL), 0);

    // Lock files: a live program (this test) holds /dev/zero; the one of /dev/full is stale.
    const QString locks = dir.filePath(QStringLiteral("lock"));
    ASSERT_TRUE(QDir().mkpath(locks));
    writeLock(locks + QStringLiteral("/LCK..zero"), ::getpid());
    writeLock(locks + QStringLiteral("/LCK..full"), 999999999);  // above any process id
    const QString link = dir.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A9X3K2-if00-port0"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), link));

    const QString noPermission = QStringLiteral(
        " exists but cannot be opened: permission denied. Add your user to the dialout group (sudo adduser "
        "$USER dialout) and log in again.");
    struct Case {
        const char* what;
        QString path;
        PortState state;
        QString explanation;
        bool locked;  // decided by the test's lock folder, which the platform does not look in
    };
    const Case cases[] = {
        {"a device anyone may open", QStringLiteral("/dev/null"), PortState::Present, {}, false},
        {"a device this user may not open", refused, PortState::NoPermission, refused + noPermission, false},
        {"a device another program holds exclusively", held, PortState::InUse,
         held + QStringLiteral(" is in use by another program"), false},
        {"no device at that path", dir.filePath(QStringLiteral("ttyUSB7")), PortState::Absent, {}, false},
        {"something that is no device",
         dir.filePath(QStringLiteral("ttyACM0")),
         PortState::Absent,
         {},
         false},
        {"a device whose lock a running program holds", QStringLiteral("/dev/zero"), PortState::InUse,
         QStringLiteral("/dev/zero is in use by another program"), true},
        {"the same device by its stable name", link, PortState::InUse,
         link + QStringLiteral(" is in use by another program"), true},
        {"a device with a stale lock", QStringLiteral("/dev/full"), PortState::Present, {}, true},
    };
    for (const Case& c : cases) {
        const ProbeResult result = probeAsOrdinaryUser(c.path, locks);
        if (result.skipped) {
            GTEST_SKIP() << "cannot run a probe as an ordinary user here";
        }
        EXPECT_EQ(result.status.state, c.state) << c.what;
        EXPECT_EQ(result.status.explanation, c.explanation) << c.what;
        if (!c.locked) {
            EXPECT_EQ(result.exists, c.state == PortState::Present) << c.what;
            EXPECT_EQ(result.problem, c.explanation) << c.what;
        }
    }
    ::close(slave);
    ::close(master);
}

TEST(QtPlatformPorts, AnAdapterIsKnownByItsStableName) {
    QTemporaryDir byId;
    ASSERT_TRUE(byId.isValid());
    const QString stable = byId.filePath(QStringLiteral("usb-Prolific_PL2303_0123-if00-port0"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), stable));
    ASSERT_TRUE(QFile::link(byId.filePath(QStringLiteral("gone")), byId.filePath(QStringLiteral("usb-old"))));
    struct Case {
        QString path;
        QString device;
        QString stableName;
    };
    const Case cases[] = {
        {QStringLiteral("/dev/null"), QStringLiteral("/dev/null"), stable},
        {stable, QStringLiteral("/dev/null"), stable},  // --port 1=/dev/serial/by-id/...
        {QStringLiteral("/dev/zero"), QStringLiteral("/dev/zero"), {}},
        {byId.filePath(QStringLiteral("usb-old")), byId.filePath(QStringLiteral("usb-old")),
         byId.filePath(QStringLiteral("usb-old"))},  // unplugged: its name is all there is
    };
    for (const Case& c : cases) {
        const AdapterInfo info = adapterInfo(c.path, byId.path());
        EXPECT_EQ(info.path, c.device) << c.path.toStdString();
        EXPECT_EQ(devicePath(c.path), c.device) << c.path.toStdString();
        EXPECT_EQ(info.stableName, c.stableName) << c.path.toStdString();
    }
    EXPECT_EQ(
        describeAdapter({QStringLiteral("/dev/ttyUSB2"), stable, QStringLiteral("USB-Serial Controller"),
                         QStringLiteral("Prolific"), QStringLiteral("0123")}),
        QStringList({QStringLiteral("/dev/ttyUSB2"), stable, QStringLiteral("USB-Serial Controller"),
                     QStringLiteral("Maker: Prolific"), QStringLiteral("Serial number: 0123")}));
    EXPECT_EQ(describeAdapter({QStringLiteral("/dev/ttyUSB2"), QStringLiteral("/dev/ttyUSB2"), {}, {}, {}}),
              QStringList({QStringLiteral("/dev/ttyUSB2")}));
}

TEST(QtPlatformPorts, ADeviceInTheProgramStandsInForItsPortOnly) {
    PortMap ports;
    ports.set(1, QLatin1String(sim::kInProcessPortName));
    ports.set(2, QStringLiteral("/nonexistent/ttyUSB9"));
    QtSystemPlatform platform(ports);
    sim::InProcessDevice device(platform);
    platform.setInProcessPort(1, &device);
    EXPECT_TRUE(platform.portExists(1));
    EXPECT_EQ(platform.portAdapter(1).description, QStringLiteral("KestroVar simulated in this program"));
    const std::unique_ptr<SerialControl> control = platform.createSerialControl();
    control->setCommPort(2);
    EXPECT_FALSE(control->setPortOpen(true));  // the system's port, which is not there
    control->setCommPort(1);
    EXPECT_TRUE(control->setPortOpen(true));
    EXPECT_TRUE(control->Output(requestSample));
    device.vanish();
    EXPECT_FALSE(control->PortOpen());
    EXPECT_FALSE(control->Output(requestSample));
    EXPECT_FALSE(platform.portExists(1));
}

TEST(QtPlatformPorts, WithoutAProbeThereIsNothingToExplain) {
    QtSystemPlatform platform{PortMap()};
    for (int port : {0, 1, 16, 17}) {
        EXPECT_FALSE(platform.portProblem(port).has_value()) << port;
    }
}

}  // namespace
}  // namespace kv
