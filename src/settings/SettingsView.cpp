#include "settings/SettingsView.h"

#include "KeyboardShortcuts/Shortcuts.h"
#include "history/CaptureGate.h"
#include "hotkey/HotkeyManager.h"
#include "platform/Workspace.h"
#include "settings/ClearHistoryDialog.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsWidgets.h"
#include "shell/AppIcon.h"
#include "update/UpdaterService.h"

#include <QComboBox>
#include <QDir>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace nimbrel {

namespace {

const QString titleKey = QStringLiteral("Nimbrel 设置");
constexpr int storageStep = 100;

const QString launchReportKey = QStringLiteral("发送首次启动报告");
const QString launchReportPendingKey =
    QStringLiteral("首次启动时发送一次：随机安装标识、系统语言和内核版本。启动时若已关闭，则永不发送。");
const QString launchReportSentKey = QStringLiteral("已在首次启动时发送一次，此后不再发送任何内容。");
const QString launchReportDeclinedKey = QStringLiteral("已拒绝：启动报告永不发送。");
const QString updateCheckKey = QStringLiteral("自动检查更新");
const QString updateCheckCaptionKey =
    QStringLiteral("启动时及每 6 小时向更新服务器查询最新版本，不附带任何标识。关闭后立即停止查询。");
// %1: the environment variable that turned it off.
const QString turnedOffByPackageKey = QStringLiteral("此项已被软件包关闭（%1）。");

QFrame* divider(qreal opacity, QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    QColor color = line->palette().color(QPalette::WindowText);
    color.setAlphaF(opacity);
    line->setStyleSheet(QStringLiteral("background-color: %1;").arg(color.name(QColor::HexArgb)));
    return line;
}

const QString excludedTitleKey = QStringLiteral("排除的应用");
const QString clearHistoryKey = QStringLiteral("清除历史记录…");
constexpr qint64 bytesPerMB = 1'048'576;

QString withoutDesktopSuffix(QString id)
{
    id = id.trimmed();
    if (id.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive))
        id.chop(8);
    return id;
}

// How an excluded entry shows: the application's name and icon where it runs or is installed, else the
// entry as the user wrote it.
struct ShownEntry {
    std::optional<QString> name;
    std::optional<QIcon> icon;
};

ShownEntry shownEntry(const QString& entry, const QList<RunningApplication>& running, const Workspace& workspace)
{
    QString id = withoutDesktopSuffix(entry);
    std::optional<QString> name;
    // A window class the user typed may belong to an installed application, known by its desktop id.
    for (const RunningApplication& application : running) {
        if (!namesApplication(entry, application))
            continue;
        if (application.applicationId)
            id = *application.applicationId;
        name = application.localizedName;
        break;
    }
    if (!name)
        name = workspace.applicationName(id);
    return {name, workspace.applicationIcon(id)};
}

QHBoxLayout* rowLayout(QWidget* left, QWidget* right)
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(left);
    row->addStretch(1);
    if (right)
        row->addWidget(right);
    return row;
}

}  // namespace

SettingsView::SettingsView(SettingsViewServices services, bool accessibilityTrusted, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)), m_accessibilityTrusted(accessibilityTrusted)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_header = buildHeader();
    outer->addWidget(m_header);
    outer->addWidget(divider(0.2, this));

    // The page scrolls when the screen is too small for it (a small screen, or large scaling).
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_page = new QWidget(m_scroll);
    auto* cards = new QVBoxLayout(m_page);
    cards->setContentsMargins(20, 14, 20, 14);
    cards->setSpacing(14);
    m_noTrayCard = buildNoTrayCard();
    cards->addWidget(m_noTrayCard);
    m_accessibilityCard = buildAccessibilityCard();
    cards->addWidget(m_accessibilityCard);
    if (!m_services.desktopLimits.isEmpty())
        cards->addWidget(buildDesktopSupportCard());
    cards->addWidget(buildLaunchAtLoginCard());
    cards->addWidget(buildPrimarySelectionCard());
    cards->addWidget(buildLanguageCard());
    cards->addWidget(buildShortcutCard());
    cards->addWidget(buildPanelModeCard());
    cards->addWidget(buildStorageCard());
    // Beside the storage card, both deciding what the history holds; below the shortcut field, so Tab reaches
    // that in as few steps as ever.
    m_excludedCard = buildExcludedApplicationsCard();
    cards->addWidget(m_excludedCard);
    cards->addWidget(buildLaunchReportCard());
    cards->addWidget(buildUpdateCheckCard());
    cards->addWidget(buildSupportCard());
    cards->addStretch(1);
    m_scroll->setWidget(m_page);
    outer->addWidget(m_scroll, 1);

    SettingsStore& settings = m_services.settings;
    connect(&settings, &SettingsStore::languageChanged, this, &SettingsView::retranslate);
    connect(&settings, &SettingsStore::launchAtLoginChanged, this, &SettingsView::showLaunchAtLogin);
    connect(&settings, &SettingsStore::recordPrimarySelectionChanged, this, &SettingsView::showPrimarySelection);
    connect(&settings, &SettingsStore::sendsLaunchReportChanged, this, &SettingsView::showLaunchReport);
    connect(&settings, &SettingsStore::launchReportStatusChanged, this, &SettingsView::showLaunchReport);
    connect(&settings, &SettingsStore::checksForUpdatesChanged, this, &SettingsView::showUpdateCheck);
    connect(&settings, &SettingsStore::panelModeChanged, this, &SettingsView::showPanelMode);
    connect(&settings, &SettingsStore::maxStorageMBChanged, this, &SettingsView::showStorage);
    connect(&settings, &SettingsStore::maxStorageMBChanged, this, &SettingsView::showHistoryUsage);
    connect(&settings, &SettingsStore::excludedApplicationsChanged, this, &SettingsView::showExcludedApplications);
    connect(&m_services.updater, &UpdaterService::stateChanged, this, &SettingsView::updateRestartButton);
    connect(&m_services.recorder.shortcuts, &KeyboardShortcuts::Shortcuts::shortcutByNameDidChange, this,
            &SettingsView::showWaysIn);

    // Access granted elsewhere shows here within a second; revoked access shows at the next activation.
    m_trustTimer = new QTimer(this);
    m_trustTimer->setInterval(1000);
    connect(m_trustTimer, &QTimer::timeout, this, [this] {
        if (!m_accessibilityTrusted)
            recheckAccessibility();
    });
    m_trustTimer->start();
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            recheckAccessibility();
    });

    m_accessibilityCard->setVisible(!m_accessibilityTrusted);
    showTrayState();
    retranslate();
    showLaunchAtLogin();
    showPrimarySelection();
    showPanelMode();
    showStorage();
    m_restart->setVisible(m_services.updater.state() == UpdaterService::State::readyToRelaunch);
}

