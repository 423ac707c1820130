// Tools > Publish to MQTT…: the window's readings and records published as kestrovar-cli --mqtt
// publishes them (core/publish), the broker's state in the menu bar's corner. The settings are
// remembered in mqtt.ini beside the window's others, except the password, which lives only as long
// as the window.
#pragma once

#include "core/publish/mqtt_publisher.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QAction;
class QLabel;
class QWidget;

namespace kv {

class Form1;

struct MqttWindowSettings {
    QString broker;  // mqtt://HOST[:PORT] or mqtts://..., or HOST[:PORT] (mqtt://)
    QString user;
    QString prefix;  // empty: kestrovar
    QString caFile;
    bool discovery = false;
    bool enabled = false;
};

// The address the dialog's fields name; nullopt and *problem when they name none.
std::optional<MqttAddress> mqttWindowAddress(const MqttWindowSettings& settings, QString* problem);

class MqttTool : public QObject {
    Q_OBJECT
  public:
    explicit MqttTool(Form1& window);
    ~MqttTool() override;

    void PublishToMqtt_Click();
    // Starts publishing with these settings (off: stops); false with a message when they cannot be used.
    bool apply(const MqttWindowSettings& settings, const QString& password);
    MqttPublisher* publisher() const { return publisher_.get(); }

    QAction* PublishToMqtt{};
    QLabel* mqttCorner{};  // "MQTT: connected", "MQTT: trying again", "MQTT: off"

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showState(MqttPublisher::State state);
    QString unitName() const;

    Form1& window_;
    QWidget* corner_{};
    MqttWindowSettings settings_;
    QString password_;
    std::unique_ptr<MqttPublisher> publisher_;
    QString lastMessage_;
};

}  // namespace kv
