// The yardstick of the start-up: a bare Qt window with a menu bar, started and mapped like the
// program's own window.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare Qt Window"));
    window.menuBar()->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Exit"));
    window.resize(400, 300);
    window.show();
    return app.exec();
}
