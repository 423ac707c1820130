// kestrovar-cli's MQTT options: --mqtt URL (or KESTROVAR_MQTT), --mqtt-ca FILE,
// --mqtt-password-file FILE (or KESTROVAR_MQTT_PASSWORD) and --mqtt-discovery.
#pragma once

#include "cli/cli.h"

namespace kv::cli {

struct MqttOptions {
    QString url;  // empty: KESTROVAR_MQTT, if set
    QString caFile;
    QString passwordFile;
    bool discovery = false;
    bool urlGiven = false;
};

// Takes the MQTT option at words[at], and its value (moving at onto it); false when words[at] is
// none of them. *problem says what is missing.
bool takeMqttOption(const QStringList& words, qsizetype& at, MqttOptions& options, QString* problem);

// Runs the command as runCli does, publishing its readings and records when a broker is named: the
// publisher connects first (a refused login, an unknown host or an untrusted certificate end it
// with exitNoBroker), and says the unit offline at the end.
int runPublished(Context& context, const MqttOptions& options, const QStringList& commandLine);

}  // namespace kv::cli
