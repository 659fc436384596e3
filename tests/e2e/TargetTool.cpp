// Test helper: an ordinary application window with a text field, the place Nimbrel pastes into.
// Usage: nimbrel-target FILE — the field's text is written to FILE after every change; prints "ready"
// once the window is shown.

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>

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
    editor.show();
    editor.activateWindow();
    QTimer::singleShot(300, [] {
        std::puts("ready");
        std::fflush(stdout);
    });
    QTimer::singleShot(120'000, &app, &QCoreApplication::quit);
    return app.exec();
}
