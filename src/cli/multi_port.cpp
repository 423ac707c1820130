#include "cli/multi_port.h"

#include <QThread>

#include <map>
#include <memory>
#include <mutex>

namespace kv::cli {

bool runsOnSeveralPorts(const QString& command) {
    return command == QLatin1String("write") || command == QLatin1String("verify") ||
           command == QLatin1String("restore");
}

QString duplicatePortProblem(const std::vector<PortTarget>& targets,
                             const std::function<QString(const PortTarget&)>& deviceOf) {
    std::map<QString, QString> seen;  // device -> the port as first given
    for (const PortTarget& target : targets) {
        const QString device = deviceOf(target);
        const QString key = device.isEmpty() ? target.given : device;
        const auto [at, fresh] = seen.emplace(key, target.given);
        if (fresh) {
            continue;
        }
        if (at->second == target.given) {
            return QStringLiteral("--port %1 is given twice").arg(target.given);
        }
        return QStringLiteral("--port %1 and --port %2 are the same device (%3)")
            .arg(at->second, target.given, key);
    }
    return {};
}

QString exitPhrase(int status) {
    switch (status) {
        case exitOk:
            return QStringLiteral("done");
        case exitDiffers:
            return QStringLiteral("not verified");
        case exitUsage:
            return QStringLiteral("usage error");
        case exitBadFile:
            return QStringLiteral("bad file");
        case exitNoInput:
            return QStringLiteral("file not found or unreadable");
        case exitNoDevice:
            return QStringLiteral("no answer");
        case exitCantWrite:
            return QStringLiteral("output cannot be written");
        case exitIoError:
            return QStringLiteral("standard output cannot be written");
        case exitPortBusy:
            return QStringLiteral("in use by another program");
        case exitNoPermission:
            return QStringLiteral("no permission");
        default:
            return status > exitSignalled
                       ? QStringLiteral("stopped by %1").arg(signalName(status - exitSignalled))
                       : QStringLiteral("status %1").arg(status);
    }
}

namespace {

// Cuts what one port writes into whole lines, each sent on with the port's prefix. The lines of
// all ports meet in one sink under one lock, so no two lines ever mix.
class PrefixedLines {
  public:
    PrefixedLines(QByteArray prefix, std::function<void(const QByteArray&)> sink, std::mutex& lock)
        : prefix_(std::move(prefix)), sink_(std::move(sink)), lock_(lock) {}

    void write(const QByteArray& bytes) {
        pending_ += bytes;
        const qsizetype end = pending_.lastIndexOf('\n');
        if (end < 0) {
            return;
        }
        QByteArray lines;
        qsizetype from = 0;
        while (from <= end) {
            const qsizetype newline = pending_.indexOf('\n', from);
            lines += prefix_ + pending_.mid(from, newline + 1 - from);
            from = newline + 1;
        }
        pending_.remove(0, end + 1);
        const std::lock_guard<std::mutex> hold(lock_);
        sink_(lines);
    }
    // A last line without its line end still gets one.
    void finish() {
        if (!pending_.isEmpty()) {
            write(QByteArrayLiteral("\n"));
        }
    }

  private:
    QByteArray prefix_;
    std::function<void(const QByteArray&)> sink_;
    std::mutex& lock_;
    QByteArray pending_;
};

}  // namespace

int runOnSeveralPorts(const SeveralPorts& run) {
    std::mutex lock;
    const std::size_t n = run.targets.size();
    std::vector<PortOutcome> outcomes(n);
    auto one = [&](std::size_t i) {
        const PortTarget& target = run.targets[i];
        const QByteArray prefix = target.given.toUtf8() + ": ";
        PrefixedLines out(prefix, run.out, lock);
        PrefixedLines err(prefix, run.err, lock);
        outcomes[i] = run.work(
            target, [&out](const QByteArray& b) { out.write(b); },
            [&err](const QByteArray& b) { err.write(b); });
        out.finish();
        err.finish();
    };
    if (run.concurrent) {
        // A thread a port: each command is written as one sequence of waits on its own device, and
        // a thread with its own event loop keeps it so; the waits overlap.
        std::vector<std::unique_ptr<QThread>> threads;
        for (std::size_t i = 0; i < n; ++i) {
            threads.emplace_back(QThread::create([&one, i] { one(i); }));
            threads.back()->start();
        }
        for (const auto& thread : threads) {
            thread->wait();
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            one(i);
        }
    }

    int status = exitOk;
    int succeeded = 0;
    QString failures;
    for (std::size_t i = 0; i < n; ++i) {
        const PortOutcome& outcome = outcomes[i];
        if (outcome.status == exitOk) {
            ++succeeded;
            continue;
        }
        if (status == exitOk) {
            status = outcome.status;
        }
        failures +=
            QStringLiteral("; %1: %2")
                .arg(run.targets[i].given, outcome.why.isEmpty() ? exitPhrase(outcome.status) : outcome.why);
    }
    if (!run.quiet) {
        run.err(QStringLiteral("%1 of %2 %3%4\n").arg(succeeded).arg(n).arg(run.verb, failures).toUtf8());
    }
    return status;
}

}  // namespace kv::cli
