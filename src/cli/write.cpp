#include "cli/commands.h"
#include "core/calibration_text.h"
#include "core/device_session.h"

namespace kv::cli {

namespace {

class WriteCommand : public Command {
  public:
    QString name() const override { return QStringLiteral("write"); }
    QString summary() const override {
        return QStringLiteral("write a .cal file to the device and verify it");
    }
    QString help() const override {
        return QStringLiteral(
            "Usage: kestrovar-cli write FILE [--force]\n"
            "Writes the calibration in FILE to the device and verifies it by reading it back.\n"
            "FILE must hold every value (five complete lines) and pass the checks of \"Save Settings\n"
            "to KestroVar\". The device is read first; when it already holds these values nothing is\n"
            "written.\n"
            "  --force  write even when the device already holds these values\n"
            "Exit status 0 only when the read-back equals the file; otherwise each differing field\n"
            "is listed with both values.\n");
    }

    int execute(Context& context, const QStringList& words) override {
        const Arguments args = parseArguments(words, {QStringLiteral("--force")}, {});
        if (!args.error.isEmpty()) {
            return usageError(context, *this, args.error);
        }
        if (args.positional.size() != 1) {
            return usageError(context, *this,
                              args.positional.isEmpty() ? QStringLiteral("no FILE given")
                                                        : QStringLiteral("one FILE only"));
        }
        const QString path = args.positional.first();
        const WantedCalibration wanted = wantedCalibration(context, path);
        if (!wanted.calibration) {
            return wanted.exitCode;
        }

        DeviceSession session(context.platform);
        session.serial().setCommPort(context.port);
        session.expect(kSettingsImageSize);
        if (!session.open()) {
            return portFailure(context);
        }
        const std::optional<Calibration> asFound = session.readCalibration();
        if (!asFound) {
            context.say(QStringLiteral("no answer from the KestroVar on %1; nothing was written")
                            .arg(context.portName()));
            return exitNoDevice;
        }
        if (*asFound == *wanted.calibration && !args.has(QStringLiteral("--force"))) {
            context.say(QStringLiteral("%1 already holds the calibration in %2; nothing was written")
                            .arg(context.portName(), path));
            return exitOk;
        }
        if (session.writeCalibration(*wanted.calibration) != DeviceSession::WriteStep::Written) {
            return portFailure(context);
        }
        const std::optional<Calibration> readBack = session.readCalibration();
        if (!readBack) {
            context.say(QStringLiteral("the calibration was sent to %1, but no read-back came: not verified")
                            .arg(context.portName()));
            return exitDiffers;
        }
        if (*readBack != *wanted.calibration) {
            context.say(QStringLiteral("the calibration read back from %1 differs from %2:")
                            .arg(context.portName(), path));
            for (const QString& line : calibrationDifferences(
                     *wanted.calibration, *readBack, QStringLiteral("file"), QStringLiteral("device"))) {
                context.out(line.toUtf8() + '\n');
            }
            return exitDiffers;
        }
        context.say(QStringLiteral("%1 written to %2 and verified").arg(path, context.portName()));
        return exitOk;
    }
};

class VerifyCommand : public Command {
  public:
    QString name() const override { return QStringLiteral("verify"); }
    QString summary() const override { return QStringLiteral("compare the device with a .cal file"); }
    QString help() const override {
        return QStringLiteral(
            "Usage: kestrovar-cli verify FILE\n"
            "Reads the device's calibration once and compares it with FILE. Exit status 0 when they\n"
            "are equal, 1 with each differing field listed on its own line.\n");
    }

    int execute(Context& context, const QStringList& words) override {
        const Arguments args = parseArguments(words, {}, {});
        if (!args.error.isEmpty()) {
            return usageError(context, *this, args.error);
        }
        if (args.positional.size() != 1) {
            return usageError(context, *this,
                              args.positional.isEmpty() ? QStringLiteral("no FILE given")
                                                        : QStringLiteral("one FILE only"));
        }
        const QString path = args.positional.first();
        const WantedCalibration wanted = wantedCalibration(context, path);
        if (!wanted.calibration) {
            return wanted.exitCode;
        }
        DeviceSession session(context.platform);
        session.serial().setCommPort(context.port);
        session.expect(kSettingsImageSize);
        if (!session.open()) {
            return portFailure(context);
        }
        const std::optional<Calibration> found = session.readCalibration();
        if (!found) {
            context.say(QStringLiteral("no answer from the KestroVar on %1").arg(context.portName()));
            return exitNoDevice;
        }
        const QStringList differences = calibrationDifferences(
            *wanted.calibration, *found, QStringLiteral("file"), QStringLiteral("device"));
        if (!differences.isEmpty()) {
            // The differences are the command's answer: on stdout, one a line, even with --quiet.
            for (const QString& line : differences) {
                context.out(line.toUtf8() + '\n');
            }
            return exitDiffers;
        }
        context.say(QStringLiteral("%1 holds the calibration in %2").arg(context.portName(), path));
        return exitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeWriteCommand() {
    return std::make_unique<WriteCommand>();
}

std::unique_ptr<Command> makeVerifyCommand() {
    return std::make_unique<VerifyCommand>();
}

}  // namespace kv::cli
