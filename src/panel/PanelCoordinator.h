#pragma once

#include "history/ClipItem.h"
#include "panel/ClipPanel.h"

#include <QImage>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QScreen;

namespace nimbrel {

class AppIconCache;
class ClickMonitor;
class Clock;
class HistoryStore;
class LayerShell;
class PasteBack;
class SettingsStore;
class ThumbnailCache;
class Workspace;

// What the panel is built from; the shell passes the real services, tests their fakes.
struct PanelServices {
    HistoryStore& store;
    SettingsStore& settings;
    ThumbnailCache& thumbnails;
    AppIconCache& icons;
    const Clock& clock;
    PasteBack& pasteBack;
    ClickMonitor& clicks;
    // Where the window with the keyboard focus is, so the panel opens on the screen the user works on.
    const Workspace& workspace;
    // Told when the panel takes and gives back the keyboard, so the global shortcut keeps working
    // while the panel holds it.
    std::function<void(bool held)> keyboardHeld;
    // Deletes a record off the UI thread; when absent the panel deletes through `store` itself.
    std::function<void(const QUuid&)> removeRecord;
    // The desktop's layers (Wayland's layer shell), where it has them: the panel is placed there, with the
    // keyboard, and a catcher under it closes it on a click elsewhere. Null: an X11 tool window.
    LayerShell* layerShell = nullptr;
    // Pins or unpins a record off the UI thread; absent: records cannot be pinned from the panel.
    std::function<void(const QUuid&, bool pinned)> setPinned;
    // Brings back the record the panel deleted last, while the panel is open; absent: no undo.
    std::function<void()> undoRemove;
    // The panel closed: the deleted record kept for undo is let go.
    std::function<void()> forgetRemoved;
};

// Owns the floating panel: builds it for the current placement, shows and hides it, closes it on
// Escape and on clicks outside, and hands a chosen record to paste-back. Main thread only.
class PanelCoordinator final : public QObject {
    Q_OBJECT
public:
    static constexpr int pasteDelayMs = 50;

    explicit PanelCoordinator(PanelServices services, QObject* parent = nullptr);
    ~PanelCoordinator() override;

    void show();
    void hide();
    void toggle();
    bool isVisible() const;

    ClipPanel* panel() const { return m_panel.get(); }
    QWidget* hostingView() const { return m_hostingView; }
    qint64 presentToken() const { return m_presentToken; }
    ImagePreviewWindow* previewWindow() const { return m_preview.get(); }
    ClickCatcher* clickCatcher() const { return m_catcher.get(); }
    bool monitorsInstalled() const { return m_clickMonitorInstalled || m_keyMonitorInstalled; }

    // The pure steps behind the content's actions.
    void select(ClipItem item);
    void imageHover(const std::optional<QImage>& image);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void installMonitors();
    void removeMonitors();
    void grabKeyboard(int attemptsLeft);
    void showPreview(const QImage& image, QPoint pointer);
    // Gives the shown panel (and the catcher under it) their places on the desktop's layers.
    void placeOnLayers(PanelMode mode, const QRect& frame, const QRect& screen);

    PanelServices m_services;
    std::unique_ptr<ClipPanel> m_panel;
    std::unique_ptr<ClickCatcher> m_catcher;
    // The screen the panel was last placed on; the hover preview stays on it.
    QPointer<QScreen> m_screen;
    QPointer<QWidget> m_hostingView;
    qint64 m_presentToken = 0;
    std::unique_ptr<ImagePreviewWindow> m_preview;
    bool m_clickMonitorInstalled = false;
    bool m_keyMonitorInstalled = false;
    bool m_keyboardRequested = false;
    bool m_keyboardHeld = false;
};

}  // namespace nimbrel
