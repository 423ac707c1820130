#include "gui/mqtt_tool.h"

#include "core/publish/topics.h"
#include "core/record/history_store.h"
#include "core/version.h"
#include "gui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>

namespace kv {

namespace {

QString settingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/mqtt.ini");
}

MqttWindowSettings loadSettings() {
    QSettings s(settingsPath(), QSettings::IniFormat);
    MqttWindowSettings m;
    m.broker = s.value(QStringLiteral("broker")).toString();
    m.user = s.value(QStringLiteral("user")).toString();
    m.prefix = s.value(QStringLiteral("prefix")).toString();
    m.caFile = s.value(QStringLiteral("ca")).toString();
    m.discovery = s.value(QStringLiteral("discovery"), false).toBool();
    m.enabled = s.value(QStringLiteral("enabled"), false).toBool();
    return m;
}

void saveSettings(const MqttWindowSettings& m) {
    QSettings s(settingsPath(), QSettings::IniFormat);
    s.setValue(QStringLiteral("broker"), m.broker);
    s.setValue(QStringLiteral("user"), m.user);
    s.setValue(QStringLiteral("prefix"), m.prefix);
    s.setValue(QStringLiteral("ca"), m.caFile);
    s.setValue(QStringLiteral("discovery"), m.discovery);
    s.setValue(QStringLiteral("enabled"), m.enabled);
}

}  // namespace

std::optional<MqttAddress> mqttWindowAddress(const MqttWindowSettings& settings, QString* problem) {
    QString broker = settings.broker.trimmed();
    while (broker.endsWith(u'/')) {
        broker.chop(1);
    }
    if (broker.isEmpty()) {
        *problem = QStringLiteral("no broker given");
        return std::nullopt;
    }
    if (!broker.contains(QStringLiteral("://"))) {
        broker.prepend(QStringLiteral("mqtt://"));
    }
    const qsizetype hostAt = broker.indexOf(QStringLiteral("://")) + 3;
    if (broker.indexOf(u'/', hostAt) >= 0 || broker.indexOf(u'@', hostAt) >= 0) {
        *problem = QStringLiteral(
            "the broker is mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; the user and the prefix "
            "have boxes of their own");
        return std::nullopt;
    }
    const QString user = settings.user.trimmed();
    if (!user.isEmpty()) {
        broker.insert(hostAt, user + u'@');
    }
    QString prefix = settings.prefix.trimmed();
    while (prefix.startsWith(u'/')) {
        prefix.remove(0, 1);
    }
    if (!prefix.isEmpty()) {
        broker += u'/' + prefix;
    }
    return parseMqttAddress(broker, problem);
}

MqttTool::MqttTool(Form1& window) : QObject(&window), window_(window), settings_(loadSettings()) {
    // Ahead of the history's items, which stay last: its own separator, then the item.
    PublishToMqtt = new QAction(QStringLiteral("Publish to MQTT\u2026"), window.Tools);
    const QList<QAction*> items = window.Tools->actions();
    const qsizetype unitAt = items.indexOf(window.UnitUnderCalibration);
    window.Tools->insertAction(unitAt > 0 ? items[unitAt - 1] : nullptr, PublishToMqtt);
    window.Tools->insertSeparator(PublishToMqtt);
    PublishToMqtt->setObjectName(QStringLiteral("PublishToMqtt"));
    connect(PublishToMqtt, &QAction::triggered, this, [this] { PublishToMqtt_Click(); });

    // Beside whatever else the corner shows.
    mqttCorner = new QLabel;
    mqttCorner->setObjectName(QStringLiteral("mqttCorner"));
    mqttCorner->setContentsMargins(0, 0, 8, 0);
    corner_ = new QWidget(window.menuBar());
    QWidget* corner = corner_;
    auto* row = new QHBoxLayout(corner);
    row->setContentsMargins(0, 0, 0, 0);
    if (QWidget* earlier = window.menuBar()->cornerWidget(Qt::TopRightCorner)) {
        row->addWidget(earlier);
    }
    row->addWidget(mqttCorner);
    window.menuBar()->setCornerWidget(corner, Qt::TopRightCorner);
    corner->show();
    // The menu bar sizes its corner when it is set: again whenever a label in it changes.
    corner->installEventFilter(this);
    mqttCorner->setVisible(!settings_.broker.isEmpty());
    showState(MqttPublisher::State::Off);

    connect(window.frameFeed, &FrameFeed::frameReceived, this, [this](const FeedFrame& frame) {
        if (publisher_) {
            publisher_->publishReading(frame);
        }
    });
    window.onRecordKept = [this](const QString& id) {
        if (publisher_) {
            if (const std::optional<HistoryRecord> record = window_.historyStore().find(id)) {
                publisher_->publishRecord(*record);
            }
        }
    };
    // A remembered broker without a login is used again at once; one with a user waits for its password.
    if (settings_.enabled && settings_.user.trimmed().isEmpty()) {
        apply(settings_, QString());
    }
}

bool MqttTool::eventFilter(QObject* watched, QEvent* event) {
    if (watched == corner_ && event->type() == QEvent::LayoutRequest) {
        corner_->adjustSize();
        window_.menuBar()->setCornerWidget(corner_, Qt::TopRightCorner);
    }
    return QObject::eventFilter(watched, event);
}

MqttTool::~MqttTool() {
    window_.onRecordKept = nullptr;
    if (publisher_) {
        publisher_->onState = nullptr;
        publisher_->finish(1000);
    }
}

QString MqttTool::unitName() const {
    const int port = window_.MSComm1->CommPort();
    return unitTopicName(window_.unitTag(), window_.platform().portAdapter(port).serialNumber,
                         QSysInfo::machineHostName(), window_.platform().portSystemName(port));
}

