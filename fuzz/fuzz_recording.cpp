// Arbitrary bytes as a recording of readings and as a .cal file that must hold every value: the
// reader never fails to name the line it stopped at, every frame it reads writes back as a row that
// reads back to the same frame, and a complete .cal file writes back to the same texts.
#include "core/calibration/calibration_text.h"
#include "core/readings/readings_csv.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    kv::ReadingsCsvReader reader(device);
    std::vector<kv::FeedFrame> frames;
    kv::ReadingsCsvReader::Status status = kv::ReadingsCsvReader::Status::More;
    for (int step = 0; step < 100000 && status == kv::ReadingsCsvReader::Status::More; ++step) {
        status = reader.read(frames, 64);
    }
    check(status != kv::ReadingsCsvReader::Status::More);
    if (status == kv::ReadingsCsvReader::Status::Failed) {
        check(reader.errorLine() >= 1 && !reader.errorReason().isEmpty());
    }
    for (const kv::FeedFrame& frame : frames) {
        QByteArray row = kv::readingsCsvRow(frame);
        check(row.endsWith("\r\n"));
        row.chop(2);
        kv::FeedFrame back;
        QString reason;
        check(kv::parseReadingsCsvRow(row, &back, &reason));
        check(back.timeMs == frame.timeMs && back.correctionActive == frame.correctionActive);
        for (std::size_t i = 0; i < frame.values.size(); ++i) {
            check(sameBits(back.values[i], frame.values[i]) ||
                  (back.values[i] != back.values[i] && frame.values[i] != frame.values[i]));
        }
    }

    const kv::CompleteFile file = kv::parseCompleteCalibrationFile(bytes);
    check(file.texts.has_value() != !file.problem.isEmpty());
    if (file.texts) {
        const kv::CompleteFile again =
            kv::parseCompleteCalibrationFile(kv::calibrationFileContent(*file.texts));
        check(again.texts.has_value());
        check(kv::calibrationFileContent(*again.texts) == kv::calibrationFileContent(*file.texts));
    }
    return 0;
}
