// Test helper for Wayland sessions, as a user's other applications would act there.
//   nimbrel-wayland copy TYPE=FILE …  offers the files' bytes under those types together, as one copy, through
//                                     the compositor's clipboard control; prints "ready", serves until killed.
//   nimbrel-wayland keys              types each chord read from standard input ("Meta+Shift+V", "Return", "A")
//                                     or "Down" on one virtual keyboard kept open, printing "typed" after each.

#include "platform/KeyboardSynthesizer.h"
#include "platform/linux/WaylandClipboardMonitor.h"
#include "platform/linux/WaylandVirtualKeyboard.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <iostream>
#include <string>

using namespace nimbrel;

namespace {

int copy(const QStringList& arguments)
{
    QList<std::pair<QString, QByteArray>> representations;
    for (const QString& argument : arguments) {
        const qsizetype equals = argument.lastIndexOf(u'=');  // types may hold '=' (charset=utf-8)
        QFile file(argument.mid(equals + 1));
        if (equals <= 0 || !file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "nimbrel-wayland: cannot read %s\n", qPrintable(argument));
            return 2;
        }
        representations.append({argument.left(equals), file.readAll()});
    }
    native::WaylandClipboardMonitor monitor;
    if (const auto error = monitor.start([](ClipboardOffer&) {}, 1000)) {
        std::fprintf(stderr, "nimbrel-wayland: %s\n", qPrintable(*error));
        return 1;
    }
    monitor.write(representations, false);
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

int keys()
{
    native::WaylandVirtualKeyboard keyboard;
    if (!keyboard.isAvailable()) {
        std::fputs("nimbrel-wayland: no virtual keyboard\n", stderr);
        return 1;
    }
    // The compositor drops the first key of a keyboard it has just switched to: a lone Shift takes that place.
    keyboard.post({{0xffe1, true}, {0xffe1, false}});
    std::puts("ready");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        // Down is no paste key, so KeyChord does not know it; the panel's test presses it.
        const auto chord =
            line == "Down" ? std::optional(KeyChord{0, 0xff54}) : KeyChord::fromText(QString::fromStdString(line));
        if (!chord) {
            std::fprintf(stderr, "nimbrel-wayland: not a chord: %s\n", line.c_str());
            return 2;
        }
        keyboard.post(chord->transitions());
        std::puts("typed");
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.value(0) == QLatin1String("copy") && arguments.size() > 1)
        return copy(arguments.mid(1));
    if (arguments.value(0) == QLatin1String("keys"))
        return keys();
    std::fputs("usage: nimbrel-wayland copy TYPE=FILE … | keys\n", stderr);
    return 2;
}
