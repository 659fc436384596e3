#include "KeyboardShortcuts/ShortcutField.h"

#include "KeyboardShortcuts/Shortcuts.h"
#include "KeyboardShortcuts/SpecialKey.h"
#include "platform/SystemShortcuts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace nimbrel::KeyboardShortcuts {

namespace {

const QString recordKey = QStringLiteral("record_shortcut");
const QString pressKey = QStringLiteral("press_shortcut");

// A click this close to the field still counts as inside it.
constexpr int clickSlop = 3;
// The room QLineEdit keeps between its contents' edges and its text.
constexpr int textSideMargin = 2;

QIcon clearIcon()
{
    QIcon themed = QIcon::fromTheme(QStringLiteral("edit-clear"));
    if (!themed.isNull())
        return themed;
    // Drawn when the icon theme has none: a grey disc with a white cross.
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 110));
        p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
        p.setPen(QPen(Qt::white, size / 9.0, Qt::SolidLine, Qt::RoundCap));
        const qreal a = size * 0.34;
        const qreal b = size * 0.66;
        p.drawLine(QPointF(a, a), QPointF(b, b));
        p.drawLine(QPointF(a, b), QPointF(b, a));
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A menu item's key equivalent as a key string, the way menus write it.
std::optional<QString> itemKeyString(Qt::Key key)
{
    if (const auto code = keyCodeFromQtKey(key)) {
        if (const auto special = specialKey(*code))
            return menuKeyEquivalent(*special);
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QString(QChar(key)).toLower();
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return QString(QChar(key));
    return std::nullopt;
}

QString plainTitle(const QAction& action)
{
    QString title = action.text();
    title.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return title.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

}  // namespace

int runAlert(QWidget* window, const QString& message, const QString& informativeText, const QStringList& buttons)
{
    QMessageBox box(window);
    box.setWindowTitle(QStringLiteral("Nimbrel"));
    box.setIcon(QMessageBox::Warning);
    box.setText(message);
    box.setInformativeText(informativeText);
    box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    QList<QAbstractButton*> added;
    if (buttons.isEmpty()) {
        added.append(box.addButton(QMessageBox::Ok));
    } else {
        for (const QString& title : buttons)
            added.append(box.addButton(title, added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    }
    // Escape and closing the alert answer as its first button.
    box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
    box.setEscapeButton(added.first());
    box.exec();
    const qsizetype index = added.indexOf(box.clickedButton());
    return 1000 + static_cast<int>(index < 0 ? 0 : index);
}

std::optional<QString> menuItemMatching(const QMenu& menu, const Shortcut& shortcut, const Shortcuts& shortcuts)
{
    const auto shortcutKey = shortcuts.menuItemKeyText(shortcut);
    for (QAction* action : menu.actions()) {
        // An item's alternate combinations trigger it just like its first one.
        for (const QKeySequence& sequence : action->shortcuts()) {
            if (!shortcutKey || sequence.isEmpty())
                continue;
            const QKeyCombination combination = sequence[0];
            const auto itemKey = itemKeyString(combination.key());
            if (itemKey && menuItemMatches(*itemKey, eventFlagsFromQt(combination.keyboardModifiers()), *shortcutKey,
                                           shortcut.modifiers()))
                return plainTitle(*action);
        }
        if (const QMenu* submenu = action->menu<QMenu*>()) {
            if (auto found = menuItemMatching(*submenu, shortcut, shortcuts))
                return found;
        }
    }
    return std::nullopt;
}

ShortcutField::ShortcutField(const Name& name, RecorderEnvironment environment, OnChange onChange, QWidget* parent)
    : QLineEdit(parent), m_shortcutName(name), m_environment(std::move(environment)), m_onChange(std::move(onChange))
{
    if (!m_environment.beep)
        m_environment.beep = [] { QApplication::beep(); };
    resize(minimumWidth, 24);
    setAlignment(Qt::AlignCenter);
    // Keys never type into the field, and a read-only field shows no caret while it records.
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(m_environment.shortcuts.localized(recordKey));

    connect(this, &QLineEdit::textChanged, this, [this] { updateGeometry(); });
    m_cancelButton = addAction(clearIcon(), QLineEdit::TrailingPosition);
    connect(m_cancelButton, &QAction::triggered, this, &ShortcutField::clearShortcut);

    connect(&m_environment.shortcuts, &Shortcuts::shortcutByNameDidChange, this, [this](const QString& rawValue) {
        if (rawValue == m_shortcutName.rawValue)
            refreshDisplay();
    });
    refreshDisplay();
}

ShortcutField::~ShortcutField()
{
    // Leaving while recording must not leave the global shortcuts paused.
    endRecording();
}

void ShortcutField::setShortcutName(const Name& name)
{
    m_shortcutName = name;
    refreshDisplay();
}

void ShortcutField::refreshDisplay()
{
    const auto shortcut = m_environment.shortcuts.getShortcut(m_shortcutName);
    setText(shortcut ? m_environment.shortcuts.description(*shortcut) : QString());
    updatePlaceholder();
    updateCancelButton();
}

void ShortcutField::updatePlaceholder()
{
    setPlaceholderText(m_environment.shortcuts.localized(m_recording ? pressKey : recordKey));
}

void ShortcutField::updateCancelButton()
{
    m_cancelButton->setVisible(!text().isEmpty());
}

QSize ShortcutField::sizeHint() const
{
    // QLineEdit's own hint is room for 17 "x" plus its frame, margins and the visible clear button; the
    // shortcut's text takes the place of the x's, so a long combination ("Shift+Ctrl+Alt+Super+Num+Enter")
    // widens the field instead of being cut off.
    const QSize lineEdit = QLineEdit::sizeHint();
    const QFontMetrics metrics = fontMetrics();
    const int chrome = lineEdit.width() - 17 * metrics.horizontalAdvance(QLatin1Char('x'));
    return {std::max(minimumWidth, chrome + metrics.horizontalAdvance(text())), lineEdit.height()};
}

void ShortcutField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // The window becoming active hands the focus back by itself; only a click, the keyboard's focus
    // chain or the program starts recording.
    switch (event->reason()) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
        case Qt::OtherFocusReason:
            startRecording();
            break;
        default:
            break;
    }
}

void ShortcutField::focusOutEvent(QFocusEvent* event)
{
    endRecording();
    QLineEdit::focusOutEvent(event);
}

void ShortcutField::hideEvent(QHideEvent* event)
{
    // Leaving the screen ends recording even when no focus change says so (the window was not active).
    endRecording();
    QLineEdit::hideEvent(event);
}

void ShortcutField::mousePressEvent(QMouseEvent* event)
{
    QLineEdit::mousePressEvent(event);
    if (hasFocus())
        startRecording();
}

void ShortcutField::paintEvent(QPaintEvent* event)
{
    QLineEdit::paintEvent(event);
    // QLineEdit leaves out the placeholder of a focused field whose text is centred, and this field has the
    // focus exactly while it records: "Press Shortcut" would never show. It is drawn here instead, where
    // and as QLineEdit draws it when the field has no focus.
    if (!hasFocus() || !text().isEmpty() || placeholderText().isEmpty() || !(alignment() & Qt::AlignHCenter))
        return;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents =
        style()->subElementRect(QStyle::SE_LineEditContents, &option, this).marginsRemoved(textMargins());
    const QRect line = contents.adjusted(textSideMargin, 0, -textSideMargin, 0);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(line, Qt::AlignCenter, fontMetrics().elidedText(placeholderText(), Qt::ElideRight, line.width()));
}

void ShortcutField::blur()
{
    endRecording();
    clearFocus();
}

void ShortcutField::startRecording()
{
    // A recorder that is not on screen cannot be typed at, and nothing would end its recording.
    if (m_recording || !isVisible())
        return;
    m_recording = true;
    updatePlaceholder();
    updateCancelButton();
    m_environment.shortcuts.setPaused(true);
    m_environment.shortcuts.postRecorderActiveStatus(true);
    qApp->installEventFilter(this);
}

void ShortcutField::endRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    qApp->removeEventFilter(this);
    updatePlaceholder();
    updateCancelButton();
    m_environment.shortcuts.setPaused(false);
    m_environment.shortcuts.postRecorderActiveStatus(false);
}

