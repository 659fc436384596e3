#include "shell/AuxiliaryWindows.h"

#include "settings/AboutView.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWidgets.h"
#include "shell/AppIcon.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace nimbrel {

namespace {
const QString aboutKey = QStringLiteral("关于 Nimbrel");
const QString contactKey = QStringLiteral("联系作者");
const QString menuKey = QStringLiteral("Nimbrel");
const QString titleKey = QStringLiteral("Nimbrel 设置");
const QString closeKey = QStringLiteral("关闭窗口");
const QString quitKey = QStringLiteral("退出 Nimbrel");
}  // namespace

SettingsWindow::SettingsWindow(SettingsView* view, const SettingsStore& settings, QWidget* parent)
    : QMainWindow(parent), m_settings(settings), m_view(view)
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowIcon(appIcon());
    m_view->setParent(this);
    setCentralWidget(m_view);

    m_menu = menuBar()->addMenu(QString());
    m_about = m_menu->addAction(symbolIcon(Symbol::info, palette().color(QPalette::WindowText)), QString());
    m_contact = m_menu->addAction(symbolIcon(Symbol::envelope, palette().color(QPalette::WindowText)), QString());
    m_menu->addSeparator();
    // The window's key equivalents live in its menu, where the shortcut recorder sees them.
    m_close = m_menu->addAction(QString());
    m_close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    m_quit = m_menu->addAction(symbolIcon(Symbol::power, palette().color(QPalette::WindowText)), QString());
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_about, &QAction::triggered, this, &SettingsWindow::aboutRequested);
    connect(m_contact, &QAction::triggered, this, &SettingsWindow::contactRequested);
    connect(m_close, &QAction::triggered, this, &QWidget::close);
    connect(m_quit, &QAction::triggered, this, &SettingsWindow::quitRequested);

    connect(&m_settings, &SettingsStore::languageChanged, this, &SettingsWindow::retranslate);
    // Texts of another length change the page's height; the page has taken them once this runs.
    connect(&m_settings, &SettingsStore::languageChanged, this, &SettingsWindow::fitToScreen, Qt::QueuedConnection);
    connect(m_view, &SettingsView::naturalHeightChanged, this, &SettingsWindow::fitToScreen, Qt::QueuedConnection);
    retranslate();
    // Not minimizable, and only as tall as the page and the screen allow.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    fitToScreen();
}

void SettingsWindow::fitToScreen()
{
    const int width = contentWidth;
    const int menu = menuWidget() ? menuWidget()->sizeHint().height() : 0;
    const int natural = m_view->naturalHeight(width) + menu;
    // The title bar is known once the window manager has framed the window; until then a usual one.
    const int frame = isVisible() && frameGeometry().height() > height() ? frameGeometry().height() - height()
                                                                         : assumedTitleBarHeight;
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().height() - frame : natural;
    const int shown = std::max(std::min(natural, room), std::min(natural, minimumHeight));
    setFixedWidth(width);
    setMinimumHeight(std::min(natural, minimumHeight));
    setMaximumHeight(natural);
    resize(width, shown);
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (QWindow* handle = windowHandle(); handle && !m_followsScreen) {
        m_followsScreen = true;
        connect(handle, &QWindow::screenChanged, this, &SettingsWindow::fitToScreen);
    }
}

void SettingsWindow::retranslate()
{
    setWindowTitle(m_settings.localized(titleKey));
    m_menu->setTitle(m_settings.localized(menuKey));
    m_about->setText(m_settings.localized(aboutKey));
    m_contact->setText(m_settings.localized(contactKey));
    m_close->setText(m_settings.localized(closeKey));
    m_quit->setText(m_settings.localized(quitKey));
}

void SettingsWindow::closeEvent(QCloseEvent* event)
{
    // Closing only puts the window away: an accepted close would destroy the native window, and with it
    // what the desktop knows of it. Told after hiding, so the tray-only state never marks a shown window.
    event->ignore();
    hide();
    Q_EMIT closing();
}

AboutWindow::AboutWindow(AboutView* view, QWidget* parent) : QWidget(parent), m_view(view)
{
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowIcon(appIcon());
    setWindowTitle(QStringLiteral(" "));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view->setParent(this);
    layout->addWidget(m_view, 0, Qt::AlignCenter);
    setFixedSize(contentSize);
}

void AboutWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

void AboutWindow::mousePressEvent(QMouseEvent* event)
{
    // The whole background is a handle for moving the window.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

void centerOnScreen(QWidget& window)
{
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSize size = window.frameGeometry().size().expandedTo(window.size());
    const QRect room = screen->availableGeometry();
    QPoint topLeft = room.center() - QPoint(size.width() / 2, size.height() / 2);
    // A window taller than the screen keeps its title bar reachable.
    topLeft.setY(std::max(topLeft.y(), room.top()));
    topLeft.setX(std::max(topLeft.x(), room.left()));
    window.move(topLeft);
}

}  // namespace nimbrel
