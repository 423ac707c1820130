// kv_soak: the real window, on the real Qt platform and serial stack, against the simulated device on
// a pseudo-terminal, in real time, for a while (600 s unless told otherwise). It connects, watches the
// live readings, loads and saves the calibration (to the device and to files) in between, and makes
// the device misbehave: answers a byte short, a byte long or garbled, silence until the watchdog
// gives up, and the adapter pulled out and plugged back in. Message boxes are real modal boxes,
// answered by the soak like a user. It counts what happened and checks after every step that the
// window is in a state a user could make sense of; it fails on any inconsistency.
//
//   kv_soak [--seconds N] [--seed N]
#include "gui/main_window.h"
#include "core/calibration/editing_rules.h"
#include "gui/qt_platform.h"
#include "simulator/pty_device.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <map>
#include <memory>
#include <random>

#ifdef KV_HAS_PTY_DEVICE

namespace {

const QString kConnect = QStringLiteral("Connect to KestroVar");
const QString kDisconnect = QStringLiteral("Disconnect");
const QString kSaveOk = QStringLiteral("Save to KestroVar Successful");
const QString kSaveFailed = QStringLiteral("Save to KestroVar Failed");
const QString kLinkFailed = QStringLiteral("Connection to KestroVar Failed");

// The real serial control, counting the blocks the window takes from it.
class CountingSerial : public kv::SerialControl {
  public:
    CountingSerial(std::unique_ptr<kv::SerialControl> inner, int& frames, int& images)
        : inner_(std::move(inner)), frames_(frames), images_(images) {
        inner_->OnComm = [this] {
            if (OnComm) {
                OnComm();
            }
        };
    }
    void setCommPort(int port) override { inner_->setCommPort(port); }
    int CommPort() const override { return inner_->CommPort(); }
    void setSettings(const QString& settings) override { inner_->setSettings(settings); }
    bool PortOpen() const override { return inner_->PortOpen(); }
    bool setPortOpen(bool open) override { return inner_->setPortOpen(open); }
    void setRThreshold(int bytes) override { inner_->setRThreshold(bytes); }
    void setInputLen(int bytes) override { inner_->setInputLen(bytes); }
    bool Output(std::uint8_t byte) override { return inner_->Output(byte); }
    QByteArray Input() override {
        QByteArray block = inner_->Input();
        frames_ += block.size() == kv::kMonitoringFrameSize;
        images_ += block.size() == kv::kSettingsImageSize;
        return block;
    }
    int InBufferCount() const override { return inner_->InBufferCount(); }
    void discardInBuffer() override { inner_->discardInBuffer(); }
    int CommEvent() const override { return inner_->CommEvent(); }

  private:
    std::unique_ptr<kv::SerialControl> inner_;
    int& frames_;
    int& images_;
};

// The production platform. Message boxes are real and modal; the soak records their texts. The file
// dialog answers with the file the soak has chosen.
class SoakPlatform : public kv::QtPlatform {
  public:
    using QtPlatform::QtPlatform;
    std::unique_ptr<kv::SerialControl> createSerialControl() override {
        return std::make_unique<CountingSerial>(QtPlatform::createSerialControl(), frames, images);
    }
    void messageBox(QWidget* parent, const QString& text) override {
        messages << text;
        QtPlatform::messageBox(parent, text);
    }
    std::optional<QString> fileDialog(QWidget*, kv::FileDialogKind, const kv::FileDialogOptions&) override {
        return nextFile;
    }

    QStringList messages;
    QString nextFile;
    int frames = 0;
    int images = 0;
};

class Soak : public QObject {
  public:
    Soak(int seconds, std::uint64_t seed) : seconds_(seconds), random_(seed) {}

