// kestrovar-cli: the device from scripts. Each command is a Command in a file of its own; main.cpp
// reads the global options, picks the port and hands the rest of the command line to runCli.
#pragma once

#include "core/platform/port_info.h"
#include "core/platform/system.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kv {
class MqttPublisher;
}

namespace kv::cli {

// The exit statuses scripts can rely on (the BSD sysexits values where one fits).
enum Exit : int {
    exitOk = 0,
    exitDiffers = 1,     // the device does not hold what was asked: a difference, a write not verified
    exitUsage = 64,      // unknown command or option, missing argument, no port
    exitBadFile = 65,    // not a complete .cal, or a value the save would refuse
    exitNoInput = 66,    // file not found or not readable
    exitNoBroker = 68,   // --mqtt: the broker's host unknown, its login refused or its certificate untrusted
    exitNoDevice = 69,   // port absent or the device not answering
    exitCantWrite = 73,  // output file cannot be written, or it went away while being written
    exitIoError = 74,    // standard output could not be written (a full disk, a closed pipe)
    exitPortBusy = 75,   // port in use by another program
    exitNoPermission = 77,
};

struct Context {
    explicit Context(SystemPlatform& system) : platform(system) {}

    SystemPlatform& platform;
    int port = 0;      // the Com number the serial control opens; 0 when none was given or remembered
    QString portPath;  // its system name, for messages
    bool portGivenAsPath = false;  // --port PATH: messages name the path alone
    bool quiet = false;
    bool historyProblemSaid = false;
    QString unit;                        // --unit TAG: the unit under calibration, carried by every record
    MqttPublisher* publisher = nullptr;  // --mqtt: where readings and records are also published
    QString program = QStringLiteral("kestrovar-cli");
    std::function<void(const QByteArray&)> out;  // data
    // Why a write of data to standard output failed, once one has; then the command ends with
    // exitIoError. Set by whoever provides `out`.
    QString outputError;
    std::function<void(const QByteArray&)> err;  // messages
    // Ctrl+C or SIGTERM has come; a long command ends at the next chance.
    std::function<bool()> stopRequested = [] { return false; };

    // One line on the standard error stream, unless --quiet.
    void say(const QString& line) const;
    // "Com 3 (/dev/ttyUSB2)"
    QString portName() const;
};

class Command {
  public:
    virtual ~Command() = default;
    virtual QString name() const = 0;
    virtual QString summary() const = 0;  // one line for the command list
    virtual QString help() const = 0;     // the command's --help, usage line first
    virtual bool needsPort() const { return true; }
    virtual int execute(Context& context, const QStringList& arguments) = 0;
};

std::vector<std::unique_ptr<Command>> allCommands();

// Runs "COMMAND [ARGS]" (the global options already taken off); returns the exit status. Data
// that could not be written to standard output turn a success into exitIoError.
int runCli(Context& context, const QStringList& commandLine);
// Says why data were lost on standard output, if they were, and turns a success (or a found
// difference, which a script would then not see) into exitIoError.
int outputChecked(Context& context, int status);
// The text of kestrovar-cli --help.
QString mainHelp();

// ---- shared by the commands ----
// What a probe of the port found.
struct PortCheck {
    PortState state = PortState::Absent;
    QString explanation;  // a sentence naming the path, for in use and no permission
};
PortCheck checkPort(SystemPlatform& platform, int port);
// Why the port could not be opened, said on stderr, and the exit status that goes with it.
int portFailure(Context& context);
// Reads a .cal that must hold every value and pass the save's refusals; says why not.
struct FileLoad {
    std::optional<QByteArray> content;
    int exitCode = exitOk;
};
FileLoad readFile(Context& context, const QString& path);

}  // namespace kv::cli
