// The production port probe on real device files, as an ordinary user: a port is present exactly
// when it opens, and a device that is there but refuses this user is explained from that same probe.
#include "core/qt_system.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace kv {
namespace {

struct ProbeResult {
    bool exists = false;
    QString problem;  // empty: none
    bool skipped = false;
};

// Probes `path` as port 1 in a child process that runs as the user "nobody" when the tests run as
// root, so that file permissions bind as they do for a technician's own account.
ProbeResult probeAsOrdinaryUser(const QString& path) {
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
            answer = QByteArray(exists ? "1" : "0") + platform.portProblem(1).value_or(QString()).toUtf8();
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
        return {false, {}, true};
    }
    return {answer.startsWith('1'), QString::fromUtf8(answer.mid(1)), false};
}

TEST(QtPlatformPorts, AProbeTellsARefusedDeviceFromAMissingOne) {
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

    struct Case {
        const char* what;
        QString path;
        bool exists;
        bool permissionProblem;
    };
    const Case cases[] = {
        {"a device anyone may open", QStringLiteral("/dev/null"), true, false},
        {"a device this user may not open", refused, false, true},
        {"no device at that path", dir.filePath(QStringLiteral("ttyUSB7")), false, false},
        {"something that is no device", dir.filePath(QStringLiteral("ttyACM0")), false, false},
    };
    for (const Case& c : cases) {
        const ProbeResult result = probeAsOrdinaryUser(c.path);
        if (result.skipped) {
            GTEST_SKIP() << "cannot run a probe as an ordinary user here";
        }
        EXPECT_EQ(result.exists, c.exists) << c.what;
        if (c.permissionProblem) {
            EXPECT_TRUE(result.problem.startsWith(QStringLiteral("permission denied."))) << c.what;
#ifdef Q_OS_LINUX
            EXPECT_TRUE(result.problem.contains(QStringLiteral("sudo adduser $USER dialout"))) << c.what;
#endif
        } else {
            EXPECT_EQ(result.problem, QString()) << c.what;
        }
    }
}

TEST(QtPlatformPorts, WithoutAProbeThereIsNothingToExplain) {
    QtSystemPlatform platform{PortMap()};
    for (int port : {0, 1, 16, 17}) {
        EXPECT_FALSE(platform.portProblem(port).has_value()) << port;
    }
}

}  // namespace
}  // namespace kv
