#include "cli/cli.h"

#include "cli/commands.h"

#include <QFileInfo>

#include <algorithm>
#include <csignal>

namespace kv::cli {

void Context::say(const QString& line) const {
    if (!quiet) {
        err(QStringLiteral("%1: %2\n").arg(program, line).toUtf8());
    }
}

QString Context::portName() const {
    if (portGivenAsPath) {
        return portPath;
    }
    return portPath.isEmpty() ? QStringLiteral("Com %1").arg(port)
                              : QStringLiteral("Com %1 (%2)").arg(port).arg(portPath);
}

int outputChecked(Context& context, int status) {
    if (context.outputError.isEmpty()) {
        return status;
    }
    // Always said, --quiet or not: the data a script waits for did not arrive.
    context.err(QStringLiteral("%1: standard output could not be written: %2\n")
                    .arg(context.program, context.outputError)
                    .toUtf8());
    return status == exitOk || status == exitDiffers ? exitIoError : status;
}

std::vector<std::unique_ptr<Command>> allCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(makePortsCommand());
    commands.push_back(makeReadCommand());
    commands.push_back(makeWriteCommand());
    commands.push_back(makeVerifyCommand());
    commands.push_back(makeMonitorCommand());
    commands.push_back(makePauseCommand(true));
    commands.push_back(makePauseCommand(false));
    commands.push_back(makeHistoryCommand());
    commands.push_back(makeRestoreCommand());
    commands.push_back(makeCertificateCommand());
    return commands;
}

QString mainHelp() {
    QString text = QStringLiteral(
        "Usage: kestrovar-cli [--port N|PATH|N=PATH] [--history LOCATION] [--unit TAG] [--simulate]\n"
        "       [--quiet] [--mqtt URL [--mqtt-ca FILE] [--mqtt-password-file FILE] [--mqtt-discovery]]\n"
        "       COMMAND [ARGS]\n"
        "Read, write, verify and monitor a KestroVar dew-point compensator from scripts.\n"
        "\n"
        "Options:\n"
        "  --port N|PATH  Com N (1 to 16) as the program maps it, or a device path such as\n"
        "                 /dev/ttyUSB0 or /dev/serial/by-id/..., or N=PATH (Com N is PATH);\n"
        "                 without it, the port remembered in ./comsetting.ini\n"
        "                 write, verify and restore take several --port, run on all at once\n"
        "  --history LOCATION  the calibration history: a folder, or a postgresql:// URI;\n"
        "                 the same as KESTROVAR_HISTORY\n"
        "  --unit TAG     the unit under calibration, kept with every record of this run\n"
        "                 (with several --port: one --unit for each, in the same order)\n"
        "  --simulate     talk to the built-in simulated device\n"
        "  --quiet        no messages on stderr, only data on stdout\n"
        "  --mqtt URL     also publish the readings and records to an MQTT broker:\n"
        "                 mqtt://[USER@]HOST[:PORT][/PREFIX] or mqtts://... (TLS); the same as\n"
        "                 KESTROVAR_MQTT. Topics PREFIX/UNIT/readings, status and records; PREFIX\n"
        "                 is kestrovar unless given, UNIT the --unit tag, else the adapter's serial\n"
        "                 number, else the machine and the port\n"
        "  --mqtt-ca FILE  the CAs an mqtts:// broker's certificate is checked against (default:\n"
        "                 the system's)\n"
        "  --mqtt-password-file FILE  the password of USER, on the file's first line (default:\n"
        "                 KESTROVAR_MQTT_PASSWORD); never on the command line\n"
        "  --mqtt-discovery  also Home Assistant's discovery messages for the six readings\n"
        "  -h, --help     this text; COMMAND --help for a command's own\n"
        "  -v, --version  the version\n"
        "\n"
        "Commands:\n");
    const std::vector<std::unique_ptr<Command>> commands = allCommands();
    qsizetype width = 0;
    for (const auto& command : commands) {
        width = std::max(width, command->name().size());
    }
    for (const auto& command : commands) {
        text += QStringLiteral("  %1  %2\n").arg(command->name().leftJustified(width), command->summary());
    }
    text += QStringLiteral(
        "\n"
        "Exit status: 0 done; 1 the device does not hold what was asked; 64 usage; 65 bad file;\n"
        "66 file not found or unreadable; 68 the MQTT broker's host unknown, its login refused or\n"
        "its certificate not trusted; 69 port absent or device not answering; 73 output file\n"
        "cannot be written or went away; 74 standard output cannot be written; 75 port in use by\n"
        "another program; 77 no permission on the port; 130 (Ctrl+C) or 143 (SIGTERM) stopped before\n"
        "anything was written.\n"
        "\n"
        "Environment:\n"
        "  KESTROVAR_PORTS  port paths, for example 1=/dev/pts/4,3=/dev/ttyS0\n"
        "  KESTROVAR_HISTORY  where the calibration history is kept (see --history); a server's\n"
        "                 password and TLS come from PGPASSWORD, ~/.pgpass, PGSSLMODE and the rest\n"
        "  KESTROVAR_MQTT  the MQTT broker (see --mqtt)\n"
        "  KESTROVAR_MQTT_PASSWORD  the MQTT user's password\n");
    return text;
}

