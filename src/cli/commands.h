// The commands of kestrovar-cli, one file each, and what they share.
#pragma once

#include "cli/cli.h"
#include "core/calibration/calibration_file.h"
#include "core/device/device_session.h"
#include "protocol/device_protocol.h"

namespace kv::cli {

std::unique_ptr<Command> makePortsCommand();
std::unique_ptr<Command> makeReadCommand();
std::unique_ptr<Command> makeWriteCommand();
std::unique_ptr<Command> makeVerifyCommand();
std::unique_ptr<Command> makeMonitorCommand();
std::unique_ptr<Command> makePauseCommand(bool pause);
std::unique_ptr<Command> makeHistoryCommand();
std::unique_ptr<Command> makeRestoreCommand();
std::unique_ptr<Command> makeCertificateCommand();

// The operations the command line records beside the window's; the results are the history's own
// (kHistoryReceived, kHistoryVerified, ...). A write or restore records OPERATION-as-found,
// OPERATION-sent and OPERATION-read-back.
inline const QString kHistoryRead = QStringLiteral("read");
inline const QString kAsFoundSuffix = QStringLiteral("-as-found");
inline const QString kSentSuffix = QStringLiteral("-sent");
inline const QString kReadBackSuffix = QStringLiteral("-read-back");
inline const QString kResultPortFailed = QStringLiteral("port failed");  // nothing could be verified

// Keeps a record of a calibration exchange in the history; its id, or empty (and said once) when
// the history cannot be written. The exchange's outcome does not depend on it.
QString recordCalibration(Context& context, const QString& operation, const QString& result,
                          const Calibration& calibration);

// Writes a calibration as `write` does: the as-found read (recorded, its id on stdout), nothing more
// when the device already holds it (unless force), else the write and its verifying read-back,
// both recorded under `operation`-sent and `operation`-read-back. `source` names it in messages.
int writeVerified(Context& context, const Calibration& wanted, const QString& source,
                  const QString& operation, bool force);

// `optionalValue` options take the next word as their value unless it starts with "-".
Arguments parseArguments(const QStringList& words, const std::set<QString>& flags,
                         const std::set<QString>& valued, const std::set<QString>& optionalValue = {});
// Says the usage error and returns exitUsage.
int usageError(Context& context, const Command& command, const QString& problem);

// A session on the context's port, opened for blocks of `blockSize`; nothing when the port cannot be
// opened, the reason said and its exit status in *exitCode.
std::unique_ptr<DeviceSession> openSession(Context& context, std::size_t blockSize, int* exitCode);

// The device's calibration, read on a session opened for the settings. When the port cannot be
// opened or the device does not answer, no calibration: the reason is said ("no answer from the
// KestroVar on PORT", then `noAnswerTail`) and its exit status is in exitCode.
struct DeviceRead {
    std::unique_ptr<DeviceSession> session;
    std::optional<Calibration> calibration;
    int exitCode = exitOk;
};
DeviceRead readDevice(Context& context, const QString& noAnswerTail = QString());

// A .cal that must hold every value and that the save would not refuse, as the calibration it is
// sent as. Says why not and sets the exit status (65 bad, 66 unreadable).
struct WantedCalibration {
    std::optional<Calibration> calibration;
    CalibrationTexts texts;
    int exitCode = exitOk;
};
WantedCalibration wantedCalibration(Context& context, const QString& path);

}  // namespace kv::cli
