// An hour of monitoring in virtual time against the simulated device, with faults injected at random
// (bytes lost and added, garbage, silences, late answers, the adapter pulled and plugged back) and a
// technician in between who loads, edits, saves, pauses the correction, disconnects and reconnects,
// and takes a while to press OK. Between any two events the window must be in one of its two resting
// states, nothing may hang, and memory must stay flat.
#include "core/calibration/calibration_rules.h"
#include "protocol/device_protocol.h"
#include "support/scripted_device.h"
#include "support/window_harness.h"

#include "gui/main_window.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kv::test {
namespace {

using namespace std::chrono_literals;

constexpr qint64 kHour = 3'600'000;
constexpr qint64 kStep = 50;  // how often the window is inspected

const QString kConnect = QStringLiteral("Connect to KestroVar");
const QString kDisconnect = QStringLiteral("Disconnect");

// What may be wrong with the window at rest; empty when nothing is.
std::string inconsistency(const Form1& w) {
    std::ostringstream out;
    auto expect = [&out](bool ok, const char* what) {
        if (!ok) {
            out << what << "; ";
        }
    };
    const QString caption = w.Command1->text();
    expect(caption == kConnect || caption == kDisconnect, "caption is neither Connect nor Disconnect");
    expect(w.Command1->isVisibleTo(&w), "connect button hidden");
    expect(!w.Label6->isVisibleTo(&w), "transfer banner still shown");
    expect(!w.Timer2->Enabled(), "transfer tick still running");
    for (const QPushButton* b : {w.Command1, w.Command2, w.Command5, w.Command11}) {
        expect(b->isEnabled(), "a link button left disabled");
    }
    if (caption == kDisconnect) {
        expect(w.Timer4->Enabled(), "connected without a watchdog");
        expect(!w.Timer3->Enabled(), "menu refresh running while connected");
        expect(w.Command11->isVisibleTo(&w), "pause button hidden while connected");
        // The adapter may vanish under an open port; the next poll finds out.
        expect(!w.MSComm1->PortOpen() || w.Timer1->Enabled(), "port open without a poll");
        expect(w.rxMode <= 1, "receive mode left in a transfer");
    } else {
        expect(!w.MSComm1->PortOpen(), "port open while disconnected");
        expect(!w.Timer1->Enabled() && !w.Timer4->Enabled(), "poll or watchdog running while disconnected");
        expect(w.Timer3->Enabled(), "menu refresh stopped while disconnected");
        expect(!w.Command11->isVisibleTo(&w), "pause button shown while disconnected");
        expect(w.rxMode == 0, "receive mode not reset");
    }
    return out.str();
}

std::size_t heapInUse() {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    return mallinfo2().uordblks;
#else
    return 0;  // the sanitizer build checks for leaks instead
#endif
}

struct SoakCounts {
    int frames = 0;
    int loads = 0;
    int cleanLoadsMatching = 0;
    int saves = 0;
    int cleanSaves = 0;
    int reconnects = 0;
    int vanishes = 0;
    int watchdogReports = 0;
    int pauses = 0;
    int faultsInTransfers = 0;
};

class Soak {
  public:
    explicit Soak(std::uint64_t seed) : rng_(seed) {
        h_.platform.presentPorts = {1};
        w_ = &h_.start();
        device_ = std::make_unique<ScriptedDevice>(h_.platform, sim::DeviceOptions{20ms, seed});
        w_->comp_Click(1);
        h_.platform.onMessageBox = [this](const QString& text) { onMessage(text); };
    }

    void run(qint64 until) {
        scheduleNext();
        for (qint64 t = kStep; t <= until; t += kStep) {
            if (h_.clock().now() < t) {
                h_.clock().advanceTo(t);
            }
            const std::string problem = inconsistency(*w_);
            ASSERT_EQ(problem, "") << "at " << h_.clock().now() << " ms";
            countFrame();
            if (h_.clock().now() >= nextActionAt_) {
                act();
                ASSERT_EQ(inconsistency(*w_), "") << "after an action at " << h_.clock().now() << " ms";
                scheduleNext();
            }
            if (t == kHour / 6) {
                heapAfterWarmUp_ = heapInUse();
            }
            // The harness's own records would grow for the whole hour; only the program's memory counts.
            h_.serial().clearLog();
            h_.platform.probes.clear();
            h_.platform.sleeps.clear();
            h_.platform.messages.clear();
        }
    }

