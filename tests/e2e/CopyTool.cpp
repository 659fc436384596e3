// Test helper: owns the X11 clipboard with several representations at once, as real applications do
// (xclip offers only one). Usage: nimbrel-copy TYPE=FILE [TYPE=FILE …]. Prints "ready" once it owns the
// clipboard, then "types" when another client asks which types it offers and "data TYPE" when one asks for a
// type's bytes; exits when another client takes the clipboard, or after a minute.

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

#include <cstdio>

namespace {

bool announced = false;

void say(const QByteArray& line)
{
    if (!announced)
        return;
    std::puts(line.constData());
    std::fflush(stdout);
}

class TellingMimeData : public QMimeData {
public:
    QStringList formats() const override
    {
        say("types");
        return QMimeData::formats();
    }

protected:
    QVariant retrieveData(const QString& type, QMetaType metaType) const override
    {
        say("data " + type.toUtf8());
        return QMimeData::retrieveData(type, metaType);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    auto* mime = new TellingMimeData;
    for (const QString& argument : app.arguments().mid(1)) {
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
    announced = true;
    return app.exec();
}