    bool start() {
        if (!dir_.isValid()) {
            return fail("no temporary folder");
        }
        QDir::setCurrent(dir_.path());  // comsetting.ini goes here
        portLink_ = dir_.filePath(QStringLiteral("com1"));
        if (!plugIn()) {
            return false;
        }
        kv::PortMap ports;
        ports.set(1, portLink_);
        platform_ = std::make_unique<SoakPlatform>(ports);
        window_ = std::make_unique<kv::Form1>(*platform_);
        window_->show();
        window_->comp_Click(1);
        elapsed_.start();

        // Modal boxes are answered from their own timer: a timer does not fire again while its own
        // handler runs, and the steps run inside the tick's handler, modal boxes and all.
        connect(&boxTimer_, &QTimer::timeout, this, [this] { answerMessageBox(); });
        boxTimer_.start(25);
        connect(&tick_, &QTimer::timeout, this, [this] { onTick(); });
        tick_.start(25);
        return true;
    }

    int finish() {
        tick_.stop();
        boxTimer_.stop();
        window_->close();  // the close box: shut-down writes comsetting.ini
        const QByteArray ini = [this] {
            QFile file(dir_.filePath(QStringLiteral("comsetting.ini")));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        if (!ini.startsWith(QByteArray("\x02\x00\x01\x00", 4))) {
            fail("comsetting.ini does not remember Com 1 after the close");
        }
        window_.reset();

        std::map<QString, int> messageCounts;
        for (const QString& m : platform_->messages) {
            ++messageCounts[m];
        }
        std::printf("\nkv_soak: %lld s of real time\n", static_cast<long long>(elapsed_.elapsed() / 1000));
        std::printf("  %-42s %8d\n", "monitoring frames taken by the window", platform_->frames);
        std::printf("  %-42s %8d\n", "settings images taken by the window", platform_->images);
        std::printf("  %-42s %8d\n", "samples asked of the device(s)",
                    samplesAsked_ + (device_ ? device_->model().samplesRequested : 0));
        std::printf("  %-42s %8d\n", "loads from the device", loads_);
        std::printf("  %-42s %8d\n", "  of which gave the device's calibration", loadsMatching_);
        std::printf("  %-42s %8d\n", "saves to the device", saves_);
        std::printf("  %-42s %8d\n", "  \"Successful\" (device holds the value)", savesOk_);
        std::printf("  %-42s %8d\n", "  \"Failed\"", savesFailed_);
        std::printf("  %-42s %8d\n", ".cal files saved and loaded back", fileRoundTrips_);
        std::printf("  %-42s %8d\n", "pause toggles", pauses_);
        std::printf("  %-42s %8d\n", "reconnects", reconnects_);
        for (const auto& [fault, count] : faults_) {
            std::printf("  %-42s %8d\n", qPrintable(QStringLiteral("fault: %1").arg(fault)), count);
        }
        for (const auto& [text, count] : messageCounts) {
            std::printf("  %-42s %8d\n", qPrintable(QStringLiteral("message \"%1\"").arg(text)), count);
        }
        if (platform_->frames == 0 || loads_ == 0 || savesOk_ == 0 || reconnects_ == 0) {
            fail("the soak did not get to connect, load, save and reconnect");
        }
        std::printf("kv_soak: %s (%d inconsistencies)\n", failures_ ? "FAILED" : "passed", failures_);
        return failures_ ? 1 : 0;
    }

  private:
    qint64 now() const { return elapsed_.elapsed(); }
    bool connected() const { return window_->Command1->text() == kDisconnect; }
    bool faultRecently() const { return now() - lastFaultAt_ < 6000; }

    bool fail(const char* what) {
        ++failures_;
        std::fprintf(stderr, "kv_soak: at %.1f s: %s\n", double(now()) / 1000.0, what);
        return false;
    }

    // A new pseudo-terminal behind the port's path, like an adapter plugged in.
    bool plugIn() {
        if (device_) {
            samplesAsked_ += device_->model().samplesRequested;
        }
        device_ = std::make_unique<kv::sim::PtyDevice>(
            kv::sim::DeviceOptions{std::chrono::milliseconds(20), random_()});
        QString error;
        if (!device_->start(&error)) {
            return fail(qPrintable(QStringLiteral("no pseudo-terminal: %1").arg(error)));
        }
        QFile::remove(portLink_);
        return QFile::link(device_->slavePath(), portLink_) || fail("cannot link the port path");
    }

    // A modal message box: read it, then press OK a moment later, as a person would.
    void answerMessageBox() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (!boxSeenAt_) {
                boxSeenAt_ = now();
            } else if (now() - *boxSeenAt_ > 100) {
                boxSeenAt_.reset();
                box->button(QMessageBox::Ok)->click();
            }
            return;
        }
        boxSeenAt_.reset();
    }

