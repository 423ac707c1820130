// Writes the application icon, exactly as the program draws it, to the PNG files that are installed
// for desktop menus and docks:
//   kv_write_icons OUTDIR SIZE...   writes OUTDIR/<SIZE>x<SIZE>/kestrovar-link.png for every size
// Each file is read back and checked, so a broken icon fails the build instead of the menu.
#include "gui/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace {

bool writeIcon(const QDir& out, int size) {
    const QString folder = QStringLiteral("%1x%1").arg(size);
    if (!out.mkpath(folder)) {
        std::fprintf(stderr, "kv_write_icons: cannot create %s\n", qPrintable(out.filePath(folder)));
        return false;
    }
    const QString path = out.filePath(folder + QStringLiteral("/kestrovar-link.png"));
    if (!kv::applicationIconImage(size).save(path, "PNG")) {
        std::fprintf(stderr, "kv_write_icons: cannot write %s\n", qPrintable(path));
        return false;
    }
    const QImage back(path);
    if (back.size() != QSize(size, size) || !back.hasAlphaChannel() ||
        qAlpha(back.pixel(size / 2, size / 2)) != 255) {
        std::fprintf(stderr, "kv_write_icons: %s does not hold a %dx%d icon\n", qPrintable(path), size, size);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fputs("usage: kv_write_icons OUTDIR SIZE...\n", stderr);
        return 2;
    }
    const QDir out(args[1]);
    for (qsizetype i = 2; i < args.size(); ++i) {
        bool isNumber = false;
        const int size = args[i].toInt(&isNumber);
        if (!isNumber || size < 8 || size > 1024) {
            std::fprintf(stderr, "kv_write_icons: bad size \"%s\"\n", qPrintable(args[i]));
            return 2;
        }
        if (!writeIcon(out, size)) {
            return 1;
        }
    }
    return 0;
}