bool MqttTool::apply(const MqttWindowSettings& settings, const QString& password) {
    if (publisher_) {
        publisher_->onState = nullptr;
        publisher_->finish(1000);
        publisher_.reset();
    }
    settings_ = settings;
    password_ = password;
    mqttCorner->setVisible(!settings.broker.trimmed().isEmpty());
    showState(MqttPublisher::State::Off);
    if (!settings.enabled) {
        return true;
    }
    QString problem;
    const std::optional<MqttAddress> address = mqttWindowAddress(settings, &problem);
    if (!address) {
        window_.platform().messageBox(&window_, QStringLiteral("MQTT: %1.").arg(problem));
        return false;
    }
    MqttSettings s;
    s.address = *address;
    s.password = password;
    s.caFile = settings.caFile.trimmed();
    s.unit = unitName();
    s.program = QStringLiteral("kestrovar-link ") + programVersion();
    s.host = QSysInfo::machineHostName();
    s.discovery = settings.discovery;
    // The publisher's messages and states come from its thread; the window takes them in its own.
    publisher_ = std::make_unique<MqttPublisher>(s, [this](const QString& line) {
        QMetaObject::invokeMethod(
            this,
            [this, line] {
                lastMessage_ = line;
                mqttCorner->setToolTip(line);
            },
            Qt::QueuedConnection);
    });
    publisher_->onState = [this](MqttPublisher::State state) {
        QMetaObject::invokeMethod(
            this, [this, state] { showState(state); }, Qt::QueuedConnection);
    };
    publisher_->setReadings(TemperatureUnit::Fahrenheit, kPollIntervalMs);
    // Never waits: a refusal comes back later as the state Off, with its reason.
    if (publisher_->start(0, &problem) == MqttPublisher::Start::Refused) {
        publisher_->onState = nullptr;
        publisher_.reset();
        window_.platform().messageBox(
            &window_,
            QStringLiteral("The MQTT broker %1 cannot be used: %2.").arg(address->shown(), problem));
        return false;
    }
    return true;
}

void MqttTool::showState(MqttPublisher::State state) {
    if (state == MqttPublisher::State::Off && publisher_ && !publisher_->refusal().isEmpty()) {
        const QString problem = publisher_->refusal();
        const QString shown = publisher_->settings().address.shown();
        publisher_->onState = nullptr;
        publisher_.reset();
        window_.platform().messageBox(
            &window_, QStringLiteral("The MQTT broker %1 cannot be used: %2.").arg(shown, problem));
    }
    static const char* const texts[] = {"MQTT: off", "MQTT: connected", "MQTT: trying again"};
    static const char* const colours[] = {"#808080", "#008000", "#c06000"};
    const int i = int(state);
    mqttCorner->setText(QString::fromLatin1(texts[i]));
    mqttCorner->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(QLatin1String(colours[i])));
}

void MqttTool::PublishToMqtt_Click() {
    QDialog dialog(&window_);
    dialog.setObjectName(QStringLiteral("PublishToMqttDialog"));
    dialog.setWindowTitle(QStringLiteral("Publish to MQTT"));
    auto* form = new QFormLayout(&dialog);
    auto* broker = new QLineEdit(settings_.broker);
    broker->setObjectName(QStringLiteral("mqttBroker"));
    broker->setPlaceholderText(QStringLiteral("mqtt://broker.lab:1883 or mqtts://..."));
    auto* user = new QLineEdit(settings_.user);
    user->setObjectName(QStringLiteral("mqttUser"));
    auto* password = new QLineEdit(password_);
    password->setObjectName(QStringLiteral("mqttPassword"));
    password->setEchoMode(QLineEdit::Password);
    password->setPlaceholderText(QStringLiteral("not remembered"));
    auto* prefix = new QLineEdit(settings_.prefix);
    prefix->setObjectName(QStringLiteral("mqttPrefix"));
    prefix->setPlaceholderText(QStringLiteral("kestrovar"));
    auto* ca = new QLineEdit(settings_.caFile);
    ca->setObjectName(QStringLiteral("mqttCa"));
    ca->setPlaceholderText(QStringLiteral("mqtts: the system's CAs"));
    auto* discovery = new QCheckBox(QStringLiteral("Home Assistant discovery"));
    discovery->setChecked(settings_.discovery);
    auto* on = new QCheckBox(QStringLiteral("Publish readings and records"));
    on->setObjectName(QStringLiteral("mqttOn"));
    on->setChecked(publisher_ != nullptr || (settings_.enabled && settings_.user.isEmpty()));
    form->addRow(QStringLiteral("Broker:"), broker);
    form->addRow(QStringLiteral("User:"), user);
    form->addRow(QStringLiteral("Password:"), password);
    form->addRow(QStringLiteral("Topic prefix:"), prefix);
    form->addRow(QStringLiteral("CA file:"), ca);
    form->addRow(discovery);
    form->addRow(on);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        MqttWindowSettings wanted{broker->text().trimmed(), user->text().trimmed(), prefix->text().trimmed(),
                                  ca->text().trimmed(),     discovery->isChecked(), on->isChecked()};
        QString problem;
        if (wanted.enabled && !mqttWindowAddress(wanted, &problem)) {
            window_.platform().messageBox(&dialog, QStringLiteral("MQTT: %1.").arg(problem));
            return;  // the dialog stays open to be mended
        }
        saveSettings(wanted);
        dialog.accept();
        apply(wanted, password->text());
    });
    dialog.exec();
}

}  // namespace kv
