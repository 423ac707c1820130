// kestrovar-cli: QtCore only, no window system needed.
#include "cli/cli.h"
#include "cli/multi_port.h"
#include "cli/publish.h"
#include "core/platform/port_map.h"
#include "core/platform/qt_system.h"
#include "core/record/history_store.h"
#include "simulator/in_process_device.h"
#include "simulator/pty_device.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include "core/version.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

const char* const kProgram = "kestrovar-cli";

void writeErr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// Writes data to stdout at once; why not, when the whole of it did not get there.
std::optional<QString> writeOut(const QByteArray& bytes) {
    errno = 0;
    const std::size_t written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    if (std::fflush(stdout) != 0 || written != std::size_t(bytes.size()) || std::ferror(stdout)) {
        return QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    }
    return std::nullopt;
}

// Text for stdout outside a command (--help, --version): 0, or 74 with the reason said.
int printOut(const QString& text) {
    if (const auto error = writeOut(text.toUtf8())) {
        writeErr(QStringLiteral("%1: standard output could not be written: %2\n")
                     .arg(QLatin1String(kProgram), *error)
                     .toUtf8());
        return kv::cli::exitIoError;
    }
    return 0;
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

struct PortChoice {
    int number = 0;  // 0: not understood
    bool byPath = false;
};

// --port N, --port PATH, or the window's --port N=PATH (Com N is PATH, and is used).
PortChoice choosePort(const QString& value, kv::PortMap& ports) {
    auto comNumber = [](const QString& text) {
        const bool digitsOnly =
            !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
        const int n = digitsOnly && text.size() <= 2 ? text.toInt() : 0;
        return n >= kv::kFirstPort && n <= kv::kLastPort ? n : 0;
    };
    PortChoice choice;
    const qsizetype eq = value.indexOf(u'=');
    const qsizetype slash = value.indexOf(u'/');
    if (eq >= 0 && (slash < 0 || eq < slash)) {
        // As the window reads it; a path may itself hold a "=" after its first "/".
        const int n = comNumber(value.left(eq).trimmed());
        if (n && !ports.apply({value})) {
            choice.number = n;
        }
    } else if (const int com = kv::comPortNumber(value); com >= kv::kFirstPort && com <= kv::kLastPort) {
        choice.number = com;                                  // COM3 is Com 3
    } else if (slash >= 0 || com || value.contains(u'\\')) {  // COM17 and up, \\.\CNCA0: devices too
        choice.number = kv::kFirstPort;  // one port is used at a time; the path stands in for Com 1
        ports.set(choice.number, value);
        choice.byPath = true;
    } else {
        choice.number = comNumber(value);
    }
    return choice;
}

// The signal that asked the running command to stop (SIGINT, SIGTERM), or 0. Set by the handler;
// read by the command, on the main thread or the ports' threads.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

#ifdef Q_OS_UNIX
// Written by the handler so that the event loop wakes: a command waiting on it sees the signal at once.
int signalPipe[2] = {-1, -1};
void onSignal(int signal) {
    stopSignal.store(signal);
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}
#endif
#ifdef Q_OS_WIN
// Ctrl+C and Ctrl+Break stop a long command at its next chance, as SIGINT does elsewhere. Windows
// runs the handler on a thread of its own: it keeps the signal and wakes the event loop.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    stopSignal.store(SIGINT);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
    return TRUE;
}

// Messages are UTF-8, as on Linux; the console shows them as such while the program runs.
struct ConsoleCodePage {
    UINT before = GetConsoleOutputCP();
    ConsoleCodePage() { SetConsoleOutputCP(CP_UTF8); }
    ~ConsoleCodePage() { SetConsoleOutputCP(before); }
};
#endif