    void onTick() {
        if (busy_ || QApplication::activeModalWidget()) {
            return;  // the window's own message box is up: the step resumes once it is answered
        }
        if (now() >= seconds_ * 1000LL) {
            QCoreApplication::quit();
            return;
        }
        if (now() - lastReportAt_ >= 60000) {
            lastReportAt_ = now();
            std::printf("kv_soak: %3lld s: %d frames, %d loads, %d saves (%d ok), %d reconnects\n",
                        static_cast<long long>(now() / 1000), platform_->frames, loads_, saves_, savesOk_,
                        reconnects_);
            std::fflush(stdout);
        }
        checkWindow();
        if (now() >= nextStepAt_) {
            const qint64 stepStart = now();
            busy_ = true;
            step();
            busy_ = false;
            if (now() - stepStart > 100) {
                lastFrameAt_ = now();  // a transfer had the live link down for a while
            }
            checkWindow();
        }
    }

    // What a user sees must hang together.
    void checkWindow() {
        kv::Form1& w = *window_;
        const QString caption = w.Command1->text();
        if (caption != kConnect && caption != kDisconnect) {
            fail("the connect button has a caption of neither state");
        }
        if (connected()) {
            if (!w.Timer1->Enabled() || w.Timer3->Enabled()) {
                fail("connected, but the poll is off or the menu refresh runs");
            }
            // A pulled adapter closes the port under the link; the next poll finds out and takes
            // the link down, so the port may be closed for one poll interval at most.
            if (w.MSComm1->PortOpen()) {
                portClosedSince_.reset();
            } else if (!portClosedSince_) {
                portClosedSince_ = now();
            } else if (now() - *portClosedSince_ > 1000) {
                fail("connected with the port closed for more than a poll interval");
                portClosedSince_.reset();
            }
            if (w.rxMode == 1 && w.Text1->text().isEmpty()) {
                fail("readings arrived but none are shown");
            }
            if (platform_->frames != framesAtCheck_) {
                framesAtCheck_ = platform_->frames;
                lastFrameAt_ = now();
            }
            if (!faultRecently() && now() - connectedAt_ > 3000 && now() - lastFrameAt_ > 2500) {
                fail("connected, yet no reading for 2.5 s");
            }
        } else {
            portClosedSince_.reset();
            if (w.MSComm1->PortOpen() || w.Timer1->Enabled() || w.Timer4->Enabled() || !w.Timer3->Enabled()) {
                fail(
                    "disconnected, but the port is open, the poll or watchdog runs, or the menu is not "
                    "refreshed");
            }
        }
        if (w.Label6->isVisibleTo(&w) || !w.Command1->isEnabled() || !w.Command2->isEnabled() ||
            !w.Command5->isEnabled()) {
            fail("no transfer runs, yet its banner shows or its buttons are disabled");
        }
        for (const kv::TextBox* box : allBoxes()) {
            if (!box->text().isEmpty() && !kv::isNumeric(box->text())) {
                fail(qPrintable(QStringLiteral("a calibration box holds \"%1\"").arg(box->text())));
            }
        }
        const QString active = w.Text8->text();
        if (!active.isEmpty() && active != u"Yes" && active != u"No") {
            fail("the correction switch is neither Yes nor No");
        }
    }

    std::vector<const kv::TextBox*> allBoxes() const {
        std::vector<const kv::TextBox*> boxes(window_->Col.begin(), window_->Col.end());
        boxes.insert(boxes.end(), window_->Row.begin(), window_->Row.end());
        boxes.insert(boxes.end(), window_->Matrix.begin(), window_->Matrix.end());
        boxes.push_back(window_->Text7);
        return boxes;
    }

