// Test helper: an ordinary application window with a text field, the place Nimbrel pastes into.
// Usage: nimbrel-target FILE — the field's text is written to FILE after every change; prints "ready"
// once the window is shown, then "focus out" when the window loses the keyboard and "focus in" when it has
// it again.

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWindow>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (app.arguments().size() < 2)
        return 2;
    const QString path = app.arguments().at(1);
    QPlainTextEdit editor;
    editor.setWindowTitle(QStringLiteral("nimbrel-target"));
    editor.resize(600, 300);
    editor.move(200, 150);
    QObject::connect(&editor, &QPlainTextEdit::textChanged, &editor, [&editor, path] {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(editor.toPlainText().toUtf8());
    });
    const auto say = [](const char* line) {
        std::puts(line);
        std::fflush(stdout);
    };
    bool ready = false;
    QObject::connect(&app, &QGuiApplication::focusWindowChanged, &app, [&ready, say](QWindow* window) {
        if (ready)
            say(window ? "focus in" : "focus out");
    });
    editor.show();
    editor.activateWindow();
    QTimer::singleShot(300, [&ready, say] {
        say("ready");
        ready = true;
    });
    QTimer::singleShot(120'000, &app, &QCoreApplication::quit);
    return app.exec();
}