SettingsView::~SettingsView() = default;

int SettingsView::naturalHeight(int width) const
{
    const auto heightAt = [width](const QWidget* widget) {
        return widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
    };
    // Header, divider, page: the scroll area itself has no say in it. The page is measured as narrow as a
    // scroll bar would make it: a scroll bar, once shown, stays until the narrower page fits.
    const int scrollBar = m_scroll->verticalScrollBar()->sizeHint().width();
    const auto pageHeight = [this](int pageWidth) {
        return m_page->hasHeightForWidth() ? m_page->heightForWidth(pageWidth) : m_page->sizeHint().height();
    };
    return heightAt(m_header) + 1 + pageHeight(width - scrollBar);
}

QList<QWidget*> SettingsView::cards() const
{
    QList<QWidget*> found;
    const QLayout* layout = m_page->layout();
    for (int i = 0; i < layout->count(); ++i)
        if (QWidget* widget = layout->itemAt(i)->widget())
            found.append(widget);
    return found;
}

QLabel* SettingsView::text(const QString& key, int pixelSize, QFont::Weight weight, bool secondary, QWidget* parent)
{
    QLabel* shown = label(pixelSize, weight, secondary, parent);
    m_texts.emplace_back(shown, key);
    return shown;
}

QLabel* SettingsView::label(int pixelSize, QFont::Weight weight, bool secondary, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFont(uiFont(pixelSize, weight));
    label->setWordWrap(secondary);
    if (secondary) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, secondaryColor(palette));
        label->setPalette(palette);
    }
    return label;
}

QWidget* SettingsView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(20, 14, 20, 14);
    layout->setSpacing(10);
    auto* icon = new QLabel(header);
    icon->setPixmap(appIcon().pixmap(28, 28));
    layout->addWidget(icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(text(titleKey, 16, QFont::DemiBold, false, header));
    QLabel* subtitle =
        text(QStringLiteral("常驻系统托盘 · 全局快捷键唤起 · 选中即粘贴"), 11, QFont::Normal, true, header);
    titles->addWidget(subtitle);
    // The titles take all the room the restart button leaves, so the subtitle wraps only when it must.
    layout->addLayout(titles, 1);

    m_restart = new QPushButton(header);
    m_restart->setObjectName(QStringLiteral("restartButton"));
    m_restart->setIcon(symbolIcon(Symbol::restart, Qt::white));
    m_restart->setIconSize(QSize(11, 11));
    m_restart->setFont(uiFont(12, QFont::DemiBold));
    m_restart->setCursor(Qt::PointingHandCursor);
    m_restart->setStyleSheet(
        QStringLiteral("QPushButton#restartButton { color: white; background: palette(highlight);"
                       " border: none; border-radius: 12px; padding: 6px 12px; }"));
    auto* opacity = new QGraphicsOpacityEffect(m_restart);
    // The effect starts at 0.7; a window opened with an update staged shows the button without a fade.
    opacity->setOpacity(1.0);
    m_restart->setGraphicsEffect(opacity);
    m_fade = new QPropertyAnimation(opacity, "opacity", m_restart);
    m_fade->setDuration(250);
    m_fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_fade, &QPropertyAnimation::finished, m_restart,
            [this] { m_restart->setVisible(m_fade->endValue().toReal() > 0.5); });
    connect(m_restart, &QPushButton::clicked, this, [this] { m_services.updater.installAndRelaunch(); });
    layout->addWidget(m_restart);
    return header;
}