// Ctrl+C and SIGTERM, from now on, no longer end the program at once: they are kept for the
// command, which stops at its next safe point (a write that has begun is finished and read back
// first). The only place that knows how the system delivers them; a console's Ctrl+C handler is the
// other systems' variant. Returns what the command asks.
std::function<int()> catchStopSignals(QObject* owner) {
#ifdef Q_OS_UNIX
    if (::pipe(signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
        QObject::connect(notifier, &QSocketNotifier::activated, [] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
#elif defined(Q_OS_WIN)
    Q_UNUSED(owner);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    Q_UNUSED(owner);
#endif
    return [] { return stopSignal.load(); };
}

// write, verify or restore on every port at once. Each port gets its own platform, with its own
// port map (a path stands in for Com 1 on each), and its own context, in a thread of its own.
int onSeveralPorts(const QStringList& givenPorts, const QStringList& units, const kv::PortMap& ports,
                   bool quiet, const QStringList& commandLine, const std::function<int()>& stopped,
                   const kv::cli::MqttOptions& mqtt) {
    struct Choice {
        kv::PortMap ports;
        PortChoice port;
    };
    std::vector<Choice> choices;
    std::vector<kv::cli::PortTarget> targets;
    for (qsizetype i = 0; i < givenPorts.size(); ++i) {
        Choice choice{ports, {}};
        choice.port = choosePort(givenPorts[i], choice.ports);
        if (!choice.port.number) {
            return usage(QStringLiteral("--port takes N (1 to 16), a device path, or N=PATH, not \"%1\"")
                             .arg(givenPorts[i]));
        }
        choices.push_back(std::move(choice));
        targets.push_back({givenPorts[i], units.value(i)});
    }
    const QString duplicate = kv::cli::duplicatePortProblem(targets, [&](const kv::cli::PortTarget& target) {
        const Choice& choice = choices[std::size_t(&target - targets.data())];
        const QString path = choice.ports.systemName(choice.port.number);
        // "/dev/ttyUSB0/" is no other device than "/dev/ttyUSB0".
        return path.isEmpty() ? QString() : kv::devicePath(QDir::cleanPath(path));
    });
    if (!duplicate.isEmpty()) {
        return usage(duplicate);
    }

    // Lines reach stdout under the runner's lock; the first failure to write them is kept for all.
    std::atomic<bool> outFailed{false};
    QString outError;
    kv::cli::SeveralPorts run;
    run.targets = targets;
    run.quiet = quiet;
    run.verb = commandLine.first() == QStringLiteral("restore") ? QStringLiteral("restored")
                                                                : QStringLiteral("verified");
    run.out = [&](const QByteArray& bytes) {
        if (!outFailed.load()) {
            if (const auto error = writeOut(bytes)) {
                outError = *error;
                outFailed.store(true);
            }
        }
    };
    run.err = writeErr;
    run.work = [&](const kv::cli::PortTarget& target, const std::function<void(const QByteArray&)>& out,
                   const std::function<void(const QByteArray&)>& err) {
        const Choice& choice = choices[std::size_t(&target - run.targets.data())];
        kv::QtSystemPlatform platform(choice.ports);
        kv::cli::Context context(platform);
        context.port = choice.port.number;
        context.portPath = choice.ports.systemName(choice.port.number);
        context.portGivenAsPath = choice.port.byPath;
        context.quiet = quiet;
        context.unit = target.unit;
        context.out = [&](const QByteArray& bytes) {
            if (context.outputError.isEmpty()) {
                out(bytes);
                if (outFailed.load()) {
                    context.outputError = outError;
                }
            }
        };
        context.err = err;
        context.stopSignal = stopped;
        const int status = kv::cli::runPublished(context, mqtt, commandLine);
        return kv::cli::PortOutcome{status, context.why};
    };
    const int status = kv::cli::runOnSeveralPorts(run);
    if (!outFailed.load() && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        writeErr(QStringLiteral("%1: standard output could not be written: %2\n")
                     .arg(QLatin1String(kProgram), QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)))
                     .toUtf8());
        return status == kv::cli::exitOk || status == kv::cli::exitDiffers ? kv::cli::exitIoError : status;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef Q_OS_WIN
    // Data keeps its bytes: a .cal's CR LF stays CR LF, never CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    const ConsoleCodePage utf8Console;
#endif
    const QStringList words = kv::commandLineWords(argc, argv).mid(1);
    // The global options come before the command.
    std::optional<QString> port;
    QStringList givenPorts;  // every --port, in order
    QStringList units;       // every --unit, in order
    bool simulate = false;
    bool quiet = false;
    QString history;
    kv::cli::MqttOptions mqtt;
    qsizetype at = 0;
    for (; at < words.size() && words[at].startsWith(u'-'); ++at) {
        const QString& word = words[at];
        if (word == QStringLiteral("--help") || word == QStringLiteral("-h")) {
            return printOut(kv::cli::mainHelp());
        }
        if (word == QStringLiteral("--version") || word == QStringLiteral("-v")) {
            return printOut(QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), kv::programVersion()));
        }
        if (QString problem; kv::cli::takeMqttOption(words, at, mqtt, &problem)) {
            if (!problem.isEmpty()) {
                return usage(problem);
            }
        } else if (word == QStringLiteral("--simulate")) {
            simulate = true;
        } else if (word == QStringLiteral("--quiet") || word == QStringLiteral("-q")) {
            quiet = true;
        } else if (word == QStringLiteral("--port")) {
            if (++at == words.size()) {
                return usage(QStringLiteral("--port needs N or PATH"));
            }
            givenPorts << words[at];
        } else if (word.startsWith(QStringLiteral("--port="))) {
            givenPorts << word.mid(7);
        } else if (word == QStringLiteral("--history") || word == QStringLiteral("--unit")) {
            if (++at == words.size() || words[at].trimmed().isEmpty()) {
                return usage(QStringLiteral("%1 needs %2")
                                 .arg(word, word == QStringLiteral("--unit") ? QStringLiteral("a TAG")
                                                                             : QStringLiteral("a LOCATION")));
            }
            if (word == QStringLiteral("--unit")) {
                if (kv::holdsControlCharacter(words[at])) {
                    return usage(QStringLiteral("--unit takes a TAG without control characters"));
                }
                units << words[at].trimmed();
            } else {
                history = words[at].trimmed();
            }
        } else {
            return usage(QStringLiteral("unknown option %1").arg(word));
        }
    }
    const QStringList commandLine = words.mid(at);
    // A command's --help is said once, not once a port.
    const bool several = givenPorts.size() > 1 && !commandLine.contains(QStringLiteral("--help")) &&
                         !commandLine.contains(QStringLiteral("-h"));
    if (several && (commandLine.isEmpty() || !kv::cli::runsOnSeveralPorts(commandLine.first()))) {
        return usage(QStringLiteral("--port may be given more than once only for write, verify and restore"));
    }
    if (several && simulate) {
        return usage(QStringLiteral("--simulate is one device; it does not go with several --port"));
    }
    if (units.size() > std::max<qsizetype>(1, givenPorts.size()) ||
        (several && !units.isEmpty() && units.size() != givenPorts.size())) {
        return usage(QStringLiteral("--unit is given once, or once for each --port in the same order"));
    }
    if (!givenPorts.isEmpty()) {
        port = givenPorts.first();
    }
    const QString unit = units.value(0);
    if (!history.isEmpty()) {
        kv::setEnvironmentText("KESTROVAR_HISTORY", history);  // the option wins over the variable
    }
    if (const QString chosen = qEnvironmentVariable("KESTROVAR_HISTORY"); !chosen.isEmpty()) {
        if (const QString problem = kv::HistoryStore::locationProblem(chosen); !problem.isEmpty()) {
            return usage(QStringLiteral("%1: %2").arg(
                history.isEmpty() ? QStringLiteral("KESTROVAR_HISTORY") : QStringLiteral("--history"),
                problem));
        }
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kProgram));
    QCoreApplication::setApplicationVersion(kv::programVersion());

    kv::PortMap ports;
    if (auto error = ports.apply(kv::PortMap::splitVariable(qEnvironmentVariable("KESTROVAR_PORTS")))) {
        writeErr(QStringLiteral("%1: KESTROVAR_PORTS: %2\n").arg(QLatin1String(kProgram), *error).toUtf8());
        return kv::cli::exitUsage;
    }
    int number = 0;
    bool byPath = false;
    if (port && !several) {
        // An empty value is a mistake (an unset variable), never a wish for the remembered port.
        const PortChoice choice = choosePort(*port, ports);
        if (!choice.number) {
            return usage(
                QStringLiteral("--port takes N (1 to 16), a device path, or N=PATH, not \"%1\"").arg(*port));
        }
        number = choice.number;
        byPath = choice.byPath;
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
    if (simulate) {  // no pseudo-terminals here: the simulated device lives in this process, as Com 1
        number = kv::kFirstPort;
        byPath = false;
        ports.set(number, QLatin1String(kv::sim::kInProcessPortName));
    }
#endif
    if (number == 0) {
        number = rememberedPort();
    }

    const std::function<int()> stopped = catchStopSignals(&app);

    if (several) {
        return onSeveralPorts(givenPorts, units, ports, quiet, commandLine, stopped, mqtt);
    }

    kv::QtSystemPlatform platform(ports);
#ifndef KV_HAS_PTY_DEVICE
    std::unique_ptr<kv::sim::InProcessDevice> simulator;
    if (simulate) {
        simulator = std::make_unique<kv::sim::InProcessDevice>(platform);
        platform.setInProcessPort(number, simulator.get());
    }
#endif
    kv::cli::Context context(platform);
    context.port = number;
    context.portPath = number ? ports.systemName(number) : QString();
    context.portGivenAsPath = byPath;
    context.quiet = quiet;
    context.unit = unit;
    context.out = [&context](const QByteArray& bytes) {
        if (context.outputError.isEmpty()) {
            if (const auto error = writeOut(bytes)) {
                context.outputError = *error;
            }
        }
    };
    context.err = writeErr;
    context.stopSignal = stopped;
    const int status = kv::cli::runPublished(context, mqtt, commandLine);
    // Whatever a library left in the buffer goes out now; losing it is as bad as losing a row.
    if (context.outputError.isEmpty() && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        context.outputError = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
        return kv::cli::outputChecked(context, status);
    }
    return status;
}
