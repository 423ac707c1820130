#include "gui/bench_hook.h"

#include "gui/correction_map_window.h"
#include "gui/main_window.h"
#include "gui/trend_tools.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kv {

namespace {

long long monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool benchEnabled() {
    static const bool enabled = std::getenv("KESTROVAR_BENCH") != nullptr;
    return enabled;
}

void benchMark(const char* event, const QString& detail) {
    if (!benchEnabled()) {
        return;
    }
    const long long now = monotonicNs();
    if (detail.isEmpty()) {
        std::fprintf(stderr, "kv-bench %lld %s\n", now, event);
    } else {
        std::fprintf(stderr, "kv-bench %lld %s %s\n", now, event, qPrintable(detail));
    }
}

std::unique_ptr<BenchHook> BenchHook::attach(Form1& window) {
    if (!benchEnabled()) {
        return nullptr;
    }
    return std::unique_ptr<BenchHook>(new BenchHook(window));
}

BenchHook::BenchHook(Form1& window) : window_(window) {
    // Times the way from the line to the boxes: the session stamps a frame when it takes it off
    // the line, and the window publishes it once its seven boxes hold the new texts.
    connect(window_.frameFeed, &FrameFeed::frameReceived, this, [](const FeedFrame& frame) {
        if (frame.readNs != 0) {
            benchMark("frame", QString::number(monotonicNs() - frame.readNs));
        }
    });
    // An image is marked once the window has filled the editor with it, which its receive handler
    // does before the event loop runs again.
    connect(window_.session.get(), &DeviceSession::imageReceived, this, [this] {
        const long long start = monotonicNs();
        QTimer::singleShot(0, this,
                           [start] { benchMark("settings", QString::number(monotonicNs() - start)); });
    });
    qApp->installEventFilter(this);

#ifdef Q_OS_UNIX
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(input_.get(), &QSocketNotifier::activated, this, &BenchHook::readCommands);
    benchMark("ready");
#endif
}

BenchHook::~BenchHook() {
    qApp->removeEventFilter(this);
}

bool BenchHook::eventFilter(QObject* watched, QEvent* event) {
    if (!shown_ && event->type() == QEvent::Expose && watched == window_.windowHandle()) {
        shown_ = true;
        // The exposure is painted while it is handled; mark once that is done.
        QTimer::singleShot(0, this, [] { benchMark("shown"); });
    } else if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched)) {
            benchMark("message", box->text());
            QTimer::singleShot(0, box, [box] { box->accept(); });
        }
    }
    return false;
}

void BenchHook::readCommands() {
#ifdef Q_OS_UNIX
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) {
            pending_.append(buffer, n);
            continue;
        }
        if (n == 0) {
            input_->setEnabled(false);  // the driving script has gone
        }
        break;
    }
#endif
    if (busy_) {
        return;  // a transfer lets events run; its caller picks up the rest afterwards
    }
    busy_ = true;
    for (qsizetype eol = pending_.indexOf('\n'); eol >= 0; eol = pending_.indexOf('\n')) {
        const QByteArray command = pending_.left(eol).trimmed();
        pending_.remove(0, eol + 1);
        run(command);
    }
    busy_ = false;
}

void BenchHook::run(const QByteArray& command) {
    QAbstractButton* button = nullptr;
    if (command == "connect" || command == "disconnect") {
        button = window_.Command1;
    } else if (command == "load") {
        button = window_.Command2;
    } else if (command == "save") {
        button = window_.Command5;
    } else if (command == "pause") {
        button = window_.Command11;
    } else if (command == "chart") {
        benchMark("begin", QString::fromLatin1(command));
        window_.trendTools->TrendChart_Click();
        benchMark("end", QString::fromLatin1(command));
        return;
    } else if (command == "map") {
        benchMark("begin", QString::fromLatin1(command));
        window_.correctionMap->CorrectionMap_Click();
        benchMark("end", QString::fromLatin1(command));
        return;
    } else if (command.startsWith("record ")) {
        benchMark("begin", QStringLiteral("record"));
        window_.trendTools->startRecording(QString::fromLocal8Bit(command.mid(7)));
        benchMark("end", QStringLiteral("record"));
        return;
    } else if (command == "quit") {
        benchMark("begin", QString::fromLatin1(command));
        window_.close();
        return;
    } else {
        benchMark("unknown", QString::fromLatin1(command));
        return;
    }
    benchMark("begin", QString::fromLatin1(command));
    button->click();  // a disabled button ignores it, as it would a user
    benchMark("end", QString::fromLatin1(command));
}

}  // namespace kv
