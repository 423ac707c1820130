// kv_bench_frame: the way of one monitoring frame through the real main window, from the 25-byte
// block handed to the receive handler to the seven monitoring boxes showing it.
//   handled   the receive handler: decode, format, seven texts set, watchdog restarted
//   painted   the same plus the repaint that shows the new texts (the pending paint events run)
// Each frame carries readings different from the one before, so every box changes every time.
// Usage: kv_bench_frame [ITERATIONS [GAP_MS]]. With a gap the frames come paced, with the event loop
// idle in between as in the live program, so caches are as cold as they are there.
// Prints "key value" lines: iterations, then median and 99th percentile in nanoseconds.
#include "gui/main_window.h"
#include "protocol/device_protocol.h"
#include "core/readings/readings.h"
#include "gui/qt_platform.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A serial port that always has one whole monitoring frame waiting.
class FrameSource : public kv::SerialControl {
  public:
    void setCommPort(int port) override { port_ = port; }
    int CommPort() const override { return port_; }
    void setSettings(const QString&) override {}
    bool PortOpen() const override { return open_; }
    bool setPortOpen(bool open) override {
        open_ = open;
        return true;
    }
    void setRThreshold(int) override {}
    void setInputLen(int) override {}
    bool Output(std::uint8_t) override { return open_; }
    QByteArray Input() override { return block; }
    int InBufferCount() const override { return int(block.size()); }
    void discardInBuffer() override {}
    int CommEvent() const override { return kv::comEvReceive; }

    QByteArray block;

  private:
    int port_ = 1;
    bool open_ = false;
};

// The production platform with the frame source as its serial port and comsetting.ini kept in memory.
class BenchPlatform : public kv::QtPlatform {
  public:
    BenchPlatform() : QtPlatform(kv::PortMap()) {}
    std::unique_ptr<kv::SerialControl> createSerialControl() override {
        auto source = std::make_unique<FrameSource>();
        serial = source.get();
        return source;
    }
    std::optional<QByteArray> readBinaryFile(const QString&) override { return QByteArray(); }
    bool writeBinaryFile(const QString&, const QByteArray&) override { return true; }

    FrameSource* serial = nullptr;
};

QByteArray frameBytes(int i) {
    kv::MonitoringFrame frame;
    const float step = float(i % 500);
    frame.sample = {2.5f + 0.001f * step, 71.0f + 0.1f * step, 48.0f + 0.1f * step,
                    2.6f + 0.001f * step, 69.5f + 0.1f * step, 69.5f + 0.1f * step};
    frame.correctionActive = 1;
    const kv::MonitoringBytes bytes = kv::encodeMonitoringFrame(frame);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

struct Figures {
    long long median;
    long long p99;
};

Figures figures(std::vector<long long> ns) {
    std::sort(ns.begin(), ns.end());
    return {ns[ns.size() / 2], ns[std::min(ns.size() - 1, ns.size() * 99 / 100)]};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const int iterations = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
    const int gapMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    QApplication app(argc, argv);
    BenchPlatform platform;
    kv::Form1 window(platform);
    window.show();
    QApplication::processEvents();

    std::vector<QByteArray> frames;
    for (int i = 0; i < 1000; ++i) {
        frames.push_back(frameBytes(i));
    }
    platform.serial->setPortOpen(true);
    auto handle = [&](int i) {
        platform.serial->block = frames[std::size_t(i) % frames.size()];
        platform.serial->OnComm();
    };
    for (int i = 0; i < 200; ++i) {  // warm up
        handle(i);
        QApplication::processEvents();
    }

    std::vector<long long> handled;
    std::vector<long long> painted;
    handled.reserve(std::size_t(iterations));
    painted.reserve(std::size_t(iterations));
    for (int i = 0; i < iterations; ++i) {
        if (gapMs > 0) {
            QEventLoop idle;
            QTimer::singleShot(gapMs, &idle, &QEventLoop::quit);
            idle.exec();
        }
        const auto start = Clock::now();
        handle(i);
        const auto afterHandler = Clock::now();
        QApplication::processEvents();
        const auto afterPaint = Clock::now();
        handled.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(afterHandler - start).count());
        painted.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(afterPaint - start).count());
    }
    if (window.Text1->text() != kv::voltageText(window.monitoringSample[0])) {
        std::fprintf(stderr, "kv_bench_frame: the boxes do not show the frames\n");
        return 1;
    }

    const Figures h = figures(handled);
    const Figures p = figures(painted);
    std::printf("iterations %d\n", iterations);
    std::printf("handled_median_ns %lld\nhandled_p99_ns %lld\n", h.median, h.p99);
    std::printf("painted_median_ns %lld\npainted_p99_ns %lld\n", p.median, p.p99);
    return 0;
}