QWidget* SettingsView::buildNoTrayCard()
{
    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("noTrayCard"));
    card->setStyleSheet(
        QStringLiteral("QFrame#noTrayCard { background: rgba(0, 122, 255, 0.10);"
                       " border: 1px solid rgba(0, 122, 255, 0.35); border-radius: 10px; }"));
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(14);
    auto* icon = new QLabel(card);
    icon->setPixmap(symbolIcon(Symbol::info, palette().color(QPalette::Highlight)).pixmap(26, 26));
    icon->setStyleSheet(QStringLiteral("border: none; background: transparent;"));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    QLabel* title = text(QStringLiteral("此桌面没有系统托盘"), 14, QFont::DemiBold, false, card);
    title->setWordWrap(true);
    m_noTrayText = label(11, QFont::Normal, false, card);
    m_noTrayText->setWordWrap(true);
    m_noTrayText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLabel* label : {title, m_noTrayText}) {
        label->setStyleSheet(QStringLiteral("border: none; background: transparent;"));
        texts->addWidget(label);
    }
    layout->addLayout(texts, 1);
    // With no tray menu, this is the one visible way to end Nimbrel.
    m_quit = new QPushButton(card);
    connect(m_quit, &QPushButton::clicked, this, [this] {
        if (m_services.quit)
            m_services.quit();
    });
    layout->addWidget(m_quit, 0, Qt::AlignVCenter);
    return card;
}

QWidget* SettingsView::buildAccessibilityCard()
{
    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("accessibilityCard"));
    card->setStyleSheet(
        QStringLiteral("QFrame#accessibilityCard { background: rgba(255, 149, 0, 0.12);"
                       " border: 1px solid rgba(255, 149, 0, 0.4); border-radius: 10px; }"));
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(14);
    auto* icon = new QLabel(card);
    icon->setPixmap(symbolIcon(Symbol::warning, QColor(255, 149, 0)).pixmap(30, 30));
    icon->setStyleSheet(QStringLiteral("border: none; background: transparent;"));
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    for (QLabel* label : {text(QStringLiteral("无法自动粘贴"), 14, QFont::DemiBold, false, card),
                          text(QStringLiteral("此桌面不允许模拟按键：选中的条目会放到剪贴板上，请按 Ctrl+V 粘贴。"), 11,
                               QFont::Normal, true, card)}) {
        label->setStyleSheet(QStringLiteral("border: none; background: transparent;"));
        texts->addWidget(label);
    }
    layout->addLayout(texts, 1);
    m_openSettings = new QPushButton(card);
    connect(m_openSettings, &QPushButton::clicked, this, [this] {
        if (m_services.requestPasteAccess)
            m_services.requestPasteAccess();
    });
    layout->addWidget(m_openSettings);
    return card;
}

namespace {

// The limit in the interface language's key; the paste card already says what pasting without keys means.
std::optional<QString> limitKey(Limit limit)
{
    // Each text on one line, as the translation tables' check reads them.
    // clang-format off
    switch (limit) {
        case Limit::noDisplay:
            return QStringLiteral("无法连接显示服务器：Nimbrel 既不能记录复制的内容，也不能显示面板。");
        case Limit::noCapture:
            return QStringLiteral("此桌面不允许应用程序监视剪贴板：复制的内容不会被记录。");
        case Limit::noSourceApp:
            return QStringLiteral("此桌面不告知哪个应用程序在前台：记录不显示来源应用程序，也无法认出被排除的应用程序（请改为暂停记录）。");
        case Limit::noPaste:
            return std::nullopt;
        case Limit::pasteAsksPermission:
            return QStringLiteral("首次粘贴时，桌面会询问一次是否允许控制键盘（远程桌面）。");
        case Limit::noShortcut:
            return QStringLiteral("此桌面不向应用程序提供全局快捷键：请在桌面的键盘设置中把 nimbrel --toggle 绑定到一个按键。");
        case Limit::shortcutIsSwayBinding:
            return QStringLiteral("快捷键是 Nimbrel 设置的 sway 按键绑定，按下按键时即生效；Nimbrel 无法得知是否有其他绑定使用同一按键。");
        case Limit::shortcutIsGnomeBinding:
            return QStringLiteral("在你于下方允许后，快捷键会成为运行 nimbrel --toggle 的 GNOME 自定义快捷键；按下按键时即生效。");
        case Limit::panelIsOrdinaryWindow:
            return QStringLiteral("面板以普通窗口打开，打开期间会占用键盘。");
    }
    // clang-format on
    return std::nullopt;
}

}  // namespace

QWidget* SettingsView::buildDesktopSupportCard()
{
    auto* card = new Card(this);
    card->setObjectName(QStringLiteral("desktopSupportCard"));
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(6);
    auto* heading = new RowLabel(Symbol::info, card);
    m_texts.emplace_back(heading->title(), QStringLiteral("桌面支持"));
    layout->addWidget(heading);
    for (const Limit limit : m_services.desktopLimits) {
        if (const auto key = limitKey(limit))
            layout->addWidget(text(*key, 11, QFont::Normal, true, card));
    }
    if (m_services.allowDesktopShortcut) {
        // Changing the desktop's own settings waits for the user's word.
        m_allowDesktopShortcut = new QPushButton(card);
        m_allowDesktopShortcut->setObjectName(QStringLiteral("allowDesktopShortcut"));
        connect(m_allowDesktopShortcut, &QPushButton::clicked, this, [this] {
            m_services.allowDesktopShortcut();
            showDesktopShortcutConsent();
        });
        m_desktopShortcutAdded = text(QStringLiteral("已添加到 GNOME 的键盘设置中。"), 11, QFont::Normal, true, card);
        layout->addWidget(m_allowDesktopShortcut, 0, Qt::AlignLeft);
        layout->addWidget(m_desktopShortcutAdded);
        showDesktopShortcutConsent();
    }
    return card;
}

