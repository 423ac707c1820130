#include "core/calibration/calibration_file.h"

namespace kv {
namespace {

template <std::size_t N>
QString joined(const std::array<QString, N>& texts) {
    QString line;
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0) {
            line += u',';
        }
        line += texts[i];
    }
    return line;
}

}  // namespace

QByteArray calibrationFileContent(const CalibrationTexts& texts) {
    QByteArray content;
    for (const QString& line :
         {joined(texts.col), joined(texts.row), joined(texts.matrix), texts.delay, texts.active}) {
        content += line.toLatin1();
        content += "\r\n";
    }
    return content;
}

std::array<QString, kCalibrationFileLines> calibrationFileLines(const QByteArray& bytes) {
    std::array<QString, kCalibrationFileLines> lines;
    qsizetype start = 0;
    for (auto& line : lines) {
        if (start >= bytes.size()) {
            break;
        }
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') {
            ++end;
        }
        line = QString::fromLatin1(bytes.constData() + start, end - start);
        start = end;
        if (start < bytes.size() && bytes[start] == '\r') {
            ++start;
            if (start < bytes.size() && bytes[start] == '\n') {
                ++start;
            }
        } else if (start < bytes.size()) {
            ++start;  // a lone LF
        }
    }
    return lines;
}

std::vector<BoxWrite> splitLine(QStringView line, int boxCount) {
    std::vector<BoxWrite> writes;
    QStringView rest = line;
    for (int i = 0; i < boxCount; ++i) {
        const qsizetype comma = rest.indexOf(u',');
        if (comma >= 0) {
            writes.push_back({i, rest.left(comma).toString()});
        }
        if (i == boxCount - 1) {
            writes.push_back({i, rest.toString()});
        }
        if (comma >= 0) {
            rest = rest.mid(comma + 1);
        }
    }
    return writes;
}

std::vector<QString> splitLineInto(QStringView line, std::span<const QString> current) {
    std::vector<QString> texts(current.begin(), current.end());
    for (BoxWrite& write : splitLine(line, static_cast<int>(texts.size()))) {
        texts[static_cast<std::size_t>(write.box)] = std::move(write.text);
    }
    return texts;
}

}  // namespace kv
