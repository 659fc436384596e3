#pragma once

#include "KeyboardShortcuts/Name.h"
#include "KeyboardShortcuts/RecordingRules.h"
#include "KeyboardShortcuts/Shortcut.h"

#include <QLineEdit>
#include <QList>
#include <QPointer>

#include <functional>
#include <optional>

class QMenu;

namespace nimbrel {
class SystemShortcuts;
}

namespace nimbrel::KeyboardShortcuts {

class Shortcuts;

// Shows an alert over `window` (application-modal when there is none) and answers 1000 for the first
// button, 1001 for the second and so on. No buttons given: a single "ok" button.
using AlertPresenter = std::function<int(QWidget* window, const QString& message, const QString& informativeText,
                                         const QStringList& buttons)>;
int runAlert(QWidget* window, const QString& message, const QString& informativeText, const QStringList& buttons);

// What a recorder consults besides the shortcut store: Nimbrel's own menus, the desktop's bindings, and
// how it beeps and asks. Tests replace the last two.
struct RecorderEnvironment {
    Shortcuts& shortcuts;
    const SystemShortcuts& systemShortcuts;
    std::function<QList<QMenu*>()> menus;
    AlertPresenter alert = runAlert;
    std::function<void()> beep;
};

// The title of the first item, in menu order and submenus depth first, whose key equivalent is the
// shortcut's; nothing when no item has it.
std::optional<QString> menuItemMatching(const QMenu& menu, const Shortcut& shortcut, const Shortcuts& shortcuts);

// The field in which the user sets, replaces or clears the shortcut of one name. It shows the shortcut's
// display text; a click starts recording (the field's window becoming active does not), the next
// acceptable combination becomes the shortcut, and the clear button removes it. While it records, global
// dispatch is paused so the current shortcut can be recorded again.
class ShortcutField final : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 130;
    using OnChange = std::function<void(const std::optional<Shortcut>&)>;

    ShortcutField(const Name& name, RecorderEnvironment environment, OnChange onChange = {}, QWidget* parent = nullptr);
    ~ShortcutField() override;

    const Name& shortcutName() const { return m_shortcutName; }
    void setShortcutName(const Name& name);
    bool isRecording() const { return m_recording; }
    // The clear button; hidden while the field is empty.
    QAction* cancelButton() const { return m_cancelButton; }

    // Shows the stored shortcut (empty when none) and the placeholder in the current language.
    void refreshDisplay();
    // Gives the focus up, which ends recording.
    void blur();
    // Runs one key press through the recording rules; true when it is swallowed.
    bool handleRecordingKey(const KeyEvent& event);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startRecording();
    void endRecording();
    void clearShortcut();
    void accept(const Shortcut& shortcut);
    // Runs an alert with recording ended and starts recording again afterwards; returns the response.
    int alertAndResume(const QString& message, const QString& informativeText, const QStringList& buttons);
    void updateCancelButton();
    void updatePlaceholder();

    Name m_shortcutName;
    RecorderEnvironment m_environment;
    OnChange m_onChange;
    QAction* m_cancelButton = nullptr;
    bool m_recording = false;
    bool m_monitoring = false;
};

}  // namespace nimbrel::KeyboardShortcuts