void SettingsView::showDesktopShortcutConsent()
{
    const bool allowed = m_services.isDesktopShortcutAllowed && m_services.isDesktopShortcutAllowed();
    m_allowDesktopShortcut->setVisible(!allowed);
    m_desktopShortcutAdded->setVisible(allowed);
    Q_EMIT naturalHeightChanged();
}

QWidget* SettingsView::buildLaunchAtLoginCard()
{
    auto* card = new Card(this);
    auto* label = new RowLabel(Symbol::power, card);
    m_texts.emplace_back(label->title(), QStringLiteral("开机自启动"));
    m_launchAtLogin = new ToggleSwitch(card);
    connect(m_launchAtLogin, &ToggleSwitch::toggled, this, [this](bool on) {
        m_services.settings.setLaunchAtLogin(on);
        // A refused registration leaves the setting as it was; the switch shows what really happened.
        showLaunchAtLogin();
    });
    card->setLayout(rowLayout(label, m_launchAtLogin));
    return card;
}

QWidget* SettingsView::buildPrimarySelectionCard()
{
    auto* card = new Card(this);
    auto* label = new RowLabel(Symbol::cursor, card);
    m_texts.emplace_back(label->title(), QStringLiteral("记录鼠标选中的文字"));
    m_primarySelection = new ToggleSwitch(card);
    connect(m_primarySelection, &ToggleSwitch::toggled, this,
            [this](bool on) { m_services.settings.setRecordPrimarySelection(on); });
    card->setLayout(rowLayout(label, m_primarySelection));
    return withCaption(card,
                       QStringLiteral("用鼠标选中的文字无需复制即会记录。密码管理器的机密内容在剪贴板上时不记录。"));
}

QWidget* SettingsView::buildExcludedApplicationsCard()
{
    auto* card = new Card(this);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* label = new RowLabel(Symbol::blocked, card);
    m_texts.emplace_back(label->title(), excludedTitleKey);
    m_addExcluded = new QPushButton(card);
    m_addExcludedMenu = new QMenu(m_addExcluded);
    // Filled as it opens: the running applications change while the page is open.
    connect(m_addExcludedMenu, &QMenu::aboutToShow, this, &SettingsView::fillAddExcludedMenu);
    m_addExcluded->setMenu(m_addExcludedMenu);
    layout->addLayout(rowLayout(label, m_addExcluded));
    layout->addWidget(divider(0.15, card));
    m_excludedRows = new QVBoxLayout;
    m_excludedRows->setSpacing(6);
    m_noExcluded = text(QStringLiteral("尚未排除任何应用。"), 12, QFont::Normal, true, card);
    m_excludedRows->addWidget(m_noExcluded);
    layout->addLayout(m_excludedRows);
    // clang-format off
    return withCaption(card, QStringLiteral("这些应用在前台时复制的内容一律不读取。标记了复制内容的密码管理器始终不记录。"));
    // clang-format on
}

QWidget* SettingsView::buildLaunchReportCard()
{
    auto* card = new Card(this);
    auto* label = new RowLabel(Symbol::send, card);
    m_texts.emplace_back(label->title(), launchReportKey);
    m_launchReport = new ToggleSwitch(card);
    connect(m_launchReport, &ToggleSwitch::toggled, this,
            [this](bool on) { m_services.settings.setSendsLaunchReport(on); });
    card->setLayout(rowLayout(label, m_launchReport));
    return withCaption(card, QString(), &m_launchReportCaption);
}

QWidget* SettingsView::buildUpdateCheckCard()
{
    auto* card = new Card(this);
    auto* label = new RowLabel(Symbol::download, card);
    m_texts.emplace_back(label->title(), updateCheckKey);
    m_updateCheck = new ToggleSwitch(card);
    connect(m_updateCheck, &ToggleSwitch::toggled, this,
            [this](bool on) { m_services.settings.setChecksForUpdates(on); });
    card->setLayout(rowLayout(label, m_updateCheck));
    return withCaption(card, QString(), &m_updateCheckCaption);
}

QWidget* SettingsView::buildLanguageCard()
{
    auto* card = new Card(this);
    auto* label = new RowLabel(Symbol::globe, card);
    m_texts.emplace_back(label->title(), QStringLiteral("语言"));
    m_language = new QComboBox(card);
    for (const AppLanguage language : allAppLanguages)
        m_language->addItem(pickerName(language), rawValue(language));
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        if (const auto language = appLanguageFromRaw(m_language->itemData(index).toString()))
            m_services.settings.setLanguage(*language);
    });
    card->setLayout(rowLayout(label, m_language));
    return withCaption(card, QStringLiteral("切换后立即生效。"));
}

QWidget* SettingsView::buildShortcutCard()
{
    auto* card = new Card(this);
    auto* label = new RowLabel(Symbol::keyboard, card);
    m_texts.emplace_back(label->title(), QStringLiteral("弹出快捷键"));
    m_recorder =
        new KeyboardShortcuts::Recorder(KeyboardShortcuts::togglePanelName(), m_services.recorder, {}, label, card);
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_recorder);
    return withCaption(card, QStringLiteral("按下后立即弹出剪切板面板，建议避免和系统快捷键冲突。"));
}