bool ShortcutField::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_recording || !watched->isWidgetType())
        return false;
    switch (event->type()) {
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton)
                return false;
            const QPoint local = mapFromGlobal(mouse->globalPosition().toPoint());
            if (!rect().adjusted(-clickSlop, -clickSlop, clickSlop, clickSlop).contains(local)) {
                // A click elsewhere ends recording and still does what it was meant to.
                blur();
                return false;
            }
            // Inside: the clear button still works; anything else is the recorder's own.
            return watched == this;
        }
        case QEvent::ShortcutOverride:
            // While recording, every combination is the recorder's, not an application shortcut's.
            if (watched != this)
                return false;
            event->accept();
            return true;
        case QEvent::KeyPress:
            if (watched != this)
                return false;
            return handleRecordingKey(keyEventFromQt(*static_cast<QKeyEvent*>(event)));
        default:
            return false;
    }
}

bool ShortcutField::handleRecordingKey(const KeyEvent& event)
{
    using Kind = RecorderDecision::Kind;
    const auto menus = [this](const Shortcut& shortcut) -> std::optional<QString> {
        if (!m_environment.menus)
            return std::nullopt;
        for (const QMenu* menu : m_environment.menus()) {
            if (!menu)
                continue;
            if (auto title = menuItemMatching(*menu, shortcut, m_environment.shortcuts))
                return title;
        }
        return std::nullopt;
    };
    const auto system = [this](const Shortcut& shortcut) {
        return m_environment.systemShortcuts.enabledHotKeys().contains(
            SystemHotKey{shortcut.keyCode, shortcut.keyModifiers});
    };

    const RecorderDecision decision = decideRecording(event, menus, system);
    const auto& strings = m_environment.shortcuts;
    switch (decision.kind) {
        case Kind::ignore:
            return true;
        case Kind::passOnAndEnd:
            // Tab moves the focus on as usual; losing it ends recording.
            return false;
        case Kind::endKeeping:
            blur();
            return true;
        case Kind::clear:
            if (m_cancelButton->isVisible() || !text().isEmpty())
                m_cancelButton->trigger();
            return true;
        case Kind::beep:
            m_environment.beep();
            return true;
        case Kind::menuConflict:
            alertAndResume(strings.localized(QStringLiteral("keyboard_shortcut_used_by_menu_item"))
                               .arg(decision.menuItemTitle),
                           {}, {});
            return true;
        case Kind::systemConflict: {
            const int response = alertAndResume(
                strings.localized(QStringLiteral("keyboard_shortcut_used_by_system")),
                strings.localized(QStringLiteral("keyboard_shortcuts_can_be_changed")),
                {strings.localized(QStringLiteral("ok")), strings.localized(QStringLiteral("force_use_shortcut"))});
            if (response == 1001 && decision.shortcut)
                accept(*decision.shortcut);
            return true;
        }
        case Kind::accept:
            accept(*decision.shortcut);
            return true;
    }
    return true;
}

int ShortcutField::alertAndResume(const QString& message, const QString& informativeText, const QStringList& buttons)
{
    blur();
    const QPointer<ShortcutField> self(this);
    const int response = m_environment.alert(window(), message, informativeText, buttons);
    if (!self)
        return response;
    // The user gets another try at once.
    activateWindow();
    setFocus(Qt::OtherFocusReason);
    startRecording();
    return response;
}

void ShortcutField::accept(const Shortcut& shortcut)
{
    setText(m_environment.shortcuts.description(shortcut));
    updateCancelButton();
    m_environment.shortcuts.setShortcut(shortcut, m_shortcutName);
    if (m_onChange)
        m_onChange(shortcut);
    blur();
}

void ShortcutField::clearShortcut()
{
    setText(QString());
    m_environment.shortcuts.setShortcut(std::nullopt, m_shortcutName);
    if (m_onChange)
        m_onChange(std::nullopt);
    updateCancelButton();
    // Clearing keeps (or starts) recording, so the next combination can be pressed right away.
    setFocus(Qt::OtherFocusReason);
    startRecording();
}

}  // namespace nimbrel::KeyboardShortcuts
