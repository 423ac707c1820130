// kestrovar-cli: the device from scripts. Each command is a Command in a file of its own; main.cpp
// reads the global options, picks the port and hands the rest of the command line to runCli.
#pragma once

#include "core/platform/port_info.h"
#include "core/platform/system.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
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
    exitSignalled = 128,  // plus the signal's number: 130 stopped by Ctrl+C (SIGINT), 143 by SIGTERM
};

struct Context {
    explicit Context(SystemPlatform& system) : platform(system) {}

    SystemPlatform& platform;
    int port = 0;      // the Com number the serial control opens; 0 when none was given or remembered
    QString portPath;  // its system name, for messages
    bool portGivenAsPath = false;  // --port PATH: messages name the path alone
    bool quiet = false;
    bool historyProblemSaid = false;
    // Why the command failed, in a few words, where its exit status alone does not tell ("not
    // there", where 69 is also "no answer"); for the summary of several ports.
    QString why;
    QString unit;                        // --unit TAG: the unit under calibration, carried by every record
    MqttPublisher* publisher = nullptr;  // --mqtt: where readings and records are also published
    QString program = QStringLiteral("kestrovar-cli");
    std::function<void(const QByteArray&)> out;  // data
    // Why a write of data to standard output failed, once one has; then the command ends with
    // exitIoError. Set by whoever provides `out`.
    QString outputError;
    std::function<void(const QByteArray&)> err;  // messages
    // The signal, Ctrl+C (SIGINT) or SIGTERM, that asks the command to stop, or 0. A command stops at
    // its next safe point: never part-way through a write.
    std::function<int()> stopSignal = [] { return 0; };

    // One line on the standard error stream, unless --quiet.
    void say(const QString& line) const;
    // "Com 3 (/dev/ttyUSB2)"
    QString portName() const;
};

// A command's own arguments: flags, options with a value ("-o FILE", "--count=3") and positionals.
struct Arguments {
    std::set<QString> flags;
    std::map<QString, QString> values;
    QStringList positional;
    QString error;  // the first thing that is not understood

    bool has(const QString& flag) const { return flags.count(flag) > 0; }
    std::optional<QString> value(const QString& option) const;
};

// What a command is and what it takes on its command line.
struct CommandInfo {
    QString name = {};
    QString summary = {};  // one line for the command list
    QString help = {};     // the command's --help, usage line first
    std::set<QString> flags = {};
    std::set<QString> valued = {};         // options with a value: "-o FILE", "--count=3"
    std::set<QString> optionalValue = {};  // take the next word as their value unless it starts with "-"
    QString operand = {};                  // the one positional it takes ("FILE"), or none
    bool operandNeeded = true;             // without it the command refuses to run
    bool needsPort = true;
    bool keepsRecords = false;     // keeps what it reads or writes in the history, with the global --unit
    std::set<QString> alone = {};  // options that go with no other option
};

// A command of kestrovar-cli. The base does what every command does before its own work: its
// --help, the arguments parsed and checked against what it takes (a usage error otherwise), the
// port required; then run() does the command's own work. The global --unit is the command's own
// --unit where it has one; a command that neither keeps nor reads records refuses it.
class Command {
  public:
    explicit Command(CommandInfo info) : info_(std::move(info)) {}
    virtual ~Command() = default;
    const QString& name() const { return info_.name; }
    const QString& summary() const { return info_.summary; }
    const QString& help() const { return info_.help; }
    bool needsPort() const { return info_.needsPort; }
    // The whole command: the common checks, then run(). Returns the exit status.
    int execute(Context& context, const QStringList& words);

  protected:
    // The command's own work, with arguments that are understood and the port, where it needs one.
    virtual int run(Context& context, const Arguments& args) = 0;

  private:
    // Why the arguments cannot be taken, or empty; the global --unit joins them as the command's own.
    QString usageProblem(const Context& context, Arguments& args) const;

    CommandInfo info_;
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
// "SIGINT", "SIGTERM".
QString signalName(int signal);
// Says that the signal stopped the command before anything was written to the port; its status.
int stoppedBy(Context& context, int signal);
// Why the port could not be opened: the sentence, the exit status that goes with it, and the
// context's `why` where the status does not tell it.
struct PortFailure {
    QString message;
    int exitCode = exitNoDevice;
    QString why;
};
PortFailure whyPortFailed(Context& context);
// Why the port could not be opened, said on stderr, and the exit status that goes with it.
int portFailure(Context& context);
// Reads a .cal that must hold every value and pass the save's refusals; says why not.
struct FileLoad {
    std::optional<QByteArray> content;
    int exitCode = exitOk;
};
FileLoad readFile(Context& context, const QString& path);

}  // namespace kv::cli
