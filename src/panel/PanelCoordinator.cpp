#include "panel/PanelCoordinator.h"
#include "panel/ResultsModel.h"

#include "history/HistoryStore.h"
#include "panel/ClipListView.h"
#include "panel/PanelPlacement.h"
#include "panel/PasteBack.h"
#include "platform/ClickMonitor.h"
#include "platform/LayerShell.h"
#include "platform/Workspace.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <vector>

namespace nimbrel {

namespace {

constexpr int keyboardGrabAttempts = 20;
constexpr int keyboardGrabRetryMs = 10;

// The screen the user works on: that of the window with the keyboard focus, else the one under the
// pointer, else the primary one. Null when there is no screen at all.
QScreen* workingScreen(const Workspace& workspace)
{
    const auto screens = QGuiApplication::screens();
    if (const auto window = workspace.activeWindowFrame()) {
        std::vector<ScreenArea> areas;
        areas.reserve(screens.size());
        for (const QScreen* screen : screens)
            areas.push_back({screen->geometry(), screen->devicePixelRatio()});
        if (const auto index = screenOfWindow(areas, *window))
            return screens.at(static_cast<qsizetype>(*index));
    }
    if (QScreen* pointer = QGuiApplication::screenAt(QCursor::pos()))
        return pointer;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        return primary;
    return screens.isEmpty() ? nullptr : screens.first();
}

// The screen's visible frame with the origin at its bottom left, and the height that converts back.
std::pair<YUpRect, double> visibleFrame(const QScreen& screen)
{
    const double height = screen.geometry().y() + screen.geometry().height();
    return {fromQt(QRectF(screen.availableGeometry()), height), height};
}

}  // namespace

PanelCoordinator::PanelCoordinator(PanelServices services, QObject* parent)
    : QObject(parent),
      m_services(std::move(services)),
      m_preview(std::make_unique<ImagePreviewWindow>(m_services.layerShell != nullptr))
{
}

PanelCoordinator::~PanelCoordinator()
{
    // The services may be going away with the shell: the last hide tells them nothing.
    if (m_panel)
        disconnect(m_panel.get(), &ClipPanel::hidden, this, nullptr);
    // Layer surfaces go before the windows whose surfaces they use.
    hide();
}

bool PanelCoordinator::isVisible() const
{
    return m_panel && m_panel->isVisible();
}

void PanelCoordinator::toggle()
{
    if (isVisible())
        hide();
    else
        show();
}

void PanelCoordinator::show()
{
    const PanelMode mode = m_services.settings.panelMode();
    // A panel hidden some other way than hide() (the window manager closed it) gives its monitors back.
    if (!isVisible())
        removeMonitors();
    if (!m_panel || !m_panel->cachedMode || *m_panel->cachedMode != mode) {
        // A placement change builds a new panel; the old one goes with its content.
        if (m_panel) {
            if (m_services.layerShell && m_panel->windowHandle())
                m_services.layerShell->detach(m_panel->windowHandle());
            m_panel->hide();
        }
        // On Wayland without layers the panel is an ordinary window with the keyboard: losing the keyboard is
        // the sign of a click elsewhere.
        const bool layered = m_services.layerShell != nullptr;
        m_panel = std::make_unique<ClipPanel>(
            layered, !layered && QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
        connect(m_panel.get(), &ClipPanel::left, this, [this] { QTimer::singleShot(0, this, [this] { hide(); }); });
        // Whichever way the panel goes, the deleted record kept for undo is let go.
        connect(m_panel.get(), &ClipPanel::hidden, this, [this] {
            if (m_services.forgetRemoved)
                m_services.forgetRemoved();
        });
        m_panel->cachedMode = mode;
        m_hostingView.clear();
    }

    // With no screen at all there is no frame to place the panel in: it is not shown.
    QScreen* screen = workingScreen(m_services.workspace);
    m_screen = screen;
    if (!screen)
        return;
    const auto [visible, height] = visibleFrame(*screen);
    // The window also holds the soft shadow around the rounded panel.
    m_panel->setGeometry(toQt(panelFrame(mode, visible), height).marginsAdded(ClipListView::shadowMargins()));

    ++m_presentToken;
    if (!m_hostingView) {
        auto* content = new ClipListView(m_services.store, m_services.settings, m_services.thumbnails, m_services.icons,
                                         m_services.clock, mode);
        connect(content, &ClipListView::selected, this, &PanelCoordinator::select);
        if (m_services.removeRecord)
            content->results().setRemover(m_services.removeRecord);
        if (m_services.setPinned)
            content->setPinner(m_services.setPinned);
        if (m_services.undoRemove)
            content->results().setUndoer(m_services.undoRemove);
        connect(content, &ClipListView::imageHover, this, &PanelCoordinator::imageHover);
        m_panel->setContent(content);
        m_hostingView = content;
    }
    m_panel->show();
    if (m_services.layerShell)
        placeOnLayers(mode, m_panel->geometry(), screen->geometry());
    m_panel->raise();
    // Qt's idea of the active window only: typing reaches the search field while the window manager
    // keeps the application in front active.
    QApplication::setActiveWindow(m_panel.get());
    // After the show, so the search field's focus is not reset by it.
    static_cast<ClipListView*>(m_hostingView.data())->present(m_presentToken);
    installMonitors();
}

void PanelCoordinator::hide()
{
    // A layer surface goes before its window: the window's surface must not lose a role still in use.
    if (m_services.layerShell) {
        if (m_panel && m_panel->windowHandle())
            m_services.layerShell->detach(m_panel->windowHandle());
        if (m_catcher && m_catcher->windowHandle())
            m_services.layerShell->detach(m_catcher->windowHandle());
        if (m_preview->windowHandle())
            m_services.layerShell->detach(m_preview->windowHandle());
    }
    if (m_panel)
        m_panel->hide();
    if (m_catcher)
        m_catcher->hide();
    m_preview->hide();
    removeMonitors();
}

void PanelCoordinator::installMonitors()
{
    if (!m_clickMonitorInstalled) {
        QPointer<PanelCoordinator> self(this);
        // A refused monitor is tried again at the next show.
        m_clickMonitorInstalled = m_services.clicks.start([self] {
            QTimer::singleShot(0, self, [self] {
                if (self)
                    self->hide();
            });
        });
    }
    if (!m_keyMonitorInstalled) {
        qApp->installEventFilter(this);
        m_keyMonitorInstalled = true;
    }
    if (!m_keyboardRequested) {
        m_keyboardRequested = true;
        grabKeyboard(keyboardGrabAttempts);
    }
}

void PanelCoordinator::removeMonitors()
{
    if (m_clickMonitorInstalled) {
        m_services.clicks.stop();
        m_clickMonitorInstalled = false;
    }
    if (m_keyMonitorInstalled) {
        qApp->removeEventFilter(this);
        m_keyMonitorInstalled = false;
    }
    m_keyboardRequested = false;
    if (m_keyboardHeld) {
        m_keyboardHeld = false;
        if (m_panel && m_panel->windowHandle())
            m_panel->windowHandle()->setKeyboardGrabEnabled(false);
        if (m_services.keyboardHeld)
            m_services.keyboardHeld(false);
    }
}

void PanelCoordinator::grabKeyboard(int attemptsLeft)
{
    // The grab needs the window mapped, which the window manager does a moment after show(). Only a
    // grab that took hands the shortcut to the panel's key events; without one the desktop keeps it.
    if (!m_keyboardRequested || m_keyboardHeld || !m_panel || !m_panel->isVisible() || !m_panel->windowHandle())
        return;
    if (m_panel->windowHandle()->setKeyboardGrabEnabled(true)) {
        m_keyboardHeld = true;
        if (m_services.keyboardHeld)
            m_services.keyboardHeld(true);
        return;
    }
    if (attemptsLeft <= 1)
        return;
    QTimer::singleShot(keyboardGrabRetryMs, this, [this, attemptsLeft] { grabKeyboard(attemptsLeft - 1); });
}

bool PanelCoordinator::eventFilter(QObject* watched, QEvent* event)
{
    // Escape closes the panel and reaches nothing else; only keys of the panel's own window count.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && m_panel && widget->window() == m_panel.get()) {
            QPointer<PanelCoordinator> self(this);
            QTimer::singleShot(0, this, [self] {
                if (self)
                    self->hide();
            });
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PanelCoordinator::select(ClipItem item)
{
    hide();
    // The full image and the formatted forms are read only now, for the one record that is pasted.
    (void)m_services.store.loadContents(item);
    QPointer<PasteBack> pasteBack(&m_services.pasteBack);
    QTimer::singleShot(pasteDelayMs, this, [pasteBack, item] {
        if (pasteBack)
            pasteBack->paste(item);
    });
}

void PanelCoordinator::imageHover(const std::optional<QImage>& image)
{
    if (image)
        showPreview(*image, QCursor::pos());
    else
        m_preview->hide();
}

void PanelCoordinator::showPreview(const QImage& image, QPoint pointer)
{
    QScreen* screen = m_screen ? m_screen.data() : workingScreen(m_services.workspace);
    if (!screen)
        return;
    const auto [visible, height] = visibleFrame(*screen);
    const auto frame = previewFrame(image.size(), fromQt(QPointF(pointer), height), visible);
    if (!frame)
        return;
    m_preview->setImage(image);
    const QRect placed = toQt(*frame, height);
    m_preview->setGeometry(placed);
    if (!m_services.layerShell) {
        m_preview->show();
        m_preview->raise();
        return;
    }
    // On a layer, the preview is placed from the output's corner, beside the panel's own place.
    m_services.layerShell->detach(m_preview->windowHandle());
    m_preview->hide();
    m_preview->show();
    const QRect output = screen->geometry();
    LayerShell::Placement placement;
    placement.edges = LayerShell::top | LayerShell::left;
    placement.margins = QMargins(placed.left() - output.left(), placed.top() - output.top(), 0, 0);
    if (!m_services.layerShell->attach(m_preview->windowHandle(), placement))
        m_preview->hide();
}

void PanelCoordinator::placeOnLayers(PanelMode mode, const QRect& frame, const QRect& screen)
{
    LayerShell& layers = *m_services.layerShell;
    const QPointer<PanelCoordinator> self(this);
    const auto closeLater = [self] {
        QTimer::singleShot(0, self, [self] {
            if (self)
                self->hide();
        });
    };
    // The catcher first, under the panel: any click that misses the panel closes it.
    if (!m_catcher) {
        m_catcher = std::make_unique<ClickCatcher>();
        connect(m_catcher.get(), &ClickCatcher::clicked, this, closeLater);
    }
    m_catcher->setGeometry(screen);
    m_catcher->show();
    if (!layers.attach(m_catcher->windowHandle(),
                       {LayerShell::top | LayerShell::bottom | LayerShell::left | LayerShell::right, {}, false, false},
                       closeLater))
        m_catcher->hide();

    // Anchored to the placement's edge, at the placement's inset from it; the desktop centres it along the
    // edge and keeps it clear of its bars.
    LayerShell::Placement placement;
    placement.keyboard = true;
    switch (mode) {
        case PanelMode::bottom:
            placement.edges = LayerShell::bottom;
            placement.margins.setBottom(screen.bottom() - frame.bottom());
            break;
        case PanelMode::left:
            placement.edges = LayerShell::left;
            placement.margins.setLeft(frame.left() - screen.left());
            break;
        case PanelMode::right:
            placement.edges = LayerShell::right;
            placement.margins.setRight(screen.right() - frame.right());
            break;
    }
    if (!layers.attach(m_panel->windowHandle(), placement, closeLater))
        hide();
}

}  // namespace nimbrel