    bool editorShowsDevice() const {
        const kv::SettingsImage& s = device_->model().settings();
        for (std::size_t k = 0; k < s.matrix.size(); ++k) {
            if (window_->Matrix[k]->text() != QString::number(s.matrix[k])) {
                return false;
            }
        }
        for (std::size_t i = 0; i < s.col.size(); ++i) {
            if (window_->Col[i]->text() != QString::number(s.col[i])) {
                return false;
            }
        }
        for (std::size_t j = 0; j < s.row.size(); ++j) {
            if (window_->Row[j]->text() != QString::number(s.row[j])) {
                return false;
            }
        }
        return window_->Text8->text() == (s.correctionSwitch ? u"Yes" : u"No");
    }

    void after(int minMs, int maxMs) {
        nextStepAt_ = now() + std::uniform_int_distribution(minMs, maxMs)(random_);
    }

    void step() {
        kv::Form1& w = *window_;
        if (pluggedOutAt_) {  // the adapter comes back after a while; the menu refresh finds it
            if (now() - *pluggedOutAt_ > 1500 && !device_) {
                plugIn();
            }
            if (device_ && w.selectedPort == 1) {  // not before the window has seen it go and come back
                pluggedOutAt_.reset();
            } else if (now() - *pluggedOutAt_ > 9000) {
                fail("Com 1 came back but is not chosen again within two menu refreshes");
                pluggedOutAt_.reset();
            }
            return after(200, 200);
        }
        if (!connected()) {
            if (w.selectedPort != 1) {
                return after(200, 200);
            }
            device_->model().setSilent(false);
            w.Command1->click();
            reconnects_ += everConnected_;
            everConnected_ = true;
            connectedAt_ = lastFrameAt_ = now();
            return after(1500, 3000);
        }

        const int roll = std::uniform_int_distribution(0, 99)(random_);
        if (roll < 25) {
            return after(1000, 4000);  // just watch the readings
        }
        if (roll < 40) {
            return loadFromDevice();
        }
        if (roll < 55) {
            return saveToDevice();
        }
        if (roll < 62) {
            return fileRoundTrip();
        }
        if (roll < 67) {
            ++pauses_;
            w.Command11->click();
            return after(1000, 2000);
        }
        return injectFault(roll);
    }

    void loadFromDevice() {
        const bool clean = !faultRecently();
        ++loads_;
        window_->Command2->click();  // runs its settle waits inside
        if (editorShowsDevice()) {
            ++loadsMatching_;
            haveGoodEditor_ = true;
        } else if (clean) {
            fail("a load without a fault left the editor different from the device");
        } else {
            haveGoodEditor_ = false;
        }
        after(500, 2000);
    }

    void saveToDevice() {
        kv::Form1& w = *window_;
        if (!haveGoodEditor_) {
            return loadFromDevice();
        }
        const int cell = std::uniform_int_distribution(0, 29)(random_);
        const int value = std::uniform_int_distribution(0, 255)(random_);
        w.Matrix[std::size_t(cell)]->setText(QString::number(value));
        w.Matrix_LostFocus(cell);
        const bool clean = !faultRecently();
        const qsizetype before = platform_->messages.size();
        ++saves_;
        w.Command5->click();  // write, settle, read back; ends with a message
        const QStringList said = platform_->messages.mid(before);
        if (said.contains(kSaveOk)) {
            ++savesOk_;
            if (device_->model().settings().matrix[std::size_t(cell)] != value) {
                fail("\"Save to KestroVar Successful\" but the device holds another value");
            }
        } else if (said.contains(kSaveFailed)) {
            ++savesFailed_;
            if (clean) {
                fail("\"Save to KestroVar Failed\" without a fault");
            }
        } else if (clean) {
            fail(qPrintable(QStringLiteral("a save without a fault said: %1").arg(said.join(u'|'))));
        }
        after(500, 2000);
    }

