#include "core/version.h"
#include "gui/about_dialog.h"
#include "gui/artwork.h"
#include "gui/bench_hook.h"
#include "gui/deferred_icons.h"
#include "gui/main_window.h"
#include "gui/qt_platform.h"
#include "simulator/in_process_device.h"
#include "simulator/pty_device.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>

#include <cstdio>
#include <memory>

namespace {

struct Options {
    kv::PortMap ports;
    bool simulate = false;
};

// Parses the command line before any window exists, so that a mistake ends the program with a
// message instead of a window. Returns an exit code when the program should stop here.
std::optional<int> parseOptions(const QStringList& arguments, Options& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Monitor and calibrate a KestroVar dew-point compensator over a serial line."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("Use PATH as port N (1 to 16); repeatable. Overrides KESTROVAR_PORTS."),
                      QStringLiteral("N=PATH")});
    parser.addOption(
        {QStringLiteral("history"),
         QStringLiteral("Keep the calibration history in LOCATION: a folder, or a postgresql:// URI. "
                        "Overrides KESTROVAR_HISTORY."),
         QStringLiteral("LOCATION")});
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Run against the built-in simulated device, as port Com 1.")});
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "kestrovar-link: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // There is no application object yet, so the parser cannot know the program's name.
        QString help = parser.helpText();
        help.replace(QStringLiteral("<executable_name>"), QStringLiteral("kestrovar-link"));
        std::fputs(qPrintable(help), stdout);
        std::fputs(
            "\nEnvironment:\n  KESTROVAR_PORTS   port paths, for example 1=/dev/pts/4,3=/dev/ttyS0\n"
            "  KESTROVAR_HISTORY where the calibration history is kept (see --history)\n",
            stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("kestrovar-link %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (auto error =
            options.ports.apply(kv::PortMap::splitVariable(qEnvironmentVariable("KESTROVAR_PORTS")))) {
        std::fprintf(stderr, "kestrovar-link: KESTROVAR_PORTS: %s\n", qPrintable(*error));
        return 2;
    }
    if (auto error = options.ports.apply(parser.values(QStringLiteral("port")))) {
        std::fprintf(stderr, "kestrovar-link: --port: %s\n", qPrintable(*error));
        return 2;
    }
    options.simulate = parser.isSet(QStringLiteral("simulate"));
    if (parser.isSet(QStringLiteral("history"))) {
        const QString location = parser.value(QStringLiteral("history")).trimmed();
        if (location.isEmpty()) {
            std::fprintf(stderr, "kestrovar-link: --history needs a LOCATION\n");
            return 2;
        }
        kv::setEnvironmentText("KESTROVAR_HISTORY", location);
    }
    if (const QString chosen = qEnvironmentVariable("KESTROVAR_HISTORY"); !chosen.isEmpty()) {
        if (const QString problem = kv::HistoryStore::locationProblem(chosen); !problem.isEmpty()) {
            std::fprintf(stderr, "kestrovar-link: %s: %s\n",
                         parser.isSet(QStringLiteral("history")) ? "--history" : "KESTROVAR_HISTORY",
                         qPrintable(problem));
            return 2;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    kv::benchMark("main");
    QCoreApplication::setApplicationName(QStringLiteral("kestrovar-link"));
    QCoreApplication::setApplicationVersion(kv::programVersion());
    const QStringList arguments = kv::commandLineWords(argc, argv);
    Options options;
    if (auto exitCode = parseOptions(arguments, options)) {
        return *exitCode;
    }

    QApplication app(argc, argv);
    QApplication::setStyle(new kv::DeferredIconStyle(QApplication::style()->name()));
    kv::benchMark("application");
    QApplication::setApplicationDisplayName(kv::applicationTitle());
    QApplication::setWindowIcon(kv::applicationIcon());

#ifdef KV_HAS_PTY_DEVICE
    // The simulated device lives on this event loop, behind a pseudo-terminal that stands in as Com 1.
    std::unique_ptr<kv::sim::PtyDevice> simulator;
    if (options.simulate) {
        simulator = std::make_unique<kv::sim::PtyDevice>();
        QString error;
        if (!simulator->start(&error)) {
            std::fprintf(stderr, "kestrovar-link: --simulate: no pseudo-terminal: %s\n", qPrintable(error));
            return 1;
        }
        options.ports.set(1, simulator->slavePath());
    }
#else
    if (options.simulate) {
        options.ports.set(1, QLatin1String(kv::sim::kInProcessPortName));
    }
#endif

    kv::QtPlatform platform(options.ports);
#ifndef KV_HAS_PTY_DEVICE
    // No pseudo-terminals here: the simulated device lives in the program, behind Com 1's control.
    std::unique_ptr<kv::sim::InProcessDevice> simulator;
    if (options.simulate) {
        simulator = std::make_unique<kv::sim::InProcessDevice>(platform);
        platform.setInProcessPort(1, simulator.get());
    }
#endif
    kv::Form1 window(platform);
    kv::benchMark("window");
    if (options.simulate) {
        window.comp_Click(1);  // as if the user had chosen Com 1
    }
    window.adjustSize();
    if (const QScreen* screen = window.screen()) {  // centred when first shown
        window.move(screen->availableGeometry().center() - window.frameGeometry().center() + window.pos());
    }
    const auto benchHook = kv::BenchHook::attach(window);  // only with KESTROVAR_BENCH set
    window.show();
    return app.exec();
}
