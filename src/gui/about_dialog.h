// Help > About: the single, modeless About dialog.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kv {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent);

    void Form_Load();

    QLabel* picIcon{};
    QLabel* lblTitle{};
    QLabel* lblVersion{};
    QLabel* lblDescription{};
    QLabel* Label1{};
    QLabel* lblDisclaimer{};
    QPushButton* cmdOK{};
};

QString applicationTitle();
QString versionText();  // "Version 1.0.0"

}  // namespace kv
