#include "cli/commands.h"
#include "core/device/device_session.h"
#include "core/publish/mqtt_publisher.h"
#include "core/readings/readings.h"
#include "core/readings/readings_csv.h"
#include "core/readings/readings_recorder.h"

#include <algorithm>
#include <memory>

namespace kv::cli {

namespace {

// How often a recording's file is looked for between frames.
constexpr int kFileCheckMs = 1000;
// How often --reconnect tries the port again while the link is down.
constexpr int kReconnectMs = 1000;

// The line of the plain output: the time and the texts of the window's boxes, in frame order;
// in °C the temperatures as the CSV writes them, with the window's one decimal.
QByteArray textLine(const FeedFrame& frame, TemperatureUnit unit) {
    QString line = rfc3339Local(frame.timeMs);
    for (int field = 0; field < kMonitoringFields; ++field) {
        const float value = frame.values[std::size_t(field)];
        const bool celsius =
            unit == TemperatureUnit::Celsius && field != inputVoltage && field != outputVoltage;
        line += u' ' + (celsius ? formatReading(celsiusReading(value), 1, QStringLiteral("\u00B0C"))
                                : monitoringText(field, value));
    }
    line += u' ' + correctionActiveText(frame.correctionActive ? 1 : 0);
    return line.toUtf8() + '\n';
}

class MonitorCommand : public Command {
  public:
    MonitorCommand()
        : Command(
              {.name = QStringLiteral("monitor"),
               .summary = QStringLiteral("the live readings, as text, CSV or JSON lines"),
               .help = QStringLiteral(
                   R"(Usage: kestrovar-cli monitor [--count N] [--interval MS] [--csv [FILE]] [--json] [--celsius]
                            [--reconnect]
Polls the device and writes a line per monitoring frame: its local time (RFC 3339,
milliseconds, offset) and the readings as the window shows them.
  --count N      stop after N frames (default: until Ctrl+C or SIGTERM)
  --interval MS  ask for a frame every MS milliseconds (default 700)
  --csv [FILE]   CSV (RFC 4180, CR LF) with the header
                 time,input_voltage_v,input_temp_f,dew_point_f,output_voltage_v,
                 modified_temp_f,output_temp_f,correction_active
                 on stdout, or into FILE; each row is written whole as it comes.
                 FILE is replaced when the first frame has come, not before; it
                 always ends with a complete row. When it or its folder is removed,
                 monitor says so within a second and ends with status 73
  --json         one JSON object a line, with the same keys
  --celsius      temperatures in °C, (F - 32) x 5 / 9: the columns and keys
                 input_temp_c, dew_point_c, modified_temp_c, output_temp_c
  --reconnect    survive a lost link: say so with the time, try the port again every
                 second, quietly, say when frames come again, and go on; the output
                 has no rows for the gap. A port not there or in use at the start
                 is waited for the same way. It ends only at --count, a signal, a
                 file that cannot be written, or no permission on the port
With no frame for 1200 ms (or the interval and half a second, if longer) it says so and
ends with status 69; everything written until then is kept.
)"),
               .flags = {QStringLiteral("--json"), QStringLiteral("--celsius"),
                         QStringLiteral("--reconnect")},
               .valued = {QStringLiteral("--count"), QStringLiteral("--interval")},
               .optionalValue = {QStringLiteral("--csv")}}) {}

