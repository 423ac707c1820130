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

int checkArguments(Context& context, const Command& command, const Arguments& args, int positionals,
                   const QString& what) {
    if (!args.error.isEmpty()) {
        return usageError(context, command, args.error);
    }
    if (args.positional.size() > positionals) {
        return usageError(context, command,
                          QStringLiteral("unexpected \"%1\"").arg(args.positional[positionals]));
    }
    if (args.positional.size() < positionals) {
        return usageError(context, command, QStringLiteral("no %1 given").arg(what));
    }
    return exitOk;
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
