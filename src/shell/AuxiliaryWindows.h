#pragma once

#include <QMainWindow>
#include <QWidget>

class QMenu;

namespace nimbrel {

class AboutView;
class SettingsStore;
class SettingsView;

// The settings window: the settings page under a small menu bar with the about, contact, close and quit
// entries.
// Made once and kept; closing only hides it.
class SettingsWindow final : public QMainWindow {
    Q_OBJECT
public:
    // The page's width; its height follows the content, up to what the screen has room for.
    static constexpr int contentWidth = 520;
    // Below this the window is not made smaller: the page scrolls.
    static constexpr int minimumHeight = 240;
    // Room kept for the title bar before the window manager has said how tall it is.
    static constexpr int assumedTitleBarHeight = 48;

    SettingsWindow(SettingsView* view, const SettingsStore& settings, QWidget* parent = nullptr);

    SettingsView* view() const { return m_view; }
    QMenu* applicationMenu() const { return m_menu; }
    QAction* aboutAction() const { return m_about; }
    QAction* contactAction() const { return m_contact; }
    QAction* closeAction() const { return m_close; }
    QAction* quitAction() const { return m_quit; }

    // As tall as the page needs, but never taller than the screen it is on: the page scrolls then.
    void fitToScreen();

Q_SIGNALS:
    void aboutRequested();
    void contactRequested();
    // The window's quit entry (Ctrl+Q): a quit request like any other, decided by the termination rule.
    void quitRequested();
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void retranslate();

    const SettingsStore& m_settings;
    SettingsView* m_view;
    QMenu* m_menu;
    QAction* m_about;
    QAction* m_contact;
    QAction* m_close;
    QAction* m_quit;
    bool m_followsScreen = false;
};

// The small about window. It has no title and can be dragged by its background.
class AboutWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize contentSize{240, 200};

    explicit AboutWindow(AboutView* view, QWidget* parent = nullptr);
    AboutView* view() const { return m_view; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    AboutView* m_view;
};

// Places a window in the middle of the screen it is on (the primary screen when it has none yet).
void centerOnScreen(QWidget& window);

}  // namespace nimbrel
