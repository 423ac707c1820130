// kestrovar-sim: a simulated KestroVar on a pseudo-terminal. Prints the path to open as the serial
// port, then serves until interrupted. Faults can be switched on at start or typed on stdin.
#include "simulator/pty_device.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

const char* const kCommands =
    "Commands on stdin:\n"
    "  drop          the next answer is one byte short\n"
    "  extra         the next answer has one byte more\n"
    "  garbage       the next answer is noise of the same length\n"
    "  silent        answer nothing from now on\n"
    "  talk          answer again\n"
    "  late MS       answer MS milliseconds later than usual (0: on time)\n"
    "  vanish        close the pseudo-terminal, like a pulled adapter, and end\n"
    "  status        show the device's state\n";

void printStatus(kv::sim::DeviceModel& model) {
    std::printf(
        "correction %s, %s, extra delay %lld ms; heard %d sample, %d settings requests, %d writes, "
        "%d pause toggles\n",
        model.correctionActive() ? "active" : "not active", model.silent() ? "silent" : "answering",
        static_cast<long long>(model.extraDelay().count()), model.samplesRequested, model.settingsRequested,
        model.settingsWritten, model.pauseToggles);
}

void runCommand(const QString& line, kv::sim::PtyDevice& device) {
    const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        return;
    }
    kv::sim::DeviceModel& model = device.model();
    const QString& command = words[0];
    if (command == u"drop") {
        model.dropByteOfNextAnswer();
    } else if (command == u"extra") {
        model.addByteToNextAnswer();
    } else if (command == u"garbage") {
        model.garbleNextAnswer();
    } else if (command == u"silent") {
        model.setSilent(true);
    } else if (command == u"talk") {
        model.setSilent(false);
    } else if (command == u"late" && words.size() == 2 && words[1].toInt() >= 0) {
        model.setExtraDelay(std::chrono::milliseconds(words[1].toInt()));
    } else if (command == u"vanish") {
        device.vanish();
        return;
    } else if (command == u"status") {
        printStatus(model);
    } else {
        std::fputs(kCommands, stdout);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrovar-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated KestroVar dew-point compensator on a pseudo-terminal. Prints the "
                       "serial port path to open, then serves until interrupted (Ctrl+C).\n\n") +
        QString::fromLatin1(kCommands));
    parser.addHelpOption();
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Answer MS milliseconds after a request (20)."),
                                   QStringLiteral("MS"), QStringLiteral("20"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Which slow drift of the readings (1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Answer nothing."));
    const QCommandLineOption late(QStringLiteral("late"),
                                  QStringLiteral("Answer MS milliseconds later than --delay."),
                                  QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption vanishAfter(
        QStringLiteral("vanish-after"),
        QStringLiteral("Close the pseudo-terminal after MS milliseconds and end."), QStringLiteral("MS"));
    parser.addOptions({delay, seed, silent, late, vanishAfter});
    parser.process(app);

    bool ok[4] = {true, true, true, true};
    kv::sim::DeviceOptions options;
    options.replyDelay = std::chrono::milliseconds(parser.value(delay).toInt(&ok[0]));
    options.seed = parser.value(seed).toULongLong(&ok[1]);
    const int lateMs = parser.value(late).toInt(&ok[2]);
    const int vanishMs = parser.isSet(vanishAfter) ? parser.value(vanishAfter).toInt(&ok[3]) : -1;
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || options.replyDelay.count() < 0 || lateMs < 0 ||
        (parser.isSet(vanishAfter) && vanishMs < 0)) {
        std::fputs(
            "kestrovar-sim: --delay, --seed, --late and --vanish-after take whole numbers of at least 0\n",
            stderr);
        return 2;
    }

    kv::sim::PtyDevice device(options);
    QString error;
    if (!device.start(&error)) {
        std::fprintf(stderr, "kestrovar-sim: no pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    device.model().setSilent(parser.isSet(silent));
    device.model().setExtraDelay(std::chrono::milliseconds(lateMs));
    QObject::connect(&device, &kv::sim::PtyDevice::vanished, &app, [] {
        std::puts("vanished");
        QCoreApplication::quit();
    });
    if (vanishMs >= 0) {
        QTimer::singleShot(vanishMs, &device, [&device] { device.vanish(); });
    }

    if (::pipe(signalPipe) != 0) {
        return 1;
    }
    QSocketNotifier signals(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signals, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[256];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            input.setEnabled(false);  // stdin closed: keep serving
            return;
        }
        for (const QString& command : QString::fromLocal8Bit(line, n).split(u'\n')) {
            runCommand(command.trimmed(), device);
        }
    });

    std::printf("%s\n", qPrintable(device.slavePath()));
    std::fflush(stdout);
    return app.exec();
}
