// Test helper: owns the X11 clipboard with several representations at once, as real applications do
// (xclip offers only one). Usage: nimbrel-copy [--exit-after MS] TYPE=FILE [TYPE=FILE …]. Prints "ready"
// once it owns the clipboard and exits when another client takes it, after MS milliseconds (handing the
// clipboard to a clipboard manager on the way out, as every Qt application does), or after a minute.

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    auto* mime = new QMimeData;
    QStringList arguments = app.arguments().mid(1);
    if (arguments.size() >= 2 && arguments.first() == QLatin1String("--exit-after")) {
        QTimer::singleShot(arguments.at(1).toInt(), &app, &QCoreApplication::quit);
        arguments = arguments.mid(2);
    }
    for (const QString& argument : arguments) {
        const qsizetype eq = argument.indexOf(QLatin1Char('='));
        QFile file(argument.mid(eq + 1));
        if (eq <= 0 || !file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "nimbrel-copy: cannot use %s\n", qPrintable(argument));
            return 2;
        }
        mime->setData(argument.left(eq), file.readAll());
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(mime, QClipboard::Clipboard);
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
        if (!clipboard->ownsClipboard())
            QCoreApplication::quit();
    });
    QTimer::singleShot(60'000, &app, &QCoreApplication::quit);
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