QWidget* SettingsView::buildPanelModeCard()
{
    auto* card = new Card(this);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* label = new RowLabel(Symbol::panels, card);
    m_texts.emplace_back(label->title(), QStringLiteral("弹出形态"));
    m_panelMode = new QComboBox(card);
    for (const PanelMode mode : allPanelModes)
        m_panelMode->addItem(symbolIcon(panelModeSymbol(mode), palette().color(QPalette::WindowText)), QString(),
                             rawValue(mode));
    connect(m_panelMode, &QComboBox::activated, this, [this](int index) {
        if (const auto mode = panelModeFromRaw(m_panelMode->itemData(index).toString()))
            m_services.settings.setPanelMode(*mode);
    });
    layout->addLayout(rowLayout(label, m_panelMode));
    layout->addWidget(divider(0.15, card));
    auto* tiles = new QHBoxLayout;
    tiles->setSpacing(10);
    for (const PanelMode mode : allPanelModes) {
        auto* tile = new PanelModeTile(mode, card);
        connect(tile, &PanelModeTile::clicked, this, [this, mode] { m_services.settings.setPanelMode(mode); });
        tiles->addWidget(tile, 1);
        m_tiles.push_back(tile);
    }
    layout->addLayout(tiles);
    return card;
}

QWidget* SettingsView::buildStorageCard()
{
    auto* card = new Card(this);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* label = new RowLabel(Symbol::drive, card);
    m_texts.emplace_back(label->title(), QStringLiteral("最大占用空间"));
    m_storageValue = new QLabel(card);
    m_storageValue->setFont(uiFont(12, QFont::DemiBold));
    QPalette palette = m_storageValue->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(palette));
    m_storageValue->setPalette(palette);
    layout->addLayout(rowLayout(label, m_storageValue));

    // The slider moves in whole steps of 100 MB: 1 … 10 steps.
    m_storage = new QSlider(Qt::Horizontal, card);
    m_storage->setRange(1, 10);
    m_storage->setSingleStep(1);
    m_storage->setPageStep(1);
    m_storage->setTickPosition(QSlider::NoTicks);
    connect(m_storage, &QSlider::valueChanged, this,
            [this](int steps) { m_services.settings.setMaxStorageMB(static_cast<qint64>(steps) * storageStep); });
    layout->addWidget(m_storage);
    // Shown only while the pinned records alone take more than the budget (see showHistoryUsage).
    m_budgetNote = SettingsView::label(12, QFont::Normal, false, card);
    m_budgetNote->setWordWrap(true);
    m_budgetNote->setObjectName(QStringLiteral("budgetNote"));
    m_budgetNote->setVisible(false);
    layout->addWidget(m_budgetNote);
    layout->addWidget(divider(0.15, card));
    m_clearHistory = new QPushButton(card);
    connect(m_clearHistory, &QPushButton::clicked, this, &SettingsView::confirmClearHistory);
    auto* clearRow = new QHBoxLayout;
    clearRow->setContentsMargins(0, 0, 0, 0);
    clearRow->addStretch(1);
    clearRow->addWidget(m_clearHistory);
    layout->addLayout(clearRow);
    // The caption names the real folder, so it is filled in on every translation (see showStorage).
    return withCaption(card, QString(), &m_storageCaption);
}

QWidget* SettingsView::buildSupportCard()
{
    auto* card = new Card(this);
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* cup = new QLabel(card);
    cup->setFixedSize(28, 40);
    cup->setAlignment(Qt::AlignCenter);
    cup->setPixmap(symbolIcon(Symbol::cup, palette().color(QPalette::Highlight)).pixmap(18, 18));
    layout->addWidget(cup);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(text(QStringLiteral("支持 Nimbrel"), 13, QFont::Medium, false, card));
    texts->addWidget(text(QStringLiteral("如果 Nimbrel 帮到了你，可以请我喝杯咖啡。"), 11, QFont::Normal, true, card));
    layout->addLayout(texts, 1);
    m_support = new QPushButton(card);
    m_support->setFlat(true);
    m_support->setCursor(Qt::PointingHandCursor);
    m_support->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; background: transparent; }"));
    connect(m_support, &QPushButton::clicked, this, [this] { m_services.workspace.openURL(m_services.donationURL); });
    layout->addWidget(m_support);
    return card;
}

QWidget* SettingsView::withCaption(QWidget* card, const QString& captionKey, QLabel** captionOut)
{
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    card->setParent(box);
    layout->addWidget(card);
    // An empty key: the caption's text is set by whoever fills in its argument or picks it for a state.
    QLabel* caption =
        captionKey.isEmpty() ? label(11, QFont::Normal, true, box) : text(captionKey, 11, QFont::Normal, true, box);
    caption->setContentsMargins(12, 0, 12, 0);
    layout->addWidget(caption);
    if (captionOut)
        *captionOut = caption;
    return box;
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    recheckAccessibility();
    showTrayState();
    // What runs and what the history holds may have changed while the page was away.
    showExcludedApplications();
    showHistoryUsage();
}

void SettingsView::historyChanged()
{
    // Counting the history is work; a hidden page counts when it shows.
    if (isVisible())
        showHistoryUsage();
}

