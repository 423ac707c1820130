#include "cli/commands.h"
#include "core/calibration/calibration_rules.h"
#include "core/calibration/calibration_text.h"
#include "core/device/device_session.h"
#include "core/record/history_store.h"

namespace kv::cli {

namespace {

// The write of a calibration the device does not hold, then its read-back, both recorded.
int sendAndReadBack(Context& context, DeviceSession& session, const Calibration& wanted,
                    const QString& source, const QString& operation) {
    int sent = 0;
    const DeviceSession::WriteStep step = session.writeCalibration(wanted, &sent);
    if (step != DeviceSession::WriteStep::Written) {
        recordCalibration(context, operation + kSentSuffix, kResultPortFailed, wanted);
        if (step == DeviceSession::WriteStep::CutOff) {
            context.say(QStringLiteral("the write was cut off after %1 of %2 bytes; the device may hold a "
                                       "partial calibration")
                            .arg(sent)
                            .arg(kSettingsImageSize));
            context.why = QStringLiteral("the write was cut off");
            return exitNoDevice;
        }
        return portFailure(context);
    }
    const std::optional<Calibration> readBack = session.readCalibration();
    const bool verified = readBack && *readBack == wanted;
    const QString result = !readBack ? kHistoryNoReadBack : verified ? kHistoryVerified : kHistoryFailed;
    recordCalibration(context, operation + kSentSuffix, result, wanted);
    if (readBack) {
        recordCalibration(context, operation + kReadBackSuffix, result, *readBack);
    }
    if (!readBack) {
        context.say(QStringLiteral("the calibration was sent to %1, but no read-back came: not verified")
                        .arg(context.portName()));
        return exitDiffers;
    }
    if (!verified) {
        context.say(QStringLiteral("the calibration read back from %1 differs from %2:")
                        .arg(context.portName(), source));
        for (const QString& line :
             calibrationDifferences(wanted, *readBack, QStringLiteral("sent"), QStringLiteral("device"))) {
            context.out(line.toUtf8() + '\n');
        }
        return exitDiffers;
    }
    context.say(QStringLiteral("%1 written to %2 and verified").arg(source, context.portName()));
    return exitOk;
}

}  // namespace

int writeVerified(Context& context, const Calibration& wanted, const QString& source,
                  const QString& operation, bool force) {
    const DeviceRead read = readDevice(context, QStringLiteral("; nothing was written"));
    if (!read.calibration) {
        return read.exitCode;
    }
    DeviceSession& session = *read.session;
    const std::optional<Calibration>& asFound = read.calibration;
    // What the device held before anything is written, so that a script can always go back.
    const QString asFoundId =
        recordCalibration(context, operation + kAsFoundSuffix, kHistoryReceived, *asFound);
    if (!asFoundId.isEmpty()) {
        context.out(QStringLiteral("as-found: %1\n").arg(asFoundId).toUtf8());
    }
    if (*asFound == wanted && !force) {
        context.say(QStringLiteral("%1 already holds the calibration in %2; nothing was written")
                        .arg(context.portName(), source));
        return exitOk;
    }
    // Nothing has gone out yet: a signal stops it here. Once the first byte is sent, the write is
    // finished and read back whatever comes, so that the unit is never left half-written.
    if (const int signal = context.stopSignal()) {
        return stoppedBy(context, signal);
    }
    const int status = sendAndReadBack(context, session, wanted, source, operation);
    if (const int signal = context.stopSignal()) {
        context.say(
            status == exitOk || status == exitDiffers
                ? QStringLiteral("%1 came during the write to %2; the write was finished and read back "
                                 "before stopping")
                      .arg(signalName(signal), context.portName())
                : QStringLiteral("%1 came during the write to %2; the write was not cut short for it")
                      .arg(signalName(signal), context.portName()));
    }
    return status;
}

namespace {

class WriteCommand : public Command {
  public:
    WriteCommand()
        : Command({.name = QStringLiteral("write"),
                   .summary = QStringLiteral("write a .cal file to the device and verify it"),
                   .help = QStringLiteral(R"(Usage: kestrovar-cli write FILE [--force]
Writes the calibration in FILE to the device and verifies it by reading it back.
FILE must hold every value (five complete lines) and pass the checks of "Save Settings
to KestroVar". The device is read first; when it already holds these values nothing is
written.
  --force  write even when the device already holds these values
Exit status 0 only when the read-back equals the file; otherwise each differing field
is listed with both values.
)"),
                   .flags = {QStringLiteral("--force")},
                   .operand = QStringLiteral("FILE"),
                   .keepsRecords = true}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        const QString path = args.positional.first();
        const WantedCalibration wanted = wantedCalibration(context, path);
        if (!wanted.calibration) {
            return wanted.exitCode;
        }
        return writeVerified(context, *wanted.calibration, path, name(), args.has(QStringLiteral("--force")));
    }
};

class RestoreCommand : public Command {
  public:
    RestoreCommand()
        : Command({.name = QStringLiteral("restore"),
                   .summary = QStringLiteral("write a history record back to the device"),
                   .help = QStringLiteral(R"(Usage: kestrovar-cli restore ID [--force]
Writes the values of the history record ID (see kestrovar-cli history) back to the
device exactly as write does: the device is read first, and the write is verified by a
read-back.
)"),
                   .flags = {QStringLiteral("--force")},
                   .operand = QStringLiteral("ID"),
                   .keepsRecords = true}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        const QString id = args.positional.first();
        const HistoryStore store(HistoryStore::defaultLocation());
        QString error;
        const std::optional<HistoryRecord> record = store.find(id, &error);
        if (!record) {
            context.say(error.isEmpty() ? QStringLiteral("no record %1 in %2").arg(id, store.shownLocation())
                                        : error);
            return exitNoInput;
        }
        if (record->damaged) {
            context.say(QStringLiteral("record %1 is damaged: %2").arg(id, record->damage));
            return exitBadFile;
        }
        if (const auto refusal = saveRefusal(record->entry.values)) {
            context.say(QStringLiteral("record %1: %2").arg(id, *refusal));
            return exitBadFile;
        }
        return writeVerified(context, calibrationFromTexts(record->entry.values),
                             QStringLiteral("record %1").arg(id), name(),
                             args.has(QStringLiteral("--force")));
    }
};

class VerifyCommand : public Command {
  public:
    VerifyCommand()
        : Command({.name = QStringLiteral("verify"),
                   .summary = QStringLiteral("compare the device with a .cal file"),
                   .help = QStringLiteral(R"(Usage: kestrovar-cli verify FILE
Reads the device's calibration once and compares it with FILE. Exit status 0 when they
are equal, 1 with each differing field listed on its own line.
)"),
                   .operand = QStringLiteral("FILE"),
                   .keepsRecords = true}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        const QString path = args.positional.first();
        const WantedCalibration wanted = wantedCalibration(context, path);
        if (!wanted.calibration) {
            return wanted.exitCode;
        }
        const DeviceRead read = readDevice(context);
        if (!read.calibration) {
            return read.exitCode;
        }
        const std::optional<Calibration>& found = read.calibration;
        if (const int signal = context.stopSignal()) {
            return stoppedBy(context, signal);  // before the answer, which a script would take as final
        }
        const QStringList differences = calibrationDifferences(
            *wanted.calibration, *found, QStringLiteral("file"), QStringLiteral("device"));
        recordCalibration(context, QStringLiteral("verify"),
                          differences.isEmpty() ? QStringLiteral("same") : QStringLiteral("differs"), *found);
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

std::unique_ptr<Command> makeRestoreCommand() {
    return std::make_unique<RestoreCommand>();
}

std::unique_ptr<Command> makeVerifyCommand() {
    return std::make_unique<VerifyCommand>();
}

}  // namespace kv::cli
