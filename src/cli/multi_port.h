// One command on several ports at once: a production line writes and verifies a known-good
// calibration on every unit in the time of one, since nearly all of a write is the device's waits.
#pragma once

#include "cli/cli.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace kv::cli {

// A port as given with --port, with the unit that goes with it.
struct PortTarget {
    QString given;  // the text after --port; it begins every line this port's work prints
    QString unit;   // --unit given in the same place in the order, or empty
};

// The commands that may run on several ports.
bool runsOnSeveralPorts(const QString& command);

// The usage problem of the targets, or empty: a port given twice, directly or as two paths (or a Com
// number and a path) of the same device. `deviceOf` gives the device a target names, as resolved as
// the system allows; empty when the target names no device at all.
QString duplicatePortProblem(const std::vector<PortTarget>& targets,
                             const std::function<QString(const PortTarget&)>& deviceOf);

// What one port's work came to: its exit status and, where the status alone does not tell the
// failures apart (a port that is not there and a unit that does not answer are both 69), the
// context's own words for it.
struct PortOutcome {
    int status = exitOk;
    QString why;
};

// Runs one port's work: the command with its own platform and context, whose out and err go to the
// given sinks. Returns what it came to.
using PortWork =
    std::function<PortOutcome(const PortTarget& target, const std::function<void(const QByteArray&)>& out,
                              const std::function<void(const QByteArray&)>& err)>;

struct SeveralPorts {
    std::vector<PortTarget> targets;
    PortWork work;
    bool concurrent = true;  // a thread a port; the tests run them one after the other in virtual time
    bool quiet = false;      // no summary line
    QString verb = QStringLiteral("verified");
    std::function<void(const QByteArray&)> out;
    std::function<void(const QByteArray&)> err;
};

// Runs the work on every target and waits for all. Every line a port prints, on either stream,
// comes out whole and begins with "PORT: ". The last line on stderr sums up ("3 of 4 verified;
// /dev/ttyUSB2: no answer; /dev/ttyUSB3: not there"). The status is 0 when every port succeeded, otherwise
// that of the first port, in the order given, that did not.
int runOnSeveralPorts(const SeveralPorts& run);

// What an exit status means, in a few words, for the summary line.
QString exitPhrase(int status);

}  // namespace kv::cli