void SettingsView::recheckAccessibility()
{
    const bool trusted = m_services.isPasteAllowed ? m_services.isPasteAllowed() : true;
    if (trusted == m_accessibilityTrusted)
        return;
    m_accessibilityTrusted = trusted;
    m_accessibilityCard->setVisible(!trusted);
    Q_EMIT naturalHeightChanged();
}

void SettingsView::showTrayState()
{
    const bool missing = m_services.isTrayAvailable && !m_services.isTrayAvailable();
    if (missing == !m_noTrayCard->isHidden())
        return;
    m_noTrayCard->setVisible(missing);
    Q_EMIT naturalHeightChanged();
}

void SettingsView::retranslate()
{
    const SettingsStore& settings = m_services.settings;
    for (auto& [label, key] : m_texts)
        if (label)
            label->setText(settings.localized(key));
    m_openSettings->setText(settings.localized(QStringLiteral("了解详情")));
    m_quit->setText(settings.localized(QStringLiteral("退出 Nimbrel")));
    if (m_allowDesktopShortcut)
        m_allowDesktopShortcut->setText(settings.localized(QStringLiteral("添加 GNOME 快捷键")));
    // The button is drawn with its text, so it is drawn again in each language.
    const QString support = settings.localized(QStringLiteral("请我喝杯咖啡"));
    const QPixmap supportImage = supportButtonImage(support, devicePixelRatioF());
    const QSize supportSize = (QSizeF(supportImage.size()) / supportImage.devicePixelRatio()).toSize();
    m_support->setIcon(QIcon(supportImage));
    m_support->setIconSize(supportSize);
    m_support->setFixedSize(m_support->sizeHint());
    m_support->setAccessibleName(support);
    m_restart->setText(settings.localized(QStringLiteral("重启以更新")));
    m_addExcluded->setText(settings.localized(QStringLiteral("添加")));
    m_addExcluded->setAccessibleName(settings.localized(QStringLiteral("添加排除的应用")));
    m_clearHistory->setText(settings.localized(clearHistoryKey));
    m_restart->setToolTip(m_restart->text());
    m_launchAtLogin->setAccessibleName(settings.localized(QStringLiteral("开机自启动")));
    m_primarySelection->setAccessibleName(settings.localized(QStringLiteral("记录鼠标选中的文字")));
    m_launchReport->setAccessibleName(settings.localized(launchReportKey));
    m_updateCheck->setAccessibleName(settings.localized(updateCheckKey));
    m_language->setAccessibleName(settings.localized(QStringLiteral("语言")));
    for (int i = 0; i < m_language->count(); ++i) {
        const auto language = appLanguageFromRaw(m_language->itemData(i).toString());
        if (language && isPickerNameTranslated(*language))
            m_language->setItemText(i, settings.localized(pickerName(*language)));
    }
    m_panelMode->setAccessibleName(settings.localized(QStringLiteral("弹出形态")));
    for (int i = 0; i < m_panelMode->count(); ++i)
        if (const auto mode = panelModeFromRaw(m_panelMode->itemData(i).toString()))
            m_panelMode->setItemText(i, settings.localized(panelModeNameKey(*mode)));
    for (PanelModeTile* tile : m_tiles)
        tile->setText(settings.localized(panelModeNameKey(tile->mode())));
    m_storage->setAccessibleName(settings.localized(QStringLiteral("最大占用空间")));
    // The field is named after its row, like the page's other controls; its own name would stay in the
    // language the page was built in.
    m_recorder->control()->setAccessibleName(settings.localized(QStringLiteral("弹出快捷键")));
    m_recorder->control()->refreshDisplay();
    showLanguage();
    showStorage();
    showWaysIn();
    showLaunchReport();
    showUpdateCheck();
    showExcludedApplications();
    showHistoryUsage();

    // The window title follows too, once this page sits in its window.
    QTimer::singleShot(0, this, [this] {
        if (QWidget* host = window(); host && host != this)
            host->setWindowTitle(m_services.settings.localized(titleKey));
    });
}

void SettingsView::updateRestartButton()
{
    // The button fades in when a staged update waits and fades out when that is over.
    const bool ready = m_services.updater.state() == UpdaterService::State::readyToRelaunch;
    const qreal target = ready ? 1.0 : 0.0;
    if (m_fade->state() == QAbstractAnimation::Running && m_fade->endValue().toReal() == target)
        return;
    if (m_fade->state() != QAbstractAnimation::Running && ready == !m_restart->isHidden())
        return;
    m_fade->stop();
    auto* effect = static_cast<QGraphicsOpacityEffect*>(m_restart->graphicsEffect());
    if (ready && m_restart->isHidden()) {
        effect->setOpacity(0.0);
        m_restart->setVisible(true);
    }
    m_fade->setStartValue(effect->opacity());
    m_fade->setEndValue(target);
    m_fade->start();
}

void SettingsView::showLaunchAtLogin()
{
    const QSignalBlocker block(m_launchAtLogin);
    m_launchAtLogin->setChecked(m_services.settings.launchAtLogin());
}

void SettingsView::showPrimarySelection()
{
    const QSignalBlocker block(m_primarySelection);
    m_primarySelection->setChecked(m_services.settings.recordPrimarySelection());
}