  protected:
    int run(Context& context, const Arguments& args) override {
        const bool csv = args.has(QStringLiteral("--csv")) || args.value(QStringLiteral("--csv"));
        const bool json = args.has(QStringLiteral("--json"));
        const bool reconnect = args.has(QStringLiteral("--reconnect"));
        const TemperatureUnit unit =
            args.has(QStringLiteral("--celsius")) ? TemperatureUnit::Celsius : TemperatureUnit::Fahrenheit;
        if (csv && json) {
            return usageError(context, *this, QStringLiteral("--csv and --json do not go together"));
        }
        int count = 0;
        if (const auto text = args.value(QStringLiteral("--count"))) {
            bool ok = false;
            count = text->toInt(&ok);
            if (!ok || count < 1) {
                return usageError(context, *this, QStringLiteral("--count takes a whole number from 1"));
            }
        }
        int interval = kPollIntervalMs;
        if (const auto text = args.value(QStringLiteral("--interval"))) {
            bool ok = false;
            interval = text->toInt(&ok);
            if (!ok || interval < 100 || interval > 3600000) {
                return usageError(context, *this,
                                  QStringLiteral("--interval takes milliseconds from 100 to 3600000"));
            }
        }

        // A file is recorded as the window records: whole rows, cut back to the last complete one
        // when the disk fills. It is replaced only once the first frame is in, so that a port that
        // does not work leaves an earlier recording as it was.
        const std::optional<QString> path = args.value(QStringLiteral("--csv"));
        ReadingsRecorder recorder;
        recorder.setUnit(unit);
        QString writeError;
        if (path && path->isEmpty()) {
            return usageError(context, *this, QStringLiteral("--csv= names no FILE"));
        }
        if (path && !ReadingsRecorder::writable(*path, &writeError)) {
            context.say(QStringLiteral("%1 could not be written: %2").arg(*path, writeError));
            return exitCantWrite;
        }

        if (context.publisher) {
            context.publisher->setReadings(unit, interval);
        }
        int frames = 0;
        bool silent = false;
        bool lost = false;
        bool down = false;     // --reconnect: the link was lost and no frame has come since
        bool waiting = false;  // --reconnect: the port could not be opened at the start, no frame yet
        auto onFrame = [&](const FeedFrame& frame) {
            if ((count && frames >= count) || !writeError.isEmpty()) {
                return;
            }
            if (waiting || down) {
                const QString now = rfc3339Local(context.platform.nowMs());
                context.say(waiting ? QStringLiteral("%1: %2 answers; the first frame has come")
                                          .arg(now, context.portName())
                                    : QStringLiteral("%1: %2 is back; %3 frames before the gap")
                                          .arg(now, context.portName())
                                          .arg(frames));
                waiting = down = false;
            }
            ++frames;
            if (!path) {
                context.out(csv    ? readingsCsvRow(frame, unit)
                            : json ? readingsJsonLine(frame, unit)
                                   : textLine(frame, unit));
            } else if ((frames == 1 && !recorder.start(*path, frame.timeMs, &writeError)) ||
                       !recorder.record(frame, &writeError)) {
                --frames;  // not kept
            }
            if (context.publisher && writeError.isEmpty()) {
                context.publisher->publishReading(frame);  // queued: the broker never holds up the line
            }
        };
        // Between frames, too, so that a long interval does not hide a removed file for long.
        const std::unique_ptr<IntervalTimer> fileCheck = context.platform.createTimer();
        fileCheck->setInterval(kFileCheckMs);
        fileCheck->onTimer = [&] {
            if (recorder.recording()) {
                recorder.check(&writeError);
            }
        };
        fileCheck->setEnabled(path.has_value());
        const int watchdogMs = std::max(kWatchdogMs, interval + 500);
        auto start = [&](DeviceSession& s) {
            silent = false;
            lost = false;
            QObject::connect(&s.feed(), &FrameFeed::frameReceived, &s, onFrame);
            QObject::connect(&s, &DeviceSession::watchdogExpired, &s, [&] { silent = true; });
            QObject::connect(&s, &DeviceSession::pollFailed, &s, [&] { lost = true; });
            return s.startMonitoring(interval, watchdogMs);
        };
        // A session on the port with monitoring started, or none.
        auto connect = [&]() -> std::unique_ptr<DeviceSession> {
            auto opened = std::make_unique<DeviceSession>(context.platform);
            opened->serial().setCommPort(context.port);
            opened->expect(kMonitoringFrameSize);
            return opened->open() && start(*opened) ? std::move(opened) : nullptr;
        };
        std::unique_ptr<DeviceSession> session = connect();
        if (!session) {
            const PortFailure failure = whyPortFailed(context);
            // With --reconnect an absent or busy port is waited for as after a loss; waiting does not
            // give a permission that is missing.
            if (!reconnect || failure.exitCode == exitNoPermission) {
                context.say(failure.message);
                return failure.exitCode;
            }
            waiting = true;
            context.say(QStringLiteral("%1: %2; trying again every second")
                            .arg(rfc3339Local(context.platform.nowMs()), failure.message));
        }
        if (csv && !path) {
            context.out(readingsCsvHeader(unit));
        }
        auto ended = [&] {
            return !writeError.isEmpty() || !context.outputError.isEmpty() || (count && frames >= count) ||
                   context.stopSignal() != 0;
        };
        auto finished = [&] { return silent || lost || ended(); };
        for (;;) {
            if (session) {
                while (!finished()) {
                    context.platform.waitUntil(finished, 60000);
                }
                if (!reconnect || ended()) {
                    break;
                }
                // The link is lost: said once, then the port is tried again every second until frames
                // come.
                session->stopMonitoring();
                session.reset();
                if (!down) {
                    down = true;
                    context.say(QStringLiteral("%1: %2 lost: %3; trying again every second")
                                    .arg(rfc3339Local(context.platform.nowMs()), context.portName(),
                                         lost ? QStringLiteral("the port went away")
                                              : QStringLiteral("no frame for %1 ms").arg(watchdogMs)));
                }
            }
            while (!session && !ended()) {
                context.platform.waitUntil(ended, kReconnectMs);
                // A file not yet begun is looked for as one being recorded is: its folder may go.
                if (path && !recorder.recording() && !ReadingsRecorder::writable(*path, &writeError)) {
                    break;
                }
                if (!ended()) {
                    session = connect();
                }
            }
            if (!session) {
                break;
            }
        }
        if (session) {
            session->stopMonitoring();  // the port is closed before anything more is said
        }
        fileCheck->setEnabled(false);
        recorder.stop();
        if (!writeError.isEmpty()) {
            context.say(QStringLiteral("%1 could not be written: %2; %3 frames were recorded")
                            .arg(*path, writeError)
                            .arg(frames));
            return exitCantWrite;
        }
        if (!context.outputError.isEmpty()) {
            return exitIoError;  // runCli says why
        }
        if (reconnect) {
            return exitOk;  // ended by --count or a signal
        }
        if (lost) {
            context.say(QStringLiteral("%1 went away after %2 frames").arg(context.portName()).arg(frames));
            return exitNoDevice;
        }
        if (silent) {
            context.say(QStringLiteral("no frame from the KestroVar on %1 for %2 ms; %3 frames received")
                            .arg(context.portName())
                            .arg(watchdogMs)
                            .arg(frames));
            return exitNoDevice;
        }
        return exitOk;
    }
};

}  // namespace

std::unique_ptr<Command> makeMonitorCommand() {
    return std::make_unique<MonitorCommand>();
}

}  // namespace kv::cli
