#include "cli/commands.h"
#include "core/calibration/calibration_text.h"
#include "core/device/device_session.h"
#include "core/record/history_store.h"

namespace kv::cli {

namespace {

class ReadCommand : public Command {
  public:
    QString name() const override { return QStringLiteral("read"); }
    QString summary() const override {
        return QStringLiteral("the device's calibration as .cal text or JSON");
    }
    QString help() const override {
        return QStringLiteral(
            "Usage: kestrovar-cli read [-o FILE] [--json]\n"
            "Reads the device's calibration and writes it to stdout as a .cal file (five lines,\n"
            "CR LF), exactly as \"Save Settings to File\" would write it.\n"
            "  -o FILE  write it into FILE instead (replaced only once completely written)\n"
            "  --json   "
            "{\"col\":[...],\"row\":[...],\"table\":[[...]],\"delay_minutes\":2.5,\"correction\":\"Yes\"}\n");
    }

    int execute(Context& context, const QStringList& words) override {
        const Arguments args = parseArguments(words, {QStringLiteral("--json")},
                                              {QStringLiteral("-o"), QStringLiteral("--output")});
        if (const int status = checkArguments(context, *this, args)) {
            return status;
        }
        int failure = exitOk;
        const std::unique_ptr<DeviceSession> opened = openSession(context, kSettingsImageSize, &failure);
        if (!opened) {
            return failure;
        }
        DeviceSession& session = *opened;
        const std::optional<Calibration> calibration = session.readCalibration();
        if (!calibration) {
            context.say(QStringLiteral("no answer from the KestroVar on %1").arg(context.portName()));
            return exitNoDevice;
        }
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
