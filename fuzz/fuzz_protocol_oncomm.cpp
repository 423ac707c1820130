// The receive handler of a real window, fed arbitrary blocks and port events. The input is a
// series of chunks; the first byte of each says what arrives:
//   low bits 00: a 25-byte block, 01: a 43-byte block, 10: a block of (byte >> 2) bytes,
//   11: a port event other than data received (break, framing, overrun, overflow, parity, other)
//       while a whole frame waits.
// The handler must never crash, and must leave the window in a state a user could see.
#include "gui/main_window.h"

#include <QApplication>

#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

class FuzzSerial : public kv::SerialControl {
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
    void setInputLen(int bytes) override { inputLen_ = bytes; }
    bool Output(std::uint8_t) override { return open_; }
    QByteArray Input() override {
        QByteArray block = waiting.left(inputLen_);
        waiting.remove(0, block.size());
        return block;
    }
    int InBufferCount() const override { return int(waiting.size()); }
    void discardInBuffer() override { waiting.clear(); }
    int CommEvent() const override { return event; }

    QByteArray waiting;
    int event = 0;

  private:
    int port_ = 1;
    int inputLen_ = 0;
    bool open_ = false;
};

class IdleTimer : public kv::IntervalTimer {
  public:
    void setInterval(int ms) override { interval_ = ms; }
    int Interval() const override { return interval_; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool Enabled() const override { return enabled_; }
    int RemainingMs() const override { return enabled_ ? interval_ : -1; }

  private:
    int interval_ = 0;
    bool enabled_ = false;
};

class FuzzPlatform : public kv::Platform {
  public:
    std::unique_ptr<kv::SerialControl> createSerialControl() override {
        auto control = std::make_unique<FuzzSerial>();
        serial = control.get();
        return control;
    }
    std::unique_ptr<kv::IntervalTimer> createTimer() override { return std::make_unique<IdleTimer>(); }
    void doEvents() override {}
    void sleep(int) override {}
    qint64 nowMs() const override { return 0; }
    qint64 steadyMs() const override { return 0; }
    void waitUntil(const std::function<bool()>&, int) override {}
    void messageBox(QWidget*, const QString&) override { ++messages; }
    std::optional<QString> inputText(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> fileDialog(QWidget*, kv::FileDialogKind, const kv::FileDialogOptions&) override {
        return std::nullopt;
    }
    bool portExists(int port) override { return port == 1; }
    QString portSystemName(int port) const override { return QStringLiteral("COM%1").arg(port); }
    std::optional<kv::PortStatus> portProblem(int) override { return std::nullopt; }
    kv::AdapterInfo portAdapter(int port) override { return {portSystemName(port), {}, {}, {}, {}}; }
    void printNotice(const QString&) override {}
    std::optional<QByteArray> readBinaryFile(const QString&) override { return QByteArray(); }
    bool writeBinaryFile(const QString&, const QByteArray&) override { return true; }
    std::optional<QByteArray> readTextFile(const QString&, kv::FileError*) override { return std::nullopt; }
    bool writeTextFileAtomically(const QString&, const QByteArray&, kv::FileError*) override { return false; }
    void endProcess() override {}

    FuzzSerial* serial = nullptr;
    int messages = 0;
};

struct Fixture {
    Fixture() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_protocol_oncomm";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        window = std::make_unique<kv::Form1>(platform);
        window->comp_Click(1);
    }
    std::unique_ptr<QApplication> app;
    FuzzPlatform platform;
    std::unique_ptr<kv::Form1> window;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    kv::Form1& w = *fixture.window;
    FuzzSerial& serial = *fixture.platform.serial;
    const int otherEvents[] = {kv::comEvBreak,  kv::comEvFrame,    kv::comEvOverrun,
                               kv::comEvRxOver, kv::comEvRxParity, 3};

    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t head = data[i++];
        const int kind = head & 3;
        if (kind == 3) {
            // A whole frame waits, yet a line error reads nothing and changes nothing.
            serial.waiting = QByteArray(25, '\x01');
            const QString text1Before = w.Text1->text();
            serial.event = otherEvents[(head >> 2) % 6];
            w.MSComm1_OnComm();
            check(serial.waiting.size() == 25 && w.Text1->text() == text1Before);
            serial.waiting.clear();
            continue;
        }
        const std::size_t length = kind == 0 ? 25 : kind == 1 ? 43 : std::size_t(head >> 2);
        const std::size_t take = std::min(length, size - i);
        serial.waiting.append(reinterpret_cast<const char*>(data + i), qsizetype(take));
        i += take;
        const int rxBefore = w.rxMode;
        const QString text1Before = w.Text1->text();
        serial.setInputLen(int(length));
        serial.event = kv::comEvReceive;
        w.MSComm1_OnComm();
        if (take == 25) {
            check(w.rxMode == 1);
            for (const kv::TextBox* box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5, w.Text6}) {
                check(!box->text().isEmpty());
            }
            check(w.Text9->text() == QStringLiteral("Yes") || w.Text9->text() == QStringLiteral("No"));
        } else if (take != 43) {
            check(w.rxMode == rxBefore && w.Text1->text() == text1Before);
        }
        serial.waiting.clear();
    }
    check(fixture.platform.messages == 0);
    w.rxMode = 0;
    return 0;
}
