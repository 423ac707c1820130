// kestrovar-cli: QtCore only, no window system needed.
#include "cli/cli.h"
#include "core/port_map.h"
#include "core/qt_system.h"
#include "simulator/pty_device.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const char* const kProgram = "kestrovar-cli";

QString version() {
    return QStringLiteral("%1.%2.%3").arg(KV_VERSION_MAJOR).arg(KV_VERSION_MINOR).arg(KV_VERSION_PATCH);
}

void writeOut(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeErr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int usage(const QString& problem) {
    writeErr(QStringLiteral("%1: %2; %1 --help says how\n").arg(QLatin1String(kProgram), problem).toUtf8());
    return kv::cli::exitUsage;
}

// The port remembered by KestroVar Link in ./comsetting.ini; read only, never created here.
int rememberedPort() {
    QFile file(QString::fromLatin1(kv::kPortSettingFile));
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const kv::TaggedValue saved = kv::TaggedValue::fromBytes(file.read(16));
    for (int n = kv::kFirstPort; n <= kv::kLastPort; ++n) {
        if (saved.holdsPort(n)) {
            return n;
        }
    }
    return 0;
}

#ifdef Q_OS_UNIX
// Ctrl+C and SIGTERM end a long command at its next chance: the handler only writes a byte that
// the event loop reads.
int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    // The global options come before the command.
    QString port;
    bool simulate = false;
    bool quiet = false;
    QString unit;
    QString history;
    qsizetype at = 0;
    for (; at < words.size() && words[at].startsWith(u'-'); ++at) {
        const QString& word = words[at];
        if (word == QStringLiteral("--help") || word == QStringLiteral("-h")) {
            writeOut(kv::cli::mainHelp().toUtf8());
            return 0;
        }
        if (word == QStringLiteral("--version") || word == QStringLiteral("-v")) {
            writeOut(QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), version()).toUtf8());
            return 0;
        }
        if (word == QStringLiteral("--simulate")) {
            simulate = true;
        } else if (word == QStringLiteral("--quiet") || word == QStringLiteral("-q")) {
            quiet = true;
        } else if (word == QStringLiteral("--port")) {
            if (++at == words.size()) {
                return usage(QStringLiteral("--port needs N or PATH"));
            }
            port = words[at];
        } else if (word.startsWith(QStringLiteral("--port="))) {
            port = word.mid(7);
        } else if (word == QStringLiteral("--history") || word == QStringLiteral("--unit")) {
            if (++at == words.size() || words[at].trimmed().isEmpty()) {
                return usage(QStringLiteral("%1 needs %2")
                                 .arg(word, word == QStringLiteral("--unit") ? QStringLiteral("a TAG")
                                                                             : QStringLiteral("a LOCATION")));
            }
            (word == QStringLiteral("--unit") ? unit : history) = words[at].trimmed();
        } else {
            return usage(QStringLiteral("unknown option %1").arg(word));
        }
    }
    const QStringList commandLine = words.mid(at);
    if (!history.isEmpty()) {
        qputenv("KESTROVAR_HISTORY", history.toLocal8Bit());  // the option wins over the variable
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kProgram));
    QCoreApplication::setApplicationVersion(version());

    kv::PortMap ports;
    if (auto error = ports.apply(kv::PortMap::splitVariable(qEnvironmentVariable("KESTROVAR_PORTS")))) {
        writeErr(QStringLiteral("%1: KESTROVAR_PORTS: %2\n").arg(QLatin1String(kProgram), *error).toUtf8());
        return kv::cli::exitUsage;
    }
    int number = 0;
    bool byPath = false;
    if (port.contains(u'/')) {
        number = kv::kFirstPort;  // one port is used at a time; the path stands in for Com 1
        ports.set(number, port);
        byPath = true;
    } else if (!port.isEmpty()) {
        bool ok = false;
        number = port.toInt(&ok);
        const bool digitsOnly = std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); });
        if (!ok || !digitsOnly || number < kv::kFirstPort || number > kv::kLastPort) {
            return usage(
                QStringLiteral("--port takes a number from 1 to 16 or a device path, not \"%1\"").arg(port));
        }
    }

#ifdef KV_HAS_PTY_DEVICE
    std::unique_ptr<kv::sim::PtyDevice> simulator;
    if (simulate) {
        simulator = std::make_unique<kv::sim::PtyDevice>();
        QString error;
        if (!simulator->start(&error)) {
            writeErr(QStringLiteral("%1: --simulate: no pseudo-terminal: %2\n")
                         .arg(QLatin1String(kProgram), error)
                         .toUtf8());
            return kv::cli::exitNoDevice;
        }
        number = kv::kFirstPort;
        byPath = false;
        ports.set(number, simulator->slavePath());
    }
#else
    if (simulate) {
        return usage(QStringLiteral("--simulate needs pseudo-terminals, which this system does not offer"));
    }
#endif
    if (number == 0) {
        number = rememberedPort();
    }

    bool stop = false;
#ifdef Q_OS_UNIX
    std::unique_ptr<QSocketNotifier> signals;
    if (::pipe(signalPipe) == 0) {
        signals = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signals.get(), &QSocketNotifier::activated, [&stop] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
            stop = true;
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
#endif

    kv::QtSystemPlatform platform(ports);
    kv::cli::Context context(platform);
    context.port = number;
    context.portPath = number ? ports.systemName(number) : QString();
    context.portGivenAsPath = byPath;
    context.quiet = quiet;
    context.unit = unit;
    context.out = writeOut;
    context.err = writeErr;
    context.stopRequested = [&stop] { return stop; };
    return kv::cli::runCli(context, commandLine);
}
