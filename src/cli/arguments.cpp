#include "cli/commands.h"

#include "core/calibration/calibration_rules.h"
#include "core/calibration/calibration_text.h"

namespace kv::cli {

std::optional<QString> Arguments::value(const QString& option) const {
    const auto it = values.find(option);
    return it == values.end() ? std::nullopt : std::optional<QString>(it->second);
}

Arguments parseArguments(const QStringList& words, const std::set<QString>& flags,
                         const std::set<QString>& valued, const std::set<QString>& optionalValue) {
    Arguments parsed;
    for (qsizetype i = 0; i < words.size(); ++i) {
        QString word = words[i];
        if (word == QStringLiteral("--")) {
            parsed.positional += words.mid(i + 1);
            break;
        }
        if (!word.startsWith(u'-') || word == QStringLiteral("-")) {
            parsed.positional << word;
            continue;
        }
        std::optional<QString> inlineValue;
        if (const qsizetype eq = word.indexOf(u'='); eq > 0) {
            inlineValue = word.mid(eq + 1);
            word = word.left(eq);
        }
        if (flags.count(word) && !inlineValue) {
            parsed.flags.insert(word);
        } else if (valued.count(word)) {
            if (inlineValue) {
                parsed.values[word] = *inlineValue;
            } else if (i + 1 < words.size()) {
                parsed.values[word] = words[++i];
            } else {
                parsed.error = QStringLiteral("%1 needs a value").arg(word);
                return parsed;
            }
        } else if (optionalValue.count(word)) {
            if (inlineValue) {
                parsed.values[word] = *inlineValue;
            } else if (i + 1 < words.size() && !words[i + 1].startsWith(u'-')) {
                parsed.values[word] = words[++i];
            } else {
                parsed.flags.insert(word);
            }
        } else {
            parsed.error = QStringLiteral("unknown option %1").arg(words[i]);
            return parsed;
        }
    }
    return parsed;
}

int usageError(Context& context, const Command& command, const QString& problem) {
    context.err(QStringLiteral("%1 %2: %3; %1 %2 --help says how\n")
                    .arg(context.program, command.name(), problem)
                    .toUtf8());
    return exitUsage;
}

int Command::execute(Context& context, const QStringList& words) {
    if (words.contains(QStringLiteral("--help")) || words.contains(QStringLiteral("-h"))) {
        context.out(help().toUtf8());
        return exitOk;
    }
    if (info_.needsPort && context.port == 0) {
        context.err(QStringLiteral("%1: no port: give --port N or PATH, or choose one in KestroVar Link\n")
                        .arg(context.program)
                        .toUtf8());
        return exitUsage;
    }
    Arguments args = parseArguments(words, info_.flags, info_.valued, info_.optionalValue);
    if (const QString problem = usageProblem(context, args); !problem.isEmpty()) {
        return usageError(context, *this, problem);
    }
    return run(context, args);
}

QString Command::usageProblem(const Context& context, Arguments& args) const {
    const qsizetype operands = info_.operand.isEmpty() ? 0 : 1;
    if (!args.error.isEmpty()) {
        return args.error;
    }
    if (args.positional.size() > operands) {
        return QStringLiteral("unexpected \"%1\"").arg(args.positional[operands]);
    }
    if (args.positional.size() < operands && info_.operandNeeded) {
        return QStringLiteral("no %1 given").arg(info_.operand);
    }
    const QString unitOption = QStringLiteral("--unit");
    if (!context.unit.isEmpty() && info_.valued.count(unitOption)) {
        // The same unit, whichever side of the command it stands.
        const QString own = args.value(unitOption).value_or(context.unit).trimmed();
        if (own != context.unit) {
            return QStringLiteral("--unit %1 before the command and --unit %2 after it differ")
                .arg(context.unit, own);
        }
        args.values[unitOption] = context.unit;
    } else if (!context.unit.isEmpty() && !info_.keepsRecords && !(context.publisher && info_.needsPort)) {
        // Published, the unit also names the topics of a command that talks to a device.
        return QStringLiteral(
                   "--unit names the unit of the records a command keeps or reads; %1 keeps and "
                   "reads none")
            .arg(name());
    }
    QStringList given(args.flags.begin(), args.flags.end());
    for (const auto& [option, value] : args.values) {
        given << option;
    }
    for (const QString& option : info_.alone) {
        for (const QString& other : given) {
            if (given.contains(option) && other != option) {
                return QStringLiteral("%1 does not go with %2").arg(option, other);
            }
        }
    }
    return {};
}

std::unique_ptr<DeviceSession> openSession(Context& context, std::size_t blockSize, int* exitCode) {
    auto session = std::make_unique<DeviceSession>(context.platform);
    session->serial().setCommPort(context.port);
    session->expect(blockSize);
    if (!session->open()) {
        *exitCode = portFailure(context);
        return nullptr;
    }
    return session;
}

DeviceRead readDevice(Context& context, const QString& noAnswerTail) {
    DeviceRead read;
    read.session = openSession(context, kSettingsImageSize, &read.exitCode);
    if (!read.session) {
        return read;
    }
    read.calibration = read.session->readCalibration();
    if (!read.calibration) {
        context.say(QStringLiteral("no answer from the KestroVar on %1").arg(context.portName()) +
                    noAnswerTail);
        read.exitCode = exitNoDevice;
    }
    return read;
}

WantedCalibration wantedCalibration(Context& context, const QString& path) {
    WantedCalibration wanted;
    const FileLoad load = readFile(context, path);
    if (!load.content) {
        wanted.exitCode = load.exitCode;
        return wanted;
    }
    const CompleteFile file = parseCompleteCalibrationFile(*load.content);
    if (!file.texts) {
        context.say(QStringLiteral("%1: %2").arg(path, file.problem));
        wanted.exitCode = exitBadFile;
        return wanted;
    }
    if (const auto refusal = saveRefusal(*file.texts)) {
        context.say(QStringLiteral("%1: %2").arg(path, *refusal));
        wanted.exitCode = exitBadFile;
        return wanted;
    }
    wanted.texts = *file.texts;
    wanted.calibration = calibrationFromTexts(*file.texts);
    return wanted;
}

}  // namespace kv::cli
