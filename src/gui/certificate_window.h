// Calibration certificates from the window: Tools > Laboratory Details… (the lab's name and address,
// kept for every program of this installation), Tools > Calibration Certificate… (the latest verified
// calibration's) and the Calibration History window's Certificate… (the selected record's).
#pragma once

#include "core/record/history_store.h"

#include <QDialog>

#include <vector>

class QLineEdit;
class QPlainTextEdit;

namespace kv {

class Form1;
class Platform;

void buildCertificateMenu(Form1& form);

// Makes the certificate of record `asLeftId`, asks where to save it and saves it; a refusal or a
// failure is said in a message box.
void saveCertificate(QWidget* parent, Platform& platform, const HistoryStore& store, const QString& asLeftId);

class LabDetailsDialog : public QDialog {
    Q_OBJECT
  public:
    LabDetailsDialog(QWidget* parent, Platform& platform);
    void save();

    QLineEdit* name{};
    QPlainTextEdit* address{};

  private:
    Platform& platform_;
};

}  // namespace kv
