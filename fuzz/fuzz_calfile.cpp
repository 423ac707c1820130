// Arbitrary file bytes through the .cal loader: the five lines, the split over the boxes with the
// change rule after every write, and a save of the result that loads back unchanged.
#include "core/calibration/calibration_file.h"
#include "core/calibration/editing_rules.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Loads a line into boxes the way the editor does: a write that is neither empty nor a number is
// undone to the box's last accepted text.
template <std::size_t N>
void load(QStringView line, std::array<QString, N>& boxes) {
    std::array<QString, N> lastGood = boxes;
    int lastBox = -1;
    for (const kv::BoxWrite& write : kv::splitLine(line, static_cast<int>(N))) {
        check(write.box >= lastBox && write.box < static_cast<int>(N));
        lastBox = write.box;
        auto& box = boxes[static_cast<std::size_t>(write.box)];
        auto& good = lastGood[static_cast<std::size_t>(write.box)];
        if (write.text.isEmpty() || kv::isNumeric(write.text)) {
            box = good = write.text;
        } else {
            box = good;
        }
    }
    for (const QString& text : boxes) {
        check(text.isEmpty() || kv::isNumeric(text));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto lines = kv::calibrationFileLines(bytes);
    for (const QString& line : lines) {
        check(!line.contains(u'\r') && !line.contains(u'\n'));
    }

    kv::CalibrationTexts texts;
    texts.col = {"10", "20", "70", "120", "170"};
    texts.row = {"100", "75", "65", "50", "25", "0"};
    load(lines[0], texts.col);
    load(lines[1], texts.row);
    load(lines[2], texts.matrix);
    texts.delay = lines[3];
    texts.active = lines[4];

    const QByteArray saved = kv::calibrationFileContent(texts);
    check(saved.count("\r\n") == kv::kCalibrationFileLines && saved.endsWith("\r\n"));
    const auto reread = kv::calibrationFileLines(saved);
    const std::vector<QString> blank(30, QStringLiteral("x"));
    auto same = [](const std::vector<QString>& a, const auto& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    };
    check(same(kv::splitLineInto(reread[0], std::span(blank).first(5)), texts.col));
    check(same(kv::splitLineInto(reread[1], std::span(blank).first(6)), texts.row));
    check(same(kv::splitLineInto(reread[2], blank), texts.matrix));
    check(reread[3] == texts.delay && reread[4] == texts.active);
    return 0;
}