    Form1& window() { return *w_; }
    const SoakCounts& counts() const { return counts_; }
    const std::set<QString>& messagesSeen() const { return messagesSeen_; }
    std::size_t heapAfterWarmUp() const { return heapAfterWarmUp_; }
    VirtualClock& clock() { return h_.clock(); }

  private:
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    void scheduleNext() { nextActionAt_ = h_.clock().now() + uniform(500, 20'000); }

    void onMessage(const QString& text) {
        messagesSeen_.insert(text);
        if (text == QStringLiteral("Connection to KestroVar Failed")) {
            ++counts_.watchdogReports;
        }
        // The technician reads the message before pressing OK; the program keeps running meanwhile.
        h_.platform.messageHoldMs = uniform(0, 3) == 0 ? uniform(100, 4000) : 0;
    }

    void countFrame() {
        const QString reading = w_->Text1->text() + w_->Text2->text() + w_->Text3->text() +
                                w_->Text4->text() + w_->Text5->text() + w_->Text6->text();
        if (reading != lastReading_) {
            ++counts_.frames;
            lastReading_ = reading;
        }
    }

    // The line is clean when no spoiled answer has been asked for since the port was last opened:
    // a lost or extra byte leaves the receive buffer out of step until the port is reopened.
    bool lineIsClean() const {
        const auto& model = device_->model;
        return w_->Command1->text() == kDisconnect && w_->rxMode == 1 && !model.silent() &&
               model.extraDelay() == 0ms && !spoiledSinceOpen_ && pendingFaults_ == 0 &&
               h_.platform.presentPorts.count(1);
    }

    // A spoiled answer still to come keeps the line out of step after the port is reopened.
    void noteOpen() { spoiledSinceOpen_ = device_->model.answerSpoilPending(); }

    // What the editor holds, as the device would store it.
    SettingsImage editorImage() const {
        SettingsImage image;
        auto byteOf = [](const TextBox* box) { return std::uint8_t(box->text().toInt()); };
        for (std::size_t i = 0; i < image.col.size(); ++i)
            image.col[i] = byteOf(w_->Col[i]);
        for (std::size_t i = 0; i < image.row.size(); ++i)
            image.row[i] = byteOf(w_->Row[i]);
        for (std::size_t i = 0; i < image.matrix.size(); ++i)
            image.matrix[i] = byteOf(w_->Matrix[i]);
        image.delay = std::uint8_t(w_->Text7->text().toDouble() * 2);
        image.correctionSwitch = w_->Text8->text() == QStringLiteral("Yes") ? 1 : 0;
        return image;
    }

    // One fault, striking `delay` ms from now: possibly in the middle of a transfer or a pause.
    void strike(int kind, qint64 delay) {
        ++pendingFaults_;
        h_.clock().schedule(h_.clock().now() + delay, [this, kind] {
            --pendingFaults_;
            auto& model = device_->model;
            auto& clock = h_.clock();
            switch (kind) {
                case 0:
                    model.dropByteOfNextAnswer();
                    spoiledSinceOpen_ = true;
                    break;
                case 1:
                    model.addByteToNextAnswer();
                    spoiledSinceOpen_ = true;
                    break;
                case 2:
                    model.garbleNextAnswer();
                    spoiledSinceOpen_ = true;
                    break;
                case 3:
                    model.setSilent(true);
                    ++pendingFaults_;
                    clock.schedule(clock.now() + uniform(300, 4000), [this] {
                        --pendingFaults_;
                        device_->model.setSilent(false);
                    });
                    break;
                case 4:
                    model.setExtraDelay(std::chrono::milliseconds(uniform(50, 1500)));
                    ++pendingFaults_;
                    clock.schedule(clock.now() + uniform(300, 10'000), [this] {
                        --pendingFaults_;
                        device_->model.setExtraDelay(0ms);
                    });
                    break;
                default:
                    ++counts_.vanishes;
                    h_.serial().vanish();
                    ++pendingFaults_;
                    clock.schedule(clock.now() + uniform(1000, 15'000), [this] {
                        --pendingFaults_;
                        h_.platform.presentPorts.insert(1);
                    });
                    break;
            }
        });
    }

    void load() {
        const bool clean = lineIsClean();
        ++counts_.loads;
        w_->Command2_Click();
        if (clean) {
            EXPECT_EQ(editorImage(), device_->model.settings())
                << "a load on a clean line at " << h_.clock().now();
            ++counts_.cleanLoadsMatching;
        }
    }

    void save() {
        const std::size_t before = h_.platform.messages.size();
        w_->Command13_Click();  // the table moves by 10 °F, clamped at its limits
        // A garbled answer may have left values the editor would never keep; those are refused.
        const bool clean = lineIsClean() && !saveRefusal(w_->editorTexts());
        ++counts_.saves;
        w_->Command5_Click();
        if (clean) {
            ++counts_.cleanSaves;
            ASSERT_GT(h_.platform.messages.size(), before);
            EXPECT_EQ(h_.platform.messages.back().text, QStringLiteral("Save to KestroVar Successful"))
                << "a save on a clean line at " << h_.clock().now() << " ms";
            EXPECT_EQ(device_->model.settings(), editorImage());
        }
    }

    void act() {
        if (w_->Command1->text() != kDisconnect) {
            // Wait for the menu to find the port again, then connect.
            if (w_->selectedPort == 1) {
                ++counts_.reconnects;
                w_->Command1_Click();
                noteOpen();
            }
            return;
        }
        const int choice = uniform(0, 13);
        if (choice <= 5) {
            strike(choice, uniform(0, 4000));
        } else if (choice <= 7) {
            load();
        } else if (choice <= 9) {
            save();
        } else if (choice == 10) {
            ++counts_.pauses;
            w_->Command11_Click();
            noteOpen();
        } else if (choice == 11) {
            w_->Command1_Click();  // disconnect; the next action connects again
        } else if (choice == 12) {
            // A fault in the middle of a transfer.
            ++counts_.faultsInTransfers;
            strike(uniform(0, 5), uniform(0, 3700));
            uniform(0, 1) ? load() : save();
        }
    }

    WindowHarness h_;
    Form1* w_ = nullptr;
    std::unique_ptr<ScriptedDevice> device_;
    std::mt19937_64 rng_;
    qint64 nextActionAt_ = 0;
    int pendingFaults_ = 0;
    bool spoiledSinceOpen_ = false;
    QString lastReading_;
    SoakCounts counts_;
    std::set<QString> messagesSeen_;
    std::size_t heapAfterWarmUp_ = 0;
};

TEST(Soak, AnHourOfMonitoringWithFaultsEndsConsistentAndFlat) {
    const std::set<QString> expectedMessages = {
        QStringLiteral("Connection to KestroVar Failed"),
        QStringLiteral("Save to KestroVar Successful"),
        QStringLiteral("Save to KestroVar Failed"),
        QStringLiteral("Must be connected to KestroVar in order to load settings."),
        QStringLiteral("Must be connected to KestroVar in order to save settings."),
        QStringLiteral("Missing data in one (or more) of the settings fields"),
        QStringLiteral("Load from KestroVar Failed"),
    };
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Soak soak(seed);
        soak.run(kHour);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
        const SoakCounts& c = soak.counts();
        // The hour really exercised the window.
        EXPECT_GT(c.frames, 1000);
        EXPECT_GT(c.cleanSaves, 5);
        EXPECT_GT(c.cleanLoadsMatching, 5);
        EXPECT_GT(c.reconnects, 10);
        EXPECT_GT(c.vanishes, 3);
        EXPECT_GT(c.watchdogReports, 3);
        for (const QString& text : soak.messagesSeen()) {
            const bool refusal = text.endsWith(QStringLiteral(" before it can be saved to the KestroVar."));
            EXPECT_TRUE(expectedMessages.count(text) || refusal) << text.toStdString();
        }
        // Memory in use after fifty minutes more is what it was after the first ten.
        if (soak.heapAfterWarmUp() > 0) {
            const auto grown = std::int64_t(heapInUse()) - std::int64_t(soak.heapAfterWarmUp());
            EXPECT_LT(grown, 64 * 1024) << "heap grew by " << grown << " bytes";
            std::printf("seed %llu: heap in use changed by %lld bytes from minute 10 to minute 60\n",
                        static_cast<unsigned long long>(seed), static_cast<long long>(grown));
        }
        EXPECT_GT(c.faultsInTransfers, 3);
        std::printf(
            "seed %llu: %d frames, %d loads, %d saves (%d on a clean line), %d faults in transfers, "
            "%d reconnects, %d pulls, %d watchdog reports, %d pauses\n",
            static_cast<unsigned long long>(seed), c.frames, c.loads, c.saves, c.cleanSaves,
            c.faultsInTransfers, c.reconnects, c.vanishes, c.watchdogReports, c.pauses);
    }
}

}  // namespace
}  // namespace kv::test
