#include "gui/window_helpers.h"

#include <QWidget>

namespace kv {

void bringToFront(QWidget* window) {
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

QString asSentence(const QString& text) {
    return text.endsWith(u'.') ? text : text + u'.';
}

}  // namespace kv
