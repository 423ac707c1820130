#include "cli/publish.h"
#include "core/system_reason.h"

#include "core/publish/mqtt_publisher.h"
#include "core/publish/topics.h"
#include "core/version.h"

#include <QFile>
#include <QSysInfo>

namespace kv::cli {

namespace {

constexpr int kConnectWaitMs = 5000;  // for the broker's first answer
constexpr int kFlushWaitMs = 5000;    // at the end, for what is queued

// Whether the command line runs a command that talks to a device (and so has readings or records).
bool publishes(const QStringList& commandLine) {
    if (commandLine.isEmpty() || commandLine.contains(QStringLiteral("--help")) ||
        commandLine.contains(QStringLiteral("-h"))) {
        return false;
    }
    for (const auto& command : allCommands()) {
        if (command->name() == commandLine.first()) {
            return command->needsPort();
        }
    }
    return false;
}

int usage(Context& context, const QString& problem) {
    context.err(QStringLiteral("%1: %2; %1 --help says how\n").arg(context.program, problem).toUtf8());
    return exitUsage;
}

}  // namespace

bool takeMqttOption(const QStringList& words, qsizetype& at, MqttOptions& options, QString* problem) {
    QString word = words[at];
    std::optional<QString> value;
    if (const qsizetype eq = word.indexOf(u'='); eq > 0) {
        value = word.mid(eq + 1);
        word = word.left(eq);
    }
    if (word == QStringLiteral("--mqtt-discovery") && !value) {
        options.discovery = true;
        return true;
    }
    QString* target = word == QStringLiteral("--mqtt")                 ? &options.url
                      : word == QStringLiteral("--mqtt-ca")            ? &options.caFile
                      : word == QStringLiteral("--mqtt-password-file") ? &options.passwordFile
                                                                       : nullptr;
    if (!target) {
        return false;
    }
    if (!value) {
        if (at + 1 < words.size()) {
            value = words[++at];
        }
    }
    if (!value || value->trimmed().isEmpty()) {
        *problem =
            QStringLiteral("%1 needs %2")
                .arg(word, target == &options.url ? QStringLiteral("a URL") : QStringLiteral("a FILE"));
        return true;
    }
    *target = *value;
    options.urlGiven = options.urlGiven || target == &options.url;
    return true;
}

int runPublished(Context& context, const MqttOptions& options, const QStringList& commandLine) {
    const QString url = options.urlGiven ? options.url : qEnvironmentVariable("KESTROVAR_MQTT").trimmed();
    if (url.isEmpty()) {
        if (!options.caFile.isEmpty() || !options.passwordFile.isEmpty() || options.discovery) {
            return usage(context,
                         QStringLiteral("--mqtt-ca, --mqtt-password-file and --mqtt-discovery go with "
                                        "--mqtt URL or KESTROVAR_MQTT"));
        }
        return runCli(context, commandLine);
    }
    QString problem;
    const std::optional<MqttAddress> address = parseMqttAddress(url, &problem);
    if (!address) {
        return usage(
            context,
            (options.urlGiven ? QStringLiteral("--mqtt: ") : QStringLiteral("KESTROVAR_MQTT: ")) + problem);
    }
    if (!options.caFile.isEmpty() && !address->tls) {
        return usage(context, QStringLiteral("--mqtt-ca is for an mqtts:// broker"));
    }
    if (!options.passwordFile.isEmpty() && address->user.isEmpty()) {
        return usage(context,
                     QStringLiteral("--mqtt-password-file needs a user in the address: mqtt://USER@HOST"));
    }
    if (!publishes(commandLine)) {
        return runCli(context, commandLine);  // no device, nothing to publish
    }
    if (!options.caFile.isEmpty()) {
        QFile ca(options.caFile);
        if (!ca.open(QIODevice::ReadOnly)) {
            context.say(QStringLiteral("the CA file %1 cannot be read: %2")
                            .arg(options.caFile, systemReason(ca.errorString())));
            return exitNoInput;
        }
    }
    MqttSettings settings;
    settings.address = *address;
    settings.caFile = options.caFile;
    settings.discovery = options.discovery;
    settings.program = context.program + u' ' + programVersion();
    settings.host = QSysInfo::machineHostName();
    settings.unit = unitTopicName(context.unit, context.platform.portAdapter(context.port).serialNumber,
                                  settings.host, context.portPath);
    if (!address->user.isEmpty()) {
        if (!options.passwordFile.isEmpty()) {
            QFile file(options.passwordFile);
            if (!file.open(QIODevice::ReadOnly)) {
                context.say(QStringLiteral("the MQTT password file %1 cannot be read: %2")
                                .arg(options.passwordFile, systemReason(file.errorString())));
                return exitNoInput;
            }
            // Its first line, without the line end.
            settings.password = QString::fromUtf8(file.readLine(4096)).remove(u'\n').remove(u'\r');
        } else {
            settings.password = qEnvironmentVariable("KESTROVAR_MQTT_PASSWORD");
        }
    }
    MqttPublisher publisher(settings, [&context](const QString& line) { context.say(line); });
    switch (publisher.start(kConnectWaitMs, &problem)) {
        case MqttPublisher::Start::Refused:
            context.say(
                QStringLiteral("the MQTT broker %1 cannot be used: %2").arg(address->shown(), problem));
            return exitNoBroker;
        case MqttPublisher::Start::Trying:
            context.say(
                QStringLiteral("the MQTT broker %1 is not reachable (%2); readings and records are kept and "
                               "sent when it is back")
                    .arg(address->shown(), problem));
            break;
        case MqttPublisher::Start::Connected:
            break;
    }
    context.publisher = &publisher;
    const int status = runCli(context, commandLine);
    publisher.finish(kFlushWaitMs);
    context.publisher = nullptr;
    return status;
}

}  // namespace kv::cli