void SettingsView::showLaunchReport()
{
    const SettingsStore& settings = m_services.settings;
    const LaunchReportStatus status = settings.launchReportStatus();
    const bool byPackage = settings.packagerPolicy().launchReportOff;
    bool on = settings.sendsLaunchReport();
    QString caption = settings.localized(launchReportPendingKey);
    if (byPackage) {
        on = false;
        caption = settings.localized(turnedOffByPackageKey).arg(QLatin1String(PackagerPolicy::noLaunchReportVariable));
    } else if (status == LaunchReportStatus::sent) {
        on = true;
        caption = settings.localized(launchReportSentKey);
    } else if (status == LaunchReportStatus::declined) {
        on = false;
        caption = settings.localized(launchReportDeclinedKey);
    }
    // Once sent or declined, the switch changes nothing: it shows what happened and stays put.
    const QSignalBlocker block(m_launchReport);
    m_launchReport->setChecked(on);
    m_launchReport->setEnabled(!byPackage && status == LaunchReportStatus::pending);
    m_launchReportCaption->setText(caption);
}

void SettingsView::showUpdateCheck()
{
    const SettingsStore& settings = m_services.settings;
    const bool byPackage = settings.packagerPolicy().updateCheckOff;
    const QSignalBlocker block(m_updateCheck);
    m_updateCheck->setChecked(settings.updateCheckAllowed());
    m_updateCheck->setEnabled(!byPackage);
    m_updateCheckCaption->setText(
        byPackage ? settings.localized(turnedOffByPackageKey).arg(QLatin1String(PackagerPolicy::noUpdateCheckVariable))
                  : settings.localized(updateCheckCaptionKey));
}

void SettingsView::showLanguage()
{
    const int index = m_language->findData(rawValue(m_services.settings.language()));
    m_language->setCurrentIndex(index);
}

void SettingsView::showPanelMode()
{
    const PanelMode mode = m_services.settings.panelMode();
    m_panelMode->setCurrentIndex(m_panelMode->findData(rawValue(mode)));
    for (PanelModeTile* tile : m_tiles)
        tile->setSelected(tile->mode() == mode);
}

void SettingsView::showStorage()
{
    const qint64 megabytes = m_services.settings.maxStorageMB();
    m_storageValue->setText(m_services.settings.localized(QStringLiteral("%1 MB")).arg(QString::number(megabytes)));
    m_storage->setAccessibleDescription(m_storageValue->text());
    QString folder = QDir::toNativeSeparators(m_services.dataDirectory);
    const QString home = QDir::homePath();
    if (folder.startsWith(home + QLatin1Char('/')))
        folder.replace(0, home.size(), QStringLiteral("~"));
    m_storageCaption->setText(
        m_services.settings
            .localized(QStringLiteral("超过容量时按时间从旧到新自动清理。所有数据只保存在本机的 %1 中。"))
            .arg(folder));
    // Showing the stored value is not the user moving the slider: nothing is written back.
    const QSignalBlocker block(m_storage);
    m_storage->setValue(static_cast<int>(std::clamp<qint64>((megabytes + storageStep / 2) / storageStep, 1, 10)));
}

void SettingsView::showExcludedApplications()
{
    const SettingsStore& settings = m_services.settings;
    const QStringList entries = settings.excludedApplications();
    // The rows are made again: they are few, and a row may be going away from under its own button.
    for (QWidget* row : m_excludedCard->findChildren<QWidget*>(QStringLiteral("excludedApplication"))) {
        row->hide();
        row->setParent(nullptr);
        row->deleteLater();
    }
    m_noExcluded->setVisible(entries.isEmpty());
    const QList<RunningApplication> running =
        entries.isEmpty() ? QList<RunningApplication>() : m_services.workspace.runningApplications();
    QWidget* card = m_noExcluded->parentWidget();
    for (const QString& entry : entries) {
        const ShownEntry shown = shownEntry(entry, running, m_services.workspace);
        auto* row = new QWidget(card);
        row->setObjectName(QStringLiteral("excludedApplication"));
        row->setProperty("entry", entry);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        auto* icon = new QLabel(row);
        icon->setObjectName(QStringLiteral("icon"));
        icon->setFixedSize(20, 20);
        if (shown.icon)
            icon->setPixmap(shown.icon->pixmap(20, 20));
        layout->addWidget(icon);
        auto* name = label(13, QFont::Normal, false, row);
        name->setObjectName(QStringLiteral("name"));
        name->setText(shown.name.value_or(entry));
        name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        layout->addWidget(name, 1);
        // With a name shown, the entry itself stays in sight: it is what decides.
        if (shown.name) {
            auto* written = label(11, QFont::Normal, true, row);
            written->setWordWrap(false);
            written->setObjectName(QStringLiteral("entry"));
            written->setText(entry);
            layout->addWidget(written);
        }
        auto* remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("removeExcluded"));
        remove->setAutoRaise(true);
        remove->setCursor(Qt::PointingHandCursor);
        remove->setIcon(symbolIcon(Symbol::remove, secondaryColor(palette())));
        const QString removeText = settings.localized(QStringLiteral("移除 %1")).arg(name->text());
        remove->setAccessibleName(removeText);
        remove->setToolTip(removeText);
        connect(remove, &QToolButton::clicked, this, [this, entry] {
            QStringList kept = m_services.settings.excludedApplications();
            kept.removeAll(entry);
            m_services.settings.setExcludedApplications(kept);
        });
        layout->addWidget(remove);
        m_excludedRows->addWidget(row);
    }
    Q_EMIT naturalHeightChanged();
}

