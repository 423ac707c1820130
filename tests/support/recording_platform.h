// For the tests that run the window's real serial stack in real time: the production platform,
// except that message boxes are recorded instead of shown and comsetting.ini stays in memory.
#pragma once

#include "gui/qt_platform.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTest>

#include <functional>

namespace kv::test {

class RecordingPlatform : public QtPlatform {
  public:
    using QtPlatform::QtPlatform;
    void messageBox(QWidget*, const QString& text) override { messages << text; }
    std::optional<QByteArray> readBinaryFile(const QString&) override { return QByteArray(); }
    bool writeBinaryFile(const QString&, const QByteArray&) override { return true; }

    QStringList messages;
};

// Runs the event loop until done() holds; false if timeoutMs passed first.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

}  // namespace kv::test