    void fileRoundTrip() {
        kv::Form1& w = *window_;
        const std::vector<const kv::TextBox*> boxes = allBoxes();
        QStringList before;
        for (const kv::TextBox* box : boxes) {
            before << box->text();
        }
        const QString activeBefore = w.Text8->text();
        const bool complete =
            std::none_of(before.begin(), before.end(), [](const QString& t) { return t.isEmpty(); });
        platform_->nextFile = dir_.filePath(QStringLiteral("soak-%1.cal").arg(fileRoundTrips_ % 4));
        w.Command9->click();
        if (complete && !QFile::exists(platform_->nextFile)) {
            fail("a complete calibration was not saved to its file");
        }
        if (!QFile::exists(platform_->nextFile)) {
            return after(500, 1000);
        }
        // Spoil one box, then load the file: everything is as it was.
        w.Matrix[0]->setText(QStringLiteral("1"));
        w.Command10->click();
        QStringList afterLoad;
        for (const kv::TextBox* box : boxes) {
            afterLoad << box->text();
        }
        if (afterLoad != before || w.Text8->text() != activeBefore) {
            fail("a .cal file did not load back what was saved");
        }
        ++fileRoundTrips_;
        after(500, 1500);
    }

    void injectFault(int roll) {
        kv::sim::DeviceModel& model = device_->model();
        lastFaultAt_ = now();
        const int kind = roll % 6;
        if (kind == 0) {
            ++faults_["answer a byte short"];
            model.dropByteOfNextAnswer();
        } else if (kind == 1) {
            ++faults_["answer a byte long"];
            model.addByteToNextAnswer();
        } else if (kind == 2) {
            ++faults_["answer garbled"];
            model.garbleNextAnswer();
        } else if (kind == 3) {
            // Silent until the watchdog has given up and the link is down.
            ++faults_["silent until the watchdog fires"];
            model.setSilent(true);
            return after(2500, 3000);
        } else if (kind == 4) {
            ++faults_["adapter pulled out and back"];
            device_->vanish();
            samplesAsked_ += device_->model().samplesRequested;
            device_.reset();
            QFile::remove(portLink_);
            pluggedOutAt_ = now();
            return after(300, 300);
        } else {
            // A fault just before a transfer.
            ++faults_["answer garbled, then a transfer"];
            model.garbleNextAnswer();
            return roll % 2 ? loadFromDevice() : saveToDevice();
        }
        after(1000, 3000);
    }

    int seconds_;
    std::mt19937_64 random_;
    QTemporaryDir dir_;
    QString portLink_;
    std::unique_ptr<kv::sim::PtyDevice> device_;
    std::unique_ptr<SoakPlatform> platform_;
    std::unique_ptr<kv::Form1> window_;
    QTimer tick_;
    QTimer boxTimer_;
    QElapsedTimer elapsed_;
    std::optional<qint64> boxSeenAt_;
    std::optional<qint64> pluggedOutAt_;
    std::optional<qint64> portClosedSince_;
    bool busy_ = false;
    bool everConnected_ = false;
    bool haveGoodEditor_ = false;
    qint64 nextStepAt_ = 0;
    qint64 lastReportAt_ = 0;
    qint64 lastFaultAt_ = -100000;
    qint64 connectedAt_ = 0;
    qint64 lastFrameAt_ = 0;
    int framesAtCheck_ = 0;
    int samplesAsked_ = 0;

    int failures_ = 0;
    int loads_ = 0;
    int loadsMatching_ = 0;
    int saves_ = 0;
    int savesOk_ = 0;
    int savesFailed_ = 0;
    int fileRoundTrips_ = 0;
    int pauses_ = 0;
    int reconnects_ = 0;
    std::map<QString, int> faults_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The soak's many loads and saves go into a history of its own, not the user's.
    QTemporaryDir history;
    if (qEnvironmentVariableIsEmpty("KESTROVAR_HISTORY")) {
        qputenv("KESTROVAR_HISTORY", history.filePath(QStringLiteral("history")).toLocal8Bit());
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Real-time soak of KestroVar Link against the simulated device."));
    parser.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("How long to run (600)."),
                                     QStringLiteral("N"), QStringLiteral("600"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Which series of steps (1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    parser.addOptions({seconds, seed});
    parser.process(app);

    Soak soak(parser.value(seconds).toInt(), parser.value(seed).toULongLong());
    if (!soak.start()) {
        return 1;
    }
    app.exec();
    return soak.finish();
}

#else

int main() {
    std::fputs("kv_soak needs pseudo-terminals, which this system does not offer\n", stderr);
    return 2;
}

#endif
