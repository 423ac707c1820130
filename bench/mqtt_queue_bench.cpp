// The MQTT queue's memory for an hour of readings at the 700 ms poll while the broker is away:
// prints "READINGS MIB" (the resident memory added by queueing them).
#include "core/publish/mqtt_publisher.h"

#include <QFile>

#include <cstdio>

namespace {

double residentMiB() {
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096 / (1 << 20) : 0;
}

}  // namespace

int main() {
    kv::MqttSettings settings;
    settings.address.host = QStringLiteral("127.0.0.1");
    settings.address.port = 1;  // tcpmux: nothing listens there
    settings.unit = QStringLiteral("bench");
    settings.program = QStringLiteral("kv_bench_mqtt_queue");
    kv::MqttPublisher publisher(settings, [](const QString&) {});
    QString problem;
    publisher.start(100, &problem);
    publisher.setReadings(kv::TemperatureUnit::Fahrenheit, 700);
    const int hour = 3600 * 1000 / 700;
    const double before = residentMiB();
    kv::FeedFrame frame;
    for (int i = 0; i < hour; ++i) {
        frame.timeMs = 1'796'000'000'000 + qint64(i) * 700;
        frame.values.fill(80.123456f + float(i % 100));
        publisher.publishReading(frame);
    }
    std::printf("%d %.2f\n", hour, residentMiB() - before);
    publisher.finish(0);
    return 0;
}