int runCli(Context& context, const QStringList& commandLine) {
    if (commandLine.isEmpty()) {
        context.err(
            QStringLiteral("%1: no command given; %1 --help lists them\n").arg(context.program).toUtf8());
        return exitUsage;
    }
    for (auto& command : allCommands()) {
        if (command->name() != commandLine.first()) {
            continue;
        }
        return outputChecked(context, command->execute(context, commandLine.mid(1)));
    }
    context.err(QStringLiteral("%1: unknown command \"%2\"; %1 --help lists them\n")
                    .arg(context.program, commandLine.first())
                    .toUtf8());
    return exitUsage;
}

PortCheck checkPort(SystemPlatform& platform, int port) {
    PortCheck check;
    if (platform.portExists(port)) {
        check.state = PortState::Present;
        return check;
    }
    if (const std::optional<PortStatus> problem = platform.portProblem(port)) {
        // The probe explains only what stands in the way: another program, or the permissions.
        check.explanation = problem->explanation;
        check.state = problem->state;
    }
    return check;
}

QString signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        default:
            return QStringLiteral("signal %1").arg(signal);
    }
}

int stoppedBy(Context& context, int signal) {
    context.say(QStringLiteral("stopped by %1; nothing was written to %2")
                    .arg(signalName(signal), context.portName()));
    return exitSignalled + signal;
}

PortFailure whyPortFailed(Context& context) {
    const PortCheck check = checkPort(context.platform, context.port);
    switch (check.state) {
        case PortState::InUse:
            return {check.explanation, exitPortBusy, {}};
        case PortState::NoPermission:
            return {check.explanation, exitNoPermission, {}};
        case PortState::Present:
            // It opened for the probe but not for the session: it went away or was taken meanwhile.
            return {QStringLiteral("%1 could not be opened").arg(context.portName()), exitNoDevice,
                    QStringLiteral("could not be opened")};
        case PortState::Absent:
            break;
    }
    return {QStringLiteral("%1 is not there").arg(context.portName()), exitNoDevice,
            QStringLiteral("not there")};
}

int portFailure(Context& context) {
    const PortFailure failure = whyPortFailed(context);
    context.say(failure.message);
    context.why = failure.why;
    return failure.exitCode;
}

FileLoad readFile(Context& context, const QString& path) {
    FileLoad load;
    FileError error;
    load.content = context.platform.readTextFile(path, &error);
    if (!load.content) {
        context.say(QStringLiteral("%1: %2").arg(path, error.message));
        load.exitCode = exitNoInput;
    }
    return load;
}

}  // namespace kv::cli
