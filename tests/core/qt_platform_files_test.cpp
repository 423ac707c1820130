// The production file access on a real file system: comsetting.ini is never shortened, and a failed
// calibration save never destroys the file it was meant to replace.
#include "gui/qt_platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

namespace kv {
namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(QtPlatformFiles, BinaryAccessCreatesButNeverShortens) {
    QTemporaryDir dir;
    QtSystemPlatform platform{PortMap()};
    const QString ini = dir.filePath("comsetting.ini");

    EXPECT_EQ(platform.readBinaryFile(ini), QByteArray());
    EXPECT_TRUE(QFile::exists(ini)) << "reading creates the file empty";

    writeFile(ini, QByteArray("\x02\x00\x03\x00\x7F\x7F", 6));
    EXPECT_TRUE(platform.writeBinaryFile(ini, QByteArray("\x00\x00", 2)));
    EXPECT_EQ(contentOf(ini), QByteArray("\x00\x00\x03\x00\x7F\x7F", 6));

    const QString folder = dir.filePath("folder.ini");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
    EXPECT_FALSE(platform.readBinaryFile(folder).has_value());
    EXPECT_FALSE(platform.writeBinaryFile(folder, QByteArray("\x00\x00", 2)));
    EXPECT_FALSE(platform.readBinaryFile(dir.filePath("no/such/dir/comsetting.ini")).has_value());
}

TEST(QtPlatformFiles, CalibrationSaveReplacesOnlyAfterACompleteWrite) {
    QTemporaryDir dir;
    QtSystemPlatform platform{PortMap()};
    const QString target = dir.filePath("site.cal");
    writeFile(target, "old\r\n");

    FileError error;
    EXPECT_TRUE(platform.writeTextFileAtomically(target, "new\r\n", &error));
    EXPECT_EQ(contentOf(target), "new\r\n");

    // A target that cannot be written: a folder of that name, or a folder that does not exist.
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken.cal"));
    EXPECT_FALSE(platform.writeTextFileAtomically(dir.filePath("taken.cal"), "x", &error));
    EXPECT_FALSE(error.message.isEmpty());
    error = {};
    EXPECT_FALSE(platform.writeTextFileAtomically(dir.filePath("missing/site.cal"), "x", &error));
    EXPECT_FALSE(error.message.isEmpty());
    EXPECT_EQ(contentOf(target), "new\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"site.cal"})
        << "no temporary file is left";

#ifdef Q_OS_UNIX
    // What is not a regular file is written where it is, never replaced.
    EXPECT_FALSE(platform.writeTextFileAtomically("/dev/full", "x", &error));
    EXPECT_EQ(error.message, "No space left on device");
    const QString fifo = dir.filePath("fifo.cal");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const int reader = open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(platform.writeTextFileAtomically(fifo, "through\r\n", &error));
    char got[16] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 9);
    EXPECT_STREQ(got, "through\r\n");
    close(reader);
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile()) << "the FIFO is still there";
#endif
}

TEST(QtPlatformFiles, CalibrationLoadReportsWhatCannotBeRead) {
    QTemporaryDir dir;
    QtSystemPlatform platform{PortMap()};
    FileError error;
    EXPECT_FALSE(platform.readTextFile(dir.filePath("absent.cal"), &error).has_value());
    EXPECT_FALSE(error.message.isEmpty());
    error = {};
    EXPECT_FALSE(platform.readTextFile(dir.path(), &error).has_value());
    EXPECT_FALSE(error.message.isEmpty());

    writeFile(dir.filePath("ok.cal"), "1,2\r\n");
    EXPECT_EQ(platform.readTextFile(dir.filePath("ok.cal"), &error), QByteArray("1,2\r\n"));
}

TEST(QtPlatformFiles, DialogFilterBecomesQtFilters) {
    EXPECT_EQ(qtFileFilters("Calibration Settings (*.cal)|*.cal"),
              QStringList{"Calibration Settings (*.cal)"});
    EXPECT_EQ(qtFileFilters("Text|*.txt;*.log|All|*.*"), QStringList({"Text (*.txt *.log)", "All (*.*)"}));
}

TEST(QtPlatformFiles, LineSettingsParse) {
    const auto s = LineSettings::parse("19200,N,8,1");
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->baud, 19200);
    EXPECT_EQ(s->parity, 'N');
    EXPECT_EQ(s->dataBits, 8);
    EXPECT_EQ(s->stopBits, 1);
    EXPECT_FALSE(LineSettings::parse("19200,N,8").has_value());
    EXPECT_FALSE(LineSettings::parse("fast,N,8,1").has_value());
    EXPECT_FALSE(LineSettings::parse("19200,X,8,1").has_value());
}

}  // namespace
}  // namespace kv
