#include "cli/commands.h"
#include "core/device/device_session.h"

namespace kv::cli {

namespace {

// Asks for one monitoring frame and waits for it, at most the watchdog's interval.
std::optional<MonitoringFrame> requestFrame(DeviceSession& session, SystemPlatform& platform) {
    const int before = session.framesReceived();
    if (!session.send(requestSample)) {
        return std::nullopt;
    }
    platform.waitUntil([&] { return session.framesReceived() > before; }, kWatchdogMs);
    if (session.framesReceived() == before) {
        return std::nullopt;
    }
    return session.lastFrame();
}

QString stateText(bool active) {
    return active ? QStringLiteral("active") : QStringLiteral("paused");
}

class PauseCommand : public Command {
  public:
    explicit PauseCommand(bool pause)
        : Command(
              {.name = pause ? QStringLiteral("pause") : QStringLiteral("resume"),
               .summary = QStringLiteral("%1 humidity correction, confirmed by the frames that follow")
                              .arg(pause ? QStringLiteral("pause") : QStringLiteral("resume")),
               .help =
                   QStringLiteral(
                       "Usage: kestrovar-cli %1 [--toggle]\n"
                       "Reads the calibration's correction switch first: a monitoring frame shows the pause\n"
                       "only while the switch is Yes. Then learns from a frame whether humidity correction\n"
                       "is active and, only when it is %2, toggles it; then confirms the new state from the\n"
                       "frames that follow.\n"
                       "With the switch at No nothing is changed (status 1), since no frame could tell.\n"
                       "  --toggle  send the toggle all the same; the result cannot be confirmed\n"
                       "Exit status 0 when the device reports correction %3 (or with --toggle, when the\n"
                       "toggle was sent), 1 when it does not.\n")
                       .arg(pause ? QStringLiteral("pause") : QStringLiteral("resume"), stateText(pause),
                            stateText(!pause)),
               .flags = {QStringLiteral("--toggle")}}),
          pause_(pause) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        const DeviceRead read = readDevice(context);
        if (!read.calibration) {
            return read.exitCode;
        }
        DeviceSession& session = *read.session;
        const std::optional<Calibration>& settings = read.calibration;
        if (settings->correctionSwitch != 1) {
            // Byte 24 of every frame is 0 then, paused or not: no frame can say what the toggle did.
            if (!args.has(QStringLiteral("--toggle"))) {
                context.say(QStringLiteral("the correction switch on %1 is No, so its frames cannot show "
                                           "whether correction is paused; nothing was changed "
                                           "(--toggle sends the toggle all the same)")
                                .arg(context.portName()));
                return exitDiffers;
            }
            if (!session.open() || !session.send(togglePause)) {
                session.close();
                return portFailure(context);
            }
            session.close();
            context.say(QStringLiteral("the toggle was sent to %1; with the correction switch at No it "
                                       "could not be confirmed")
                            .arg(context.portName()));
            return exitOk;
        }
        session.expect(kMonitoringFrameSize);
        if (!session.open()) {
            return portFailure(context);
        }
        const std::optional<MonitoringFrame> first = requestFrame(session, context.platform);
        if (!first) {
            context.say(QStringLiteral("no answer from the KestroVar on %1").arg(context.portName()));
            return exitNoDevice;
        }
        const bool wantActive = !pause_;
        if ((first->correctionActive == 1) == wantActive) {
            context.say(QStringLiteral("humidity correction is already %1 on %2")
                            .arg(stateText(wantActive), context.portName()));
            return exitOk;
        }
        // The device toggles on the byte; the line is closed straight after it and opened anew,
        // as the window does.
        session.send(togglePause);
        session.close();
        if (!session.open()) {
            return portFailure(context);
        }
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (attempt > 0) {
                context.platform.waitUntil([] { return false; }, kPollIntervalMs);
            }
            const std::optional<MonitoringFrame> frame = requestFrame(session, context.platform);
            if (frame && (frame->correctionActive == 1) == wantActive) {
                context.say(QStringLiteral("humidity correction %1 on %2")
                                .arg(pause_ ? QStringLiteral("paused") : QStringLiteral("resumed"),
                                     context.portName()));
                return exitOk;
            }
        }
        context.say(QStringLiteral("the toggle was sent, but %1 does not report humidity correction %2")
                        .arg(context.portName(), stateText(wantActive)));
        return exitDiffers;
    }

  private:
    bool pause_;
};

}  // namespace

std::unique_ptr<Command> makePauseCommand(bool pause) {
    return std::make_unique<PauseCommand>(pause);
}

}  // namespace kv::cli
