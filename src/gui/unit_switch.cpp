#include "gui/unit_switch.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QRadioButton>

namespace kv {

UnitSwitch::UnitSwitch(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("unitSwitch"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    fahrenheit_ = new QRadioButton(unitSymbol(TemperatureUnit::Fahrenheit), this);
    fahrenheit_->setObjectName(QStringLiteral("fahrenheit"));
    fahrenheit_->setAccessibleName(QStringLiteral("Temperatures in degrees Fahrenheit"));
    fahrenheit_->setChecked(true);
    celsius_ = new QRadioButton(unitSymbol(TemperatureUnit::Celsius), this);
    celsius_->setObjectName(QStringLiteral("celsius"));
    celsius_->setAccessibleName(QStringLiteral("Temperatures in degrees Celsius"));
    auto* group = new QButtonGroup(this);
    group->addButton(fahrenheit_);
    group->addButton(celsius_);
    layout->addWidget(fahrenheit_);
    layout->addWidget(celsius_);
    connect(celsius_, &QRadioButton::toggled, this, [this] { Q_EMIT unitChanged(unit()); });
}

TemperatureUnit UnitSwitch::unit() const {
    return celsius_->isChecked() ? TemperatureUnit::Celsius : TemperatureUnit::Fahrenheit;
}

void UnitSwitch::setUnit(TemperatureUnit unit) {
    (unit == TemperatureUnit::Celsius ? celsius_ : fahrenheit_)->setChecked(true);
}

}  // namespace kv
