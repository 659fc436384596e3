// Build tool: writes Nimbrel's icon as PNG files for the desktop's icon theme, one per size:
// <folder>/<size>x<size>/apps/org.nimbrel.Nimbrel.png.

#include "shell/AppIcon.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: nimbrel-icon-export <folder> <size>...\n");
        return 2;
    }
    for (const QString& sizeText : arguments.mid(2)) {
        bool ok = false;
        const int size = sizeText.toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            std::fprintf(stderr, "nimbrel-icon-export: bad size %s\n", qPrintable(sizeText));
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments[1]).arg(size);
        const QString file = folder + QStringLiteral("/org.nimbrel.Nimbrel.png");
        if (!QDir().mkpath(folder) || !nimbrel::appIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "nimbrel-icon-export: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
