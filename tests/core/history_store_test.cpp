// The calibration history on disk: what a record keeps, how damage and a lost index are survived,
// two writers at once, and a folder that cannot be written.
#include "core/history_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <thread>

namespace kv {
namespace {

CalibrationTexts texts(int seed) {
    CalibrationTexts t;
    t.col = {"10", "20", "70", "120", "170"};
    t.row = {"100", "75", "65", "50", "25", "0"};
    for (int k = 0; k < 30; ++k)
        t.matrix[k] = QString::number((seed + k) % 256);
    t.delay = seed % 2 ? "2.5" : "3";
    t.active = "Yes";
    return t;
}

HistoryEntry entry(qint64 timeMs, const QString& operation, const QString& result, int seed) {
    return {timeMs,    operation,  result, "kestrovar-link 1.0.0", "/dev/ttyUSB0", "/dev/serial/by-id/usb-X",
            "A1\tB2%", texts(seed)};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

TEST(HistoryStore, KeepsEveryFieldAndTheCalBytesAndListsNewestFirstWithSameAs) {
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    const qint64 t0 = 1796803200000;  // 2026-12-09 08:00:00 UTC
    const HistoryStore::Appended a = store.append(entry(t0, "load", "received", 1));
    const HistoryStore::Appended b = store.append(entry(t0 + 1250, "save-sent", "no read-back", 2));
    const HistoryStore::Appended c = store.append(entry(t0 + 1250, "save-sent", "no read-back", 1));
    for (const auto& appended : {a, b, c})
        EXPECT_TRUE(appended.error.isEmpty()) << appended.error.toStdString();
    EXPECT_EQ(a.id, "20261209T080000.000Z_load_received");
    EXPECT_EQ(b.id, "20261209T080001.250Z_save-sent_no+read-back");
    EXPECT_EQ(c.id, "20261209T080001.250Z_save-sent_no+read-back_2");
    EXPECT_EQ(readAll(dir.filePath(a.id + ".cal")), calibrationFileContent(texts(1)));

    const std::vector<HistoryRecord> records = store.records();
    std::vector<std::pair<QString, QString>> listed;  // id, same as
    for (const HistoryRecord& r : records)
        listed.emplace_back(r.id, r.sameAsId);
    EXPECT_EQ(listed, (std::vector<std::pair<QString, QString>>{{c.id, a.id}, {b.id, ""}, {a.id, ""}}));
    const HistoryEntry& kept = records[1].entry;
    const HistoryEntry given = entry(t0 + 1250, "save-sent", "no read-back", 2);
    EXPECT_EQ(QStringList({kept.operation, kept.result, kept.program, kept.portPath, kept.adapterName,
                           kept.adapterSerial}),
              QStringList({given.operation, given.result, given.program, given.portPath, given.adapterName,
                           given.adapterSerial}));
    EXPECT_EQ(kept.timeMs, t0 + 1250);
    EXPECT_EQ(calibrationFileContent(kept.values), calibrationFileContent(texts(2)));
    EXPECT_EQ(QDateTime::fromString(HistoryStore::rfc3339(t0 + 1250), Qt::ISODateWithMs).toMSecsSinceEpoch(),
              t0 + 1250);
}

// What a crash, a pulled plug or a careless hand can do to the folder, and what is listed then.
struct Damage {
    const char* name;
    std::function<void(const QString& dir, const QStringList& ids)> harm;
    int listed;
    std::set<int> damaged;  // which of the three records (0 = oldest) find() calls damaged
    bool programKept;       // whether the youngest record still knows its program
};

TEST(HistoryStore, DamageIsListedAndARebuiltIndexBringsBackEveryRecord) {
    // clang-format off
    const Damage cases[] = {
        {"a torn last line", [](const QString& d, const QStringList&) {
             QByteArray index = readAll(d + "/index.txt");
             writeAll(d + "/index.txt", index.left(index.size() - 9));
         }, 3, {}, false},
        {"a .cal file removed", [](const QString& d, const QStringList& ids) {
             QFile::remove(d + "/" + ids[1] + ".cal");
         }, 3, {1}, true},
        {"a .cal file cut short", [](const QString& d, const QStringList& ids) {
             writeAll(d + "/" + ids[0] + ".cal", "10,20\r\n");
         }, 3, {0}, true},
        {"the index lost", [](const QString& d, const QStringList&) {
             QFile::remove(d + "/index.txt");
         }, 3, {}, false},
        {"a stray file that is no record", [](const QString& d, const QStringList&) {
             writeAll(d + "/notes.cal", "hello\r\n");
         }, 4, {}, true},
    };
    // clang-format on
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        HistoryStore store(dir.path());
        QStringList ids;
        for (int i = 0; i < 3; ++i)
            ids << store.append(entry(1796803200000 + i * 1000, "load", "received", i)).id;
        c.harm(dir.path(), ids);

        std::vector<HistoryRecord> records = store.records();
        ASSERT_EQ(int(records.size()), c.listed);
        for (const HistoryRecord& r : records) {
            EXPECT_TRUE(ids.contains(r.id) || r.damaged) << r.id.toStdString();
        }
        for (int i = 0; i < 3; ++i) {
            const auto found = store.find(ids[i]);
            ASSERT_TRUE(found);
            EXPECT_EQ(found->damaged, c.damaged.count(i) > 0) << i;
            EXPECT_EQ(found->entry.operation, "load");
            if (!found->damaged) {
                EXPECT_EQ(calibrationFileContent(found->entry.values), calibrationFileContent(texts(i)));
            }
        }
        EXPECT_EQ(store.find(ids[2])->entry.program.isEmpty(), !c.programKept);

        // A record appended now stands on a line of its own, and a rebuilt index keeps every record.
        EXPECT_TRUE(store.append(entry(1796803300000, "load", "received", 7)).error.isEmpty());
        EXPECT_EQ(store.records().size(), records.size() + 1);
        EXPECT_EQ(store.records().front().entry.program, "kestrovar-link 1.0.0");  // from its index line
        QString error;
        ASSERT_TRUE(store.rebuildIndex(&error)) << error.toStdString();
        EXPECT_EQ(store.records().size(), records.size() + 1);
        EXPECT_EQ(store.find(ids[2])->entry.program.isEmpty(), !c.programKept);
    }
}

TEST(HistoryStore, TwoWritersAtOnceLoseAndMixNothing) {
    QTemporaryDir dir;
    constexpr int kPerWriter = 60;
    auto writer = [&dir](int which) {
        HistoryStore store(dir.path());
        for (int i = 0; i < kPerWriter; ++i)
            store.append(entry(1796803200000 + i, which ? "write-sent" : "load", "received", i));
    };
    std::thread first(writer, 0), second(writer, 1);
    first.join();
    second.join();

    HistoryStore store(dir.path());
    const std::vector<HistoryRecord> records = store.records();
    EXPECT_EQ(records.size(), 2u * kPerWriter);
    std::set<QString> ids;
    for (const HistoryRecord& r : records) {
        EXPECT_FALSE(r.damaged) << r.id.toStdString() << ": " << r.damage.toStdString();
        EXPECT_EQ(r.entry.program, "kestrovar-link 1.0.0");  // from its index line
        ids.insert(r.id);
    }
    EXPECT_EQ(ids.size(), 2u * kPerWriter);
    EXPECT_EQ(readAll(dir.filePath("index.txt")).count('\n'), 2 * kPerWriter);
}

TEST(HistoryStore, AFolderThatCannotBeWrittenGivesAReason) {
    QTemporaryDir dir;
    writeAll(dir.filePath("file"), "x");
    HistoryStore store(dir.filePath("file/history"));
    const HistoryStore::Appended appended = store.append(entry(1796803200000, "load", "received", 1));
    EXPECT_TRUE(appended.id.isEmpty());
    EXPECT_EQ(appended.error.toStdString(),
              "the history folder \"" + QDir::toNativeSeparators(dir.filePath("file/history")).toStdString() +
                  "\" could not be created");
    EXPECT_TRUE(store.records().empty());
    QString error;
    EXPECT_FALSE(store.rebuildIndex(&error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace kv
