// Test entry point: a QApplication on the offscreen platform, so window tests run without a display,
// and a calibration history of its own, so no test writes into the user's data folder.
#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir history;
    qputenv("KESTROVAR_HISTORY", history.filePath(QStringLiteral("history")).toLocal8Bit());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
