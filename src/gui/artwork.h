// The program's own pictures, drawn rather than shipped as image files.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QWidget>

namespace kv {

// The multi-size application icon: a dew drop over a thermometer scale.
QIcon applicationIcon();
// Renders the icon at one size, for the installed icon files.
QImage applicationIconImage(int size);
// The product logo shown in the lower left corner of the main window.
QPixmap productLogo(QSize size, qreal devicePixelRatio);

// The grey panel behind the calibration table with its two axis titles.
class CalibrationPanel : public QWidget {
    Q_OBJECT
  public:
    explicit CalibrationPanel(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kv
