// °F / °C: the unit the chart and the correction map show temperatures in.
#pragma once

#include "core/readings/temperature_unit.h"

#include <QWidget>

class QRadioButton;

namespace kv {

class UnitSwitch : public QWidget {
    Q_OBJECT
  public:
    explicit UnitSwitch(QWidget* parent);
    TemperatureUnit unit() const;
    // Emits unitChanged when the unit changes.
    void setUnit(TemperatureUnit unit);
    QRadioButton* fahrenheit() const { return fahrenheit_; }
    QRadioButton* celsius() const { return celsius_; }

  Q_SIGNALS:
    void unitChanged(kv::TemperatureUnit unit);

  private:
    QRadioButton* fahrenheit_;
    QRadioButton* celsius_;
};

}  // namespace kv
