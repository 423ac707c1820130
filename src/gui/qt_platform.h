// The production platform: the Qt system of core/qt_system.h with Qt's message boxes and file dialogs.
#pragma once

#include "core/platform/qt_system.h"
#include "gui/platform.h"

#include <QStringList>

namespace kv {

class QtPlatform : public Platform, public QtSystemPlatform {
  public:
    explicit QtPlatform(PortMap ports) : QtSystemPlatform(std::move(ports)) {}

    void messageBox(QWidget* parent, const QString& text) override;
    std::optional<QString> inputText(QWidget* parent, const QString& title, const QString& label,
                                     const QString& text) override;
    std::optional<QString> fileDialog(QWidget* parent, FileDialogKind kind,
                                      const FileDialogOptions& options) override;
};

// Turns "Label|pattern|Label|pattern" into the filter list of a Qt file dialog.
QStringList qtFileFilters(const QString& filter);

}  // namespace kv
