#include "cli/commands.h"
#include "core/calibration/calibration_text.h"
#include "core/device/device_session.h"
#include "core/record/history_store.h"

namespace kv::cli {

namespace {

class ReadCommand : public Command {
  public:
    ReadCommand()
        : Command({.name = QStringLiteral("read"),
                   .summary = QStringLiteral("the device's calibration as .cal text or JSON"),
                   .help = QStringLiteral(R"(Usage: kestrovar-cli read [-o FILE] [--json]
Reads the device's calibration and writes it to stdout as a .cal file (five lines,
CR LF), exactly as "Save Settings to File" would write it.
  -o FILE  write it into FILE instead (replaced only once completely written)
  --json   {"col":[...],"row":[...],"table":[[...]],"delay_minutes":2.5,"correction":"Yes"}
)"),
                   .flags = {QStringLiteral("--json")},
                   .valued = {QStringLiteral("-o"), QStringLiteral("--output")},
                   .keepsRecords = true}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        const DeviceRead read = readDevice(context);
        if (!read.calibration) {
            return read.exitCode;
        }
        const std::optional<Calibration>& calibration = read.calibration;
        recordCalibration(context, kHistoryRead, kHistoryReceived, *calibration);
        const QByteArray content = args.has(QStringLiteral("--json"))
                                       ? calibrationJson(*calibration) + '\n'
                                       : calibrationFileContent(calibrationTexts(*calibration));
        const std::optional<QString> file = args.value(QStringLiteral("-o"))
                                                ? args.value(QStringLiteral("-o"))
                                                : args.value(QStringLiteral("--output"));
        if (!file) {
            context.out(content);
            return exitOk;
        }
        FileError error;
        if (!context.platform.writeTextFileAtomically(*file, content, &error)) {
            context.say(QStringLiteral("%1 could not be written: %2").arg(*file, error.message));
            return exitCantWrite;
        }
        context.say(QStringLiteral("the calibration of %1 is in %2").arg(context.portName(), *file));
        return exitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeReadCommand() {
    return std::make_unique<ReadCommand>();
}

}  // namespace kv::cli