void SettingsView::fillAddExcludedMenu()
{
    const SettingsStore& settings = m_services.settings;
    const QStringList excluded = settings.excludedApplications();
    QList<RunningApplication> offered;
    for (const RunningApplication& application : m_services.workspace.runningApplications()) {
        const bool isExcluded = std::any_of(excluded.cbegin(), excluded.cend(),
                                            [&](const QString& entry) { return namesApplication(entry, application); });
        if (!isExcluded && application.applicationId)
            offered.append(application);
    }
    const auto shownName = [](const RunningApplication& application) {
        return application.localizedName.value_or(*application.applicationId);
    };
    std::sort(offered.begin(), offered.end(), [&](const RunningApplication& a, const RunningApplication& b) {
        return shownName(a).localeAwareCompare(shownName(b)) < 0;
    });

    m_addExcludedMenu->clear();
    for (const RunningApplication& application : offered) {
        const QString id = *application.applicationId;
        QAction* action = m_addExcludedMenu->addAction(shownName(application), this, [this, id] { exclude(id); });
        action->setData(id);
        if (const auto icon = m_services.workspace.applicationIcon(id))
            action->setIcon(*icon);
    }
    if (offered.isEmpty())
        m_addExcludedMenu->addAction(settings.localized(QStringLiteral("没有其他正在运行的应用")))->setEnabled(false);
    m_addExcludedMenu->addSeparator();
    m_addExcludedMenu->addAction(settings.localized(QStringLiteral("输入桌面 ID 或窗口类…")), this,
                                 &SettingsView::askForExcludedEntry);
}

void SettingsView::exclude(const QString& entry)
{
    const QString trimmed = entry.trimmed();
    if (trimmed.isEmpty())
        return;
    QStringList excluded = m_services.settings.excludedApplications();
    excluded.append(trimmed);
    m_services.settings.setExcludedApplications(excluded);
}

void SettingsView::askForExcludedEntry()
{
    const SettingsStore& settings = m_services.settings;
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("excludedEntryDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(settings.localized(QStringLiteral("排除应用")));
    dialog->setLabelText(
        settings.localized(QStringLiteral("桌面 ID（如 org.gnome.TextEditor）或窗口类（如 XTerm）：")));
    dialog->setOkButtonText(settings.localized(QStringLiteral("添加")));
    dialog->setCancelButtonText(settings.localized(QStringLiteral("取消")));
    connect(dialog, &QInputDialog::textValueSelected, this, &SettingsView::exclude);
    dialog->open();
}

void SettingsView::showHistoryUsage()
{
    const SettingsStore& settings = m_services.settings;
    const HistoryUsage usage = m_services.historyUsage ? m_services.historyUsage() : HistoryUsage{};
    m_clearHistory->setEnabled(usage.records > 0);
    m_clearHistory->setToolTip(usage.records > 0 ? QString() : settings.localized(QStringLiteral("历史记录为空。")));

    // Pinned records are never cleaned up to make room: when they alone pass the budget, nothing else is kept.
    const qint64 budget = settings.maxStorageMB() * bytesPerMB;
    const bool over = usage.pinnedBytes > budget;
    if (over) {
        const QString budgetText = settings.localized(QStringLiteral("%1 MB")).arg(QString::number(settings.maxStorageMB()));
        // clang-format off
        m_budgetNote->setText(settings.localized(QStringLiteral("置顶记录占用 %1，已超过最大占用空间 %2。置顶记录会全部保留，因此其他记录都不会保留。"))
                                  .arg(formattedSize(settings, usage.pinnedBytes), budgetText));
        // clang-format on
    }
    if (over == !m_budgetNote->isHidden())
        return;
    m_budgetNote->setVisible(over);
    Q_EMIT naturalHeightChanged();
}

void SettingsView::confirmClearHistory()
{
    // Counted again: the history may have changed since the page last looked.
    const HistoryUsage usage = m_services.historyUsage ? m_services.historyUsage() : HistoryUsage{};
    if (usage.records == 0) {
        showHistoryUsage();
        return;
    }
    const std::optional<bool> includePinned = askToClearHistory(window(), m_services.settings, usage);
    if (includePinned && m_services.clearHistory)
        m_services.clearHistory(*includePinned);
}

void SettingsView::showWaysIn()
{
    m_noTrayText->setText(waysIn(m_services.settings, m_services.recorder.shortcuts));
}

QString waysIn(const SettingsStore& settings, const KeyboardShortcuts::Shortcuts& shortcuts)
{
    // Kept whole on their lines: the translation check finds its keys by their literals.
    // clang-format off
    static const QString withShortcut = QStringLiteral("按 %1 或运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。");
    static const QString withoutShortcut = QStringLiteral("运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。");
    // clang-format on
    const auto shortcut = shortcuts.getShortcut(KeyboardShortcuts::togglePanelName());
    return shortcut ? settings.localized(withShortcut).arg(shortcuts.description(*shortcut))
                    : settings.localized(withoutShortcut);
}

}  // namespace nimbrel
