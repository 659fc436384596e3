#include "history/HistoryStore.h"
#include "history/Thumbnail.h"
#include "panel/CardDelegate.h"
#include "panel/ClipListView.h"
#include "panel/ClipPanel.h"
#include "panel/ClipResultsView.h"
#include "panel/ImagePreviewLoader.h"
#include "panel/PanelCoordinator.h"
#include "panel/PanelHeader.h"
#include "panel/PasteBack.h"
#include "panel/ResultsModel.h"
#include "support/fake/FakeClickMonitor.h"
#include "support/fake/FakeKeyboard.h"
#include "support/fake/FakeClipboardWriter.h"
#include "support/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QLineEdit>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

// A red PNG with its top-left quarter white; `noisy`: random pixels, which compress badly and decode slowly.
QByteArray png(const QSize& size, bool noisy = false)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(QRect(QPoint(0, 0), size / 2), Qt::white);
    if (noisy)
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(image.bits()), image.sizeInBytes() / 4);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

// The smallest rectangle holding the pixels of `a` that `test` picks, or that differ from those of `b`.
QRect area(const QImage& a, const std::function<bool(QRgb, QRgb)>& test, const QImage& b = QImage())
{
    QRect found;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            found |= test(a.pixel(x, y), b.isNull() ? 0 : b.pixel(x, y)) ? QRect(x, y, 1, 1) : QRect();
    return found;
}
QRect changedArea(const QImage& a, const QImage& b)
{
    return area(a, std::not_equal_to<QRgb>(), b);
}

// A panel's content in a window of its own, over an in-memory history, with the services of a test.
struct Panel {
    explicit Panel(PanelMode mode, AppLanguage language = AppLanguage::zhHans)
        : translations(Translations::defaultDirectory()),
          settings(defaults, loginItems, console, translations),
          icons(workspace),
          store(std::move(HistoryStore::openInMemory()).value())
    {
        settings.setLanguage(language);
        window->setAttribute(Qt::WA_TranslucentBackground);
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view = new ClipListView(*store, settings, thumbnails, icons, clock, mode, window.get()));
        window->resize(mode == PanelMode::bottom ? QSize(1436, 280) : QSize(360, 720));
        list()->setScrollAnimationDuration(0);
        QObject::connect(view, &ClipListView::selected, view, [this](const ClipItem& item) { chosen.append(item); });
        QObject::connect(view, &ClipListView::imageHover, view, [this](auto image) { hovers.append(image); });
        // Queried as if shown, also in the cases that never show the window.
        view->results().setActive(true);
    }

    // Waits until the answer to the newest query is shown.
    void settle() const
    {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !view->results().isQuerying(); }, 10000));
    }
    void open(qint64 token = 1)
    {
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        view->present(token);
        settle();
    }

    // Inserts records, the first one newest, and saves them together.
    QList<ClipItem> add(const QList<ClipItem>& items)
    {
        for (const ClipItem& item : items) {
            EXPECT_TRUE(store->insert(item).ok());
            names[item.id] = item.contentText.value_or(QStringLiteral("<image>"));
        }
        EXPECT_TRUE(store->save().ok());
        return items;
    }
    ClipItem record(ClipKind kind, std::optional<QString> text, qint64 secondsAgo = 1,
                    std::optional<QByteArray> image = {}, std::optional<QString> source = {})
    {
        std::optional<QByteArray> thumbnail = image ? makeThumbnail(*image) : std::nullopt;
        // The source application's desktop entry is named after it.
        const auto folder = source ? std::optional(QStringLiteral("org.example.") + *source) : std::nullopt;
        return ClipItem::make(kind, std::move(text), std::move(image), std::move(thumbnail), folder, source,
                              clock.now().addSecs(-secondsAgo));
    }
    ClipItem image(const QByteArray& bytes, qint64 ago = 1) { return record(ClipKind::image, {}, ago, bytes); }
    // `count` text records "t0" (newest) … "t<count-1>"; the one at `pinned` is pinned.
    QList<ClipItem> addTexts(int count, int pinned = -1)
    {
        QList<ClipItem> items;
        for (int i = 0; i < count; ++i) {
            items.append(record(ClipKind::text, QStringLiteral("t%1").arg(i), i + 1));
            items.last().pinned = i == pinned;
        }
        return add(items);
    }
    void recordPins()
    {
        view->setPinner([this](const QUuid& id, bool pinned) { pins.append({id, pinned}); });
    }

    ClipResultsView* list() const { return view->resultsView(); }
    const CardDelegate& delegate() const { return *qobject_cast<CardDelegate*>(list()->itemDelegate()); }
    QLineEdit* search() const { return view->searchEdit(); }
    int index() const { return (settle(), view->results().keyboardIndex()); }
    QStringList shown() const
    {
        settle();
        QStringList texts;
        for (const ClipItem& item : view->results().items())
            texts.append(item.contentText.value_or(QStringLiteral("<image>")));
        return texts;
    }
    // The cards with the highlighted one in brackets, the search text, the records chosen and those pinned
    // ("+") or unpinned ("-"), and how many are stored: "t0 [t1] 'x' >t1 +t0 #3".
    std::string state() const
    {
        QStringList parts = shown();
        if (index() < parts.size())
            parts[index()] = QLatin1Char('[') + parts[index()] + QLatin1Char(']');
        if (!search()->text().isEmpty())
            parts.append(QLatin1Char('\'') + search()->text() + QLatin1Char('\''));
        for (const ClipItem& item : chosen)
            parts.append(QLatin1Char('>') + names.value(item.id));
        for (const auto& [id, pinned] : pins)
            parts.append(QLatin1String(pinned ? "+" : "-") + names.value(id));
        parts.append(QStringLiteral("#%1").arg(store->count().value()));
        return parts.join(QLatin1Char(' ')).toStdString();
    }

    // Keys typed while the panel holds the keyboard, as QKeySequence names them ("Ctrl+Backspace",
    // "Num+Enter", "T"); one after "!" comes before the search has answered. "@hide" hides the panel,
    // "@present<n>" shows it for presentation n.
    void keys(const QString& keys)
    {
        for (QString key : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!key.startsWith(QLatin1Char('!')))
                settle();
            const QKeyCombination typed = QKeySequence(key.remove(QLatin1Char('!')))[0];
            if (key == QStringLiteral("@hide"))
                window->hide();
            else if (key.startsWith(QStringLiteral("@present")))
                open(key.mid(8).toInt());
            else
                QTest::keyClick(window->focusWidget() ? window->focusWidget() : window.get(), typed.key(),
                                typed.keyboardModifiers());
        }
    }
    // Types each step's keys and compares the state after them.
    void play(std::initializer_list<std::pair<const char*, const char*>> steps)
    {
        for (const auto& [typed, expected] : steps) {
            keys(QString::fromUtf8(typed));
            EXPECT_EQ(state(), expected) << "after " << typed;
        }
    }

    QRect cell(int row) const { return list()->visualRect(view->results().index(row, 0)); }
    QRectF cardRect(int row) const { return delegate().cardRect(cell(row)); }
    QPoint cardCentre(int row) const { return cell(row).center(); }
    void pointerAt(QPoint at)
    {
        QMouseEvent move(QEvent::MouseMove, at, list()->viewport()->mapToGlobal(at), Qt::NoButton, {}, {});
        QApplication::sendEvent(list()->viewport(), &move);
    }
    void click(QPoint point) { QTest::mouseClick(list()->viewport(), Qt::LeftButton, Qt::NoModifier, point); }
    // The window as the screen shows it, and where a rectangle of the list is in it, at its pixel ratio.
    QImage render() const { return window->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied); }
    QRect inImage(const QRectF& rect, qreal ratio) const
    {
        const QPointF origin = rect.topLeft() + list()->viewport()->mapTo(window.get(), QPoint());
        return QRectF(origin * ratio, rect.size() * ratio).toAlignedRect();
    }

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    fake::ManualClock clock;
    fake::FakeWorkspace workspace;
    Translations translations;
    SettingsStore settings;
    ThumbnailCache thumbnails;
    AppIconCache icons;
    std::unique_ptr<HistoryStore> store;
    QList<ClipItem> chosen;
    QList<std::optional<QImage>> hovers;
    QList<std::pair<QUuid, bool>> pins;
    QHash<QUuid, QString> names;
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    ClipListView* view = nullptr;
};

}  // namespace

TEST(PanelContent, SearchAndFilterDecideTheCardsAndTheEmptyText)
{
    const QStringList all{"cafe au lait", "https://b.example/", "#1e90ff", "<image>", "https://a.example/", "Notes"};
    const std::tuple<QString, ListFilter, QStringList, const char*> cases[] = {
        {QString(), {}, all, ""},
        {QStringLiteral("   "), {}, all, ""},
        {QStringLiteral("CAFÉ"), {}, {"cafe au lait"}, ""},
        {QStringLiteral("  lait \n"), {}, {"cafe au lait"}, ""},
        {QString(), {ClipKind::link}, {"https://b.example/", "https://a.example/"}, ""},
        {QStringLiteral("viewer"), {}, {"<image>"}, ""},
        {QStringLiteral("a.example"), {ClipKind::link}, {"https://a.example/"}, ""},
        {QStringLiteral("  "), {ClipKind::text}, {"cafe au lait", "Notes"}, ""},
        {QStringLiteral("zebra"), {}, {}, "未找到匹配项"},
        // Blanks alone still count as a search, though they match everything.
        {QStringLiteral("  "), ListFilter::pinned(), {}, "未找到匹配项"},
        {QString(), ListFilter::pinned(), {}, "暂无固定的条目"},
    };
    Panel panel(PanelMode::bottom);
    for (int i = 0; i < all.size(); ++i)
        panel.add({all[i] == QStringLiteral("<image>")
                       ? panel.record(ClipKind::image, std::nullopt, i, png({8, 8}), QStringLiteral("Viewer"))
                       : panel.record(classify(all[i]), all[i], i)});
    panel.view->present(1);
    for (const auto& [search, filter, expected, emptyText] : cases) {
        SCOPED_TRACE(search.toStdString() + (filter.pinnedOnly ? " pinned" : filter.kind ? " of a kind" : ""));
        panel.search()->setText(search);
        panel.view->selectFilter(filter);
        EXPECT_EQ(panel.shown(), expected);
        if (expected.isEmpty()) {
            EXPECT_EQ(panel.list()->emptyText(), QString::fromUtf8(emptyText));
        }
    }
}

TEST(PanelContent, KeysMoveChoosePinAndDeleteInEveryPlacement)
{
    for (const PanelMode mode : allPanelModes) {
        SCOPED_TRACE(rawValue(mode).toStdString());
        Panel panel(mode);
        panel.addTexts(6, 1);
        panel.recordPins();
        panel.play({
            {"@present1 Up Left", "[t0] t1 t2 t3 t4 t5 #6"},
            {"Down Right Up", "t0 [t1] t2 t3 t4 t5 #6"},
            {"Shift+Down Ctrl+Alt+Right Num+Left", "t0 t1 [t2] t3 t4 t5 #6"},
            {"Down Down Down Down Right", "t0 t1 t2 t3 t4 [t5] #6"},
            // In the search field Return does not choose, and each keystroke goes back to the first card.
            {"Return Num+Enter T", "[t0] t1 t2 t3 t4 t5 't' #6"},
            {"Down 2", "[t2] 't2' #6"},
            {"Down Backspace", "[t0] t1 t2 t3 t4 t5 't' #6"},
            // Ctrl+Backspace deletes the word before the cursor while the field holds text, else the record.
            {"Space X Space T Ctrl+Backspace", "'t x ' #6"},
            {"Ctrl+A Backspace Down Ctrl+Backspace", "t0 [t2] t3 t4 t5 #5"},
            // Ctrl+P pins the highlighted record, or unpins a pinned one; a P without Ctrl is typing.
            {"Up Ctrl+P P", "'p' +t0 #5"},
            {"Backspace Tab Ctrl+P P", "[t0] t2 t3 t4 t5 +t0 +t0 #5"},
            // Tab took the focus to the list, where Return chooses.
            {"Down Return Shift+Return Num+Enter", "t0 [t2] t3 t4 t5 >t2 >t2 >t2 +t0 +t0 #5"},
            {"Down Down Down Ctrl+Backspace", "t0 t2 t3 [t4] >t2 >t2 >t2 +t0 +t0 #4"},
            // A showing with nothing new to list once let the deletion's answer move the highlight.
            {"@hide @present2 Tab Down Ctrl+Backspace", "t0 [t3] t4 >t2 >t2 >t2 +t0 +t0 #3"},
            {"Up Ctrl+Backspace Ctrl+Backspace Ctrl+Backspace", ">t2 >t2 >t2 +t0 +t0 #0"},
            {"Down Return Ctrl+Backspace Ctrl+P", ">t2 >t2 >t2 +t0 +t0 #0"},
        });
        EXPECT_EQ(panel.index(), 0);
    }
}

// The choice waits for the answer to what was typed, not made among the cards shown before.
TEST(PanelContent, ReturnRightAfterTypingChoosesAmongWhatWasTypedFor)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(3);
    panel.keys(QStringLiteral("@present1 !T !2 !Tab"));
    ASSERT_TRUE(panel.view->results().isQuerying()) << "the case needs the answer still on its way";
    panel.play({{"!Return", "[t2] 't2' >t2 #3"}});
}

TEST(PanelContent, EveryShowingResetsSearchFilterHighlightAndFocus)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(4);
    panel.add({panel.record(ClipKind::link, QStringLiteral("https://x.example"), 0)});
    panel.keys(QStringLiteral("@present1 T"));
    panel.view->selectKind(ClipKind::text);
    // Without the writer's pinning Ctrl+P does nothing; the same showing again changes nothing.
    panel.play(
        {{"Down Down Ctrl+P @present1", "t0 t1 [t2] t3 't' #5"}, {"@present2", "[https://x.example] t0 t1 t2 t3 #5"}});
    for (FilterChip* chip : panel.view->filterChips())
        EXPECT_EQ(chip->isChecked(), chip->filter() == ListFilter());
    // The search field has the focus, and its clear button shows only while it holds text.
    QAbstractButton* clear = panel.view->searchField()->clearButton();
    EXPECT_FALSE(clear->isVisible());
    panel.keys(QStringLiteral("Space"));
    EXPECT_TRUE(clear->isVisible());
    clear->click();
    EXPECT_FALSE(clear->isVisible());
    EXPECT_EQ(panel.search()->text(), QString());
    // Records that come while the panel is hidden cost no query; showing it again brings them.
    panel.keys(QStringLiteral("@hide"));
    panel.add({panel.record(ClipKind::text, QStringLiteral("new"), 0)});
    EXPECT_FALSE(panel.view->results().isQuerying());
    EXPECT_EQ(panel.view->results().items().size(), 5);
    panel.window->show();
    EXPECT_EQ(panel.shown().first(), QStringLiteral("new"));
}

TEST(PanelContent, ChipsChooseOneFilterAndStayChosenWhenClickedAgain)
{
    Panel panel(PanelMode::right);
    QList<ClipItem> items{panel.record(ClipKind::text, QStringLiteral("a"), 10), panel.image(png({8, 8}), 20),
                          panel.record(ClipKind::link, QStringLiteral("https://a.example/"), 30)};
    items[0].pinned = items[1].pinned = true;
    panel.add(items);
    panel.keys(QStringLiteral("@present1 Down"));
    const QList<FilterChip*>& chips = panel.view->filterChips();
    // The pinned records of every kind, from the first card; a search looks among them only.
    for (FilterChip* clicked : {chips.last(), chips.last(), chips.at(3)}) {
        QTest::mouseClick(clicked, Qt::LeftButton);
        for (FilterChip* chip : chips)
            EXPECT_EQ(chip->isChecked(), chip == clicked) << chip->text().toStdString();
    }
    // A kind chip takes the place of the pinned filter rather than narrowing it.
    EXPECT_EQ(panel.view->selectedFilter(), ListFilter{ClipKind::link});
    QTest::mouseClick(chips.last(), Qt::LeftButton);
    panel.play({{"", "[a] <image> #3"}, {"A", "[a] 'a' #3"}, {"Backspace Tab Down Return", "a [<image>] ><image> #3"}});
}

TEST(PanelContent, KeysOfOtherWindowsOrOfAHiddenPanelDoNotActOnTheList)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(3);
    panel.keys(QStringLiteral("@present1 Down"));
    QWidget settingsWindow;
    auto* field = new QLineEdit(QStringLiteral("abc def"), &settingsWindow);
    settingsWindow.show();
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Right, Qt::Key_Return, Qt::Key_Enter})
        QTest::keyClick(field, key);
    QTest::keyClick(field, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("abc ")) << "the keys reach the other window";
    panel.play({{"@hide Down Return Ctrl+Backspace", "t0 [t1] t2 #3"}});
}

// Without layers on Wayland, a click elsewhere shows only as the keyboard going to another window.
TEST(PanelWindow, AnOrdinaryPanelWindowSaysWhenAnotherWindowTakesTheKeyboard)
{
    ClipPanel panel(false, true);
    QWidget other;
    QSignalSpy left(&panel, &ClipPanel::left);
    for (QWidget* active : std::initializer_list<QWidget*>{&other, &panel, &other}) {
        active->show();
        active->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(active));
    }
    EXPECT_EQ(left.size(), 1);
    // Hidden, it has left already.
    panel.hide();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(left.size(), 1);
}

// Cards show the thumbnail the store keeps; resting on one shows the full image, decoded at no more pixels
// than the preview window shows on its screen.
TEST(PanelContent, ImagePreviewAfterThePointerRestsOnAnImageCard)
{
    Panel panel(PanelMode::bottom);
    const QSize sizes[] = {{900, 300}, {1200, 1600}, {64, 32}};
    panel.add({panel.image(png(sizes[0]), 1), panel.image(png(sizes[1]), 2), panel.image(png(sizes[2]), 3),
               panel.record(ClipKind::text, QStringLiteral("words"), 4), panel.image(QByteArray("broken"), 5)});
    panel.open();
    const auto thumbnail = [&](int row) { return panel.view->results().index(row).data(ResultsModel::ThumbnailRole); };
    EXPECT_EQ(thumbnail(2).value<QImage>().size(), sizes[2]);
    EXPECT_FALSE(thumbnail(3).isValid());
    EXPECT_FALSE(thumbnail(4).isValid());
    panel.list()->setHoverDelay(60);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        panel.hovers.clear();
        panel.pointerAt(panel.cardCentre(row));
        // Moving to the next card ends the last preview at once; this one waits.
        EXPECT_EQ(panel.hovers.size(), row == 0 ? 0 : 1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.hovers.isEmpty() && panel.hovers.last(); }, 5000));
        const qreal ratio = panel.list()->devicePixelRatioF();
        const qreal scale = std::min({560 * ratio / sizes[row].width(), 420 * ratio / sizes[row].height(), 1.0});
        EXPECT_NEAR(panel.hovers.last()->width(), sizes[row].width() * scale, 1.0);
        EXPECT_NEAR(panel.hovers.last()->height(), sizes[row].height() * scale, 1.0);
        const qsizetype count = panel.hovers.size();
        panel.pointerAt(panel.cardCentre(row) + QPoint(5, 5));
        EXPECT_EQ(panel.hovers.size(), count) << "moving within the card changes nothing";
    }
    // A text card wants no preview, at once; nor does undecodable image data.
    for (const int row : {3, 4}) {
        panel.hovers.clear();
        panel.pointerAt(panel.cardCentre(row));
        QTest::qWait(150);
        EXPECT_EQ(panel.hovers, QList<std::optional<QImage>>{std::nullopt}) << row;
        EXPECT_FALSE(panel.list()->isPreviewPending());
    }
}

// A preview still waiting for the pointer to rest, or still being decoded, never shows up once the pointer
// moved on, the card went away or the panel closed.
TEST(PanelContent, AnInterruptedPreviewNeverShowsUpLate)
{
    static const QByteArray photo = png({2000, 1500}, true);
    const std::pair<const char*, std::function<void(Panel&)>> cases[] = {
        {"another image card", [](Panel& p) { p.pointerAt(p.cardCentre(2)); }},
        {"a text card", [](Panel& p) { p.pointerAt(p.cardCentre(1)); }},
        {"pointer leaves", [](Panel& p) { QApplication::sendEvent(p.list()->viewport(), new QEvent(QEvent::Leave)); }},
        {"pointer in the gap", [](Panel& p) { p.pointerAt(QPoint(p.cell(0).right(), p.cell(0).center().y())); }},
        {"filtered away", [](Panel& p) { p.view->selectKind(ClipKind::text); }},
        {"searched away", [](Panel& p) { p.search()->setText(QStringLiteral("words")); }},
        {"deleted", [](Panel& p) { p.keys(QStringLiteral("Ctrl+Backspace")); }},
        {"scrolled away", [](Panel& p) { p.list()->horizontalScrollBar()->setValue(2000); }},
        {"panel closed", [](Panel& p) { p.window->hide(); }},
    };
    for (const bool decoding : {false, true}) {
        for (const auto& [name, interrupt] : cases) {
            SCOPED_TRACE(std::string(decoding ? "decoding, " : "waiting, ") + name);
            Panel panel(PanelMode::bottom);
            QList<ClipItem> items{panel.image(photo), panel.record(ClipKind::text, QStringLiteral("words"), 2),
                                  panel.image(png({40, 40}), 3)};
            for (int i = 0; i < 30; ++i)
                items.append(panel.record(ClipKind::text, QStringLiteral("words %1").arg(i), 10 + i));
            panel.add(items);
            panel.open();
            panel.list()->setHoverDelay(decoding ? 0 : 80);
            const ImagePreviewLoader& loader = panel.list()->previewLoader();
            panel.pointerAt(panel.cardCentre(0));
            ASSERT_TRUE(QTest::qWaitFor([&] { return loader.isBusy() == decoding; }, 5000));
            ASSERT_TRUE(panel.list()->isPreviewPending());
            interrupt(panel);
            panel.settle();
            // The image card moved to starts a wait of its own.
            const bool next = std::string(name) == "another image card";
            EXPECT_EQ(panel.list()->isPreviewPending(), next);
            // The coordinator is told to hide the preview, unless the panel went with it.
            const QList<QSize> told(panel.window->isVisible() ? 1 : 0, QSize());
            QTest::qWait(150);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !loader.isBusy() && !panel.list()->isPreviewPending(); }, 10000));
            QCoreApplication::processEvents();
            QList<QSize> shown;
            for (const std::optional<QImage>& hover : panel.hovers)
                shown.append(hover ? hover->size() : QSize());
            EXPECT_EQ(shown, next ? told + QList<QSize>{QSize(40, 40)} : told);
            if (told.isEmpty()) {  // shown again, the same card starts a new wait
                panel.window->show();
                panel.pointerAt(panel.cardCentre(0));
                EXPECT_TRUE(panel.list()->isPreviewPending());
            }
        }
    }
}

TEST(PanelContent, VerticalWheelScrollsTheStripSidewaysOnlyInTheBottomPlacement)
{
    for (const PanelMode mode : {PanelMode::right, PanelMode::bottom}) {
        Panel panel(mode);
        panel.addTexts(40);
        panel.open();
        const auto wheel = [&](QPoint angle) {
            const QPointF at(panel.list()->viewport()->rect().center());
            QWheelEvent event(at, panel.list()->viewport()->mapToGlobal(at), QPoint(), angle, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(panel.list()->viewport(), &event);
            return panel.list()->horizontalScrollBar()->value();
        };
        const int notch = wheel(QPoint(0, -120));
        EXPECT_EQ(notch > 0, mode == PanelMode::bottom);
        EXPECT_EQ(panel.list()->verticalScrollBar()->value() > 0, mode == PanelMode::right);
        if (mode == PanelMode::bottom) {
            EXPECT_EQ(wheel(QPoint(0, 120)), 0);
            EXPECT_EQ(wheel(QPoint(-120, 0)), notch) << "a vertical notch moves it as far as a horizontal one";
            EXPECT_EQ(wheel(QPoint(120, -60)), 0) << "only the horizontal part of a gesture that has one counts";
        }
        // The highlighted card is scrolled into view.
        panel.keys(QStringLiteral(" Down").repeated(39));
        EXPECT_TRUE(panel.list()->viewport()->rect().intersects(panel.cell(39)));
    }
}

// Switched to any language, down to the narrow column and the short strip of a 720 × 450 screen (1440 × 900
// at twice the scale), every chip shows its whole label, a row that would not fit wrapping, and the cards
// shrink to the strip, showing fewer whole lines.
TEST(PanelContent, TextsFollowTheLanguageAndSmallScreensClipNeitherChipsNorCards)
{
    const std::pair<PanelMode, QSize> placements[] = {{PanelMode::left, {376, 736}},
                                                      {PanelMode::right, {340, 366}},
                                                      {PanelMode::bottom, {1452, 294}},
                                                      {PanelMode::bottom, {732, 207}}};
    const std::pair<AppLanguage, const char*> languages[] = {
        {AppLanguage::en, "Search|No clipboard history yet|All|Text|Image|Link|Color|Pinned"},
        {AppLanguage::ja, "検索|クリップボードの履歴はまだありません|すべて|テキスト|画像|リンク|カラー|ピン留め"},
        {AppLanguage::ko, "검색|아직 클립보드 기록이 없습니다|전체|텍스트|이미지|링크|색상|고정됨"},
        {AppLanguage::zhHant, "搜尋|尚無剪貼簿記錄|全部|文字|圖片|連結|顏色|已釘選"},
        {AppLanguage::zhHans, "搜索|暂无剪切板历史|全部|文本|图片|链接|颜色|已固定"},
    };
    for (const auto& [language, texts] : languages) {
        for (const auto& [mode, size] : placements) {
            SCOPED_TRACE(rawValue(language).toStdString() + " " + std::to_string(size.width()));
            Panel panel(mode, language == AppLanguage::en ? AppLanguage::ja : AppLanguage::en);
            const QString paragraphs = QStringLiteral("line\n").repeated(9);
            panel.add({panel.record(ClipKind::text, paragraphs), panel.image(png({300, 200}), 20),
                       panel.record(ClipKind::color, QStringLiteral("#1e90ff"), 30)});
            panel.window->resize(size);
            panel.open();
            panel.settings.setLanguage(language);
            QStringList shown{panel.search()->placeholderText(), panel.list()->emptyText()};
            for (FilterChip* chip : panel.view->filterChips())
                shown.append(chip->text());
            EXPECT_EQ(shown.join(QLatin1Char('|')), QString::fromUtf8(texts));
            const QList<FilterChip*>& chips = panel.view->filterChips();
            QTest::qWaitFor(
                [&] {
                    return std::all_of(chips.begin(), chips.end(), [](auto* c) { return c->size() == c->sizeHint(); });
                },
                1000);
            const QRect panelArea = panel.view->rect().marginsRemoved(ClipListView::shadowMargins());
            for (FilterChip* chip : panel.view->filterChips()) {
                SCOPED_TRACE(chip->text().toStdString());
                EXPECT_GE(chip->width(), std::ceil(QFontMetricsF(chip->font()).horizontalAdvance(chip->text())) + 24);
                EXPECT_EQ(chip->size(), chip->sizeHint());
                EXPECT_EQ(chip->visibleRegion(), QRegion(chip->rect()));
                EXPECT_TRUE(panelArea.contains(QRect(chip->mapTo(panel.view, QPoint(0, 0)), chip->size())));
            }
            if (mode != PanelMode::bottom)
                continue;
            // The strip scrolls sideways; up and down every card is whole, and no bigger than a big card.
            for (int row = 0; row < 3; ++row) {
                EXPECT_GE(panel.cardRect(row).top(), 0) << row;
                EXPECT_LE(panel.cardRect(row).bottom(), panel.list()->viewport()->height()) << row;
                EXPECT_LE(panel.cardRect(row).height(), CardDelegate::bigCardSize.height()) << row;
            }
            // As many whole lines as the body holds, at most six, the last with an ellipsis.
            const QList<CardLine> lines = panel.delegate().bigCardLines(panel.cardRect(0), paragraphs);
            EXPECT_GE(lines.size(), 2);
            EXPECT_LE(lines.size(), CardDelegate::bigCardTextLines);
            EXPECT_TRUE(lines.last().text.endsWith(QChar(0x2026)));
            EXPECT_LE(lines.size() * QFontMetricsF(panel.delegate().bodyFont()).lineSpacing(),
                      panel.delegate().bigCardBody(panel.cardRect(0)).height());
        }
    }
}

// A rounded, translucent panel whose highlighted card is tinted with the accent colour; Hebrew and Arabic
// texts end at the right edge of the card's text column, others start at its left; a pinned card changes
// only where its pin goes, clear of the source icon.
TEST(PanelContent, RendersTheRoundedPanelTheHighlightTheTextDirectionAndThePin)
{
    const std::pair<QString, bool> texts[] = {{QStringLiteral("שלום עולם"), true},
                                              {QStringLiteral("مرحبا بالعالم"), true},
                                              {QStringLiteral("שלום\nhello"), true},
                                              {QStringLiteral("hello world"), false}};
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::right}) {
        for (const auto& [text, rightToLeft] : texts) {
            SCOPED_TRACE(rawValue(mode).toStdString() + " " + text.toStdString());
            Panel panel(mode, AppLanguage::en);
            QPixmap icon(64, 64);
            icon.fill(Qt::green);
            panel.workspace.installedApplications.insert(QStringLiteral("org.example.Editor"), QIcon(icon));
            const QList<ClipItem> items =
                panel.add({panel.record(ClipKind::text, text, 10),
                           panel.record(ClipKind::text, QStringLiteral("x"), 20, {}, "Editor")});
            panel.keys(QStringLiteral("@present1 Down"));
            const QImage image = panel.render();
            const qreal ratio = image.devicePixelRatio();
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "see-through outside the rounded corner";
            EXPECT_GT(qAlpha(image.pixel(image.width() / 2, (ClipListView::shadowMargins().top() + 4) * ratio)), 200);
            const QColor accent = panel.window->palette().color(QPalette::Highlight);
            const auto distanceToAccent = [&](int row) {
                // Near the lower right corner nothing is drawn over the card's fill.
                const QColor c =
                    image.pixelColor(panel.inImage(panel.cardRect(row), ratio).bottomRight() - QPoint(10, 6) * ratio);
                return std::abs(c.red() - accent.red()) + std::abs(c.green() - accent.green()) +
                       std::abs(c.blue() - accent.blue());
            };
            EXPECT_LT(distanceToAccent(1), distanceToAccent(0));

            // The dark ink and the icon's green inside each card's rounded frame.
            const auto inCard = [&](int row, auto test) {
                const QRect card = panel.inImage(panel.cardRect(row), ratio).adjusted(6, 6, -6, -6);
                return area(image.copy(card), [&](QRgb pixel, QRgb) { return test(pixel); }).translated(card.topLeft());
            };
            const QRect ink = inCard(0, [](QRgb pixel) { return qGray(pixel) < 110; });
            const QRect greenIcon = inCard(1, [](QRgb pixel) { return qGreen(pixel) > 200 && qRed(pixel) < 60; });
            // The text column ends 12 (big card) or 10 (row) inside the card; the badge and the age stay left.
            const qreal inkEnd = (ink.right() + 1) / ratio - panel.inImage(panel.cardRect(0), 1).left();
            const qreal textEnd = panel.cardRect(0).width() - (mode == PanelMode::bottom ? 12 : 10);
            EXPECT_FALSE(ink.isEmpty());
            EXPECT_LE(inkEnd, textEnd + 1);
            EXPECT_EQ(inkEnd > textEnd - 3, rightToLeft);
            EXPECT_EQ(inkEnd < textEnd - 40, !rightToLeft);

            const QRect pin = panel.inImage(panel.delegate().pinRect(panel.cardRect(1), items.at(1)), ratio);
            ASSERT_TRUE(panel.store->setPinned(items.at(1).id, true).ok() && panel.store->save().ok());
            panel.settle();
            const QRect marked = changedArea(image, panel.render());
            EXPECT_GE(marked.width() * marked.height(), 12);
            EXPECT_TRUE(pin.adjusted(-1, -1, 1, 1).contains(marked));
            EXPECT_FALSE(greenIcon.isEmpty());
            EXPECT_FALSE(greenIcon.intersects(pin));
        }
    }
}

TEST(PanelPins, ThePinControlPinsWithoutChoosingTheCard)
{
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::right}) {
        SCOPED_TRACE(rawValue(mode).toStdString());
        Panel panel(mode, AppLanguage::en);
        const QList<ClipItem> items = panel.addTexts(3, 1);
        panel.recordPins();
        panel.open();
        const auto control = [&](int row) {
            return panel.delegate().pinControlRect(panel.cell(row), items.at(row), row == panel.index());
        };
        // Where cards do not grow, the control shows on the card under the pointer and on no other.
        if (mode == PanelMode::right) {
            const QImage before = panel.render();
            panel.pointerAt(panel.cardCentre(2));
            const QRect shown = changedArea(before, panel.render());
            EXPECT_FALSE(shown.isEmpty());
            EXPECT_TRUE(panel.inImage(control(2), before.devicePixelRatio()).adjusted(-1, -1, 1, 1).contains(shown));
        }
        // On the controls of the unpinned newest card and of the pinned one, neither highlighted.
        panel.keys(QStringLiteral("Tab Down Down"));
        for (const auto& [row, tip] : {std::pair(0, "Pin (Ctrl+P)"), std::pair(1, "Unpin (Ctrl+P)")}) {
            const QPoint on = control(row).center().toPoint();
            panel.pointerAt(on);
            QHelpEvent help(QEvent::ToolTip, on, panel.list()->viewport()->mapToGlobal(on));
            QApplication::sendEvent(panel.list()->viewport(), &help);
            EXPECT_EQ(QToolTip::text(), QString::fromUtf8(tip));
            QToolTip::hideText();
            panel.click(on);
        }
        // A press on the control let go elsewhere on the card, and a click between two cards, do nothing;
        // the rest of the card chooses it, whatever is highlighted.
        QTest::mousePress(panel.list()->viewport(), Qt::LeftButton, Qt::NoModifier, control(1).center().toPoint());
        QTest::mouseRelease(panel.list()->viewport(), Qt::LeftButton, Qt::NoModifier, panel.cardCentre(1));
        const QRect first = panel.cell(0);
        panel.click(mode == PanelMode::bottom ? QPoint(first.right(), first.center().y())
                                              : QPoint(first.center().x(), first.bottom()));
        panel.click(panel.cardCentre(1));
        EXPECT_EQ(panel.state(), "t0 t1 [t2] >t1 +t0 -t1 #3");
    }
    // Without the writer's pinning the card has no control: a click there chooses the card.
    Panel panel(PanelMode::right);
    const QList<ClipItem> items = panel.addTexts(3, 1);
    panel.open();
    EXPECT_TRUE(panel.delegate().pinControlRect(panel.cell(0), items.at(0), true).isEmpty());
    const QPoint where = panel.delegate().pinRect(panel.cardRect(0), items.at(0)).center().toPoint();
    panel.pointerAt(where);
    panel.click(where);
    EXPECT_EQ(panel.state(), "[t0] t1 t2 >t0 #3");
}

TEST(PanelUndo, CtrlZBringsBackTheRecordDeletedInThisShowing)
{
    Panel panel(PanelMode::bottom);
    const QList<ClipItem> items = panel.addTexts(4);
    // The writer: it keeps the record it deleted last and puts it back when asked.
    std::optional<ClipItem> kept;
    panel.view->results().setRemover([&](const QUuid& id) {
        kept = *std::find_if(items.begin(), items.end(), [&](const ClipItem& item) { return item.id == id; });
        ASSERT_TRUE(panel.store->remove(id).ok() && panel.store->save().ok());
    });
    panel.view->results().setUndoer([&] {
        ASSERT_TRUE(kept && panel.store->insert(*std::exchange(kept, std::nullopt)).ok() && panel.store->save().ok());
    });
    panel.play({
        // Nothing deleted yet: Ctrl+Z is the search field's undo of the typing.
        {"@present1 T Ctrl+Z", "[t0] t1 t2 t3 #4"},
        {"Tab Down Ctrl+Backspace", "t0 [t2] t3 #3"},
        // Back in its place and highlighted; one step back only.
        {"Up Ctrl+Z Ctrl+Z", "t0 [t1] t2 t3 #4"},
        // From the search field too, after typing.
        {"Ctrl+Backspace Shift+Tab T Ctrl+Z", "t0 [t1] t2 t3 't' #4"},
        // A record deleted in an earlier showing is not brought back.
        {"Tab Ctrl+Backspace @hide @present2 Tab Ctrl+Z", "[t0] t2 t3 #3"},
    });
}

// Pinning, deleting and undoing from the panel through the writer are run end to end; here, every way of
// hiding the panel lets go of the record kept for undo.
TEST(PanelCoordinator, EveryHidingLetsGoOfTheRecordKeptForUndo)
{
    Panel fixture(PanelMode::bottom);
    fixture.settings.setPanelMode(PanelMode::bottom);
    const QList<ClipItem> items = fixture.addTexts(3);
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeKeyboard keyboard;
    fake::FakeClickMonitor clicks;
    PasteBack pasteBack(clipboardWriter, keyboard, fixture.workspace, fixture.console, [] { return QVariant(); });
    int forgets = 0;
    PanelServices services{*fixture.store, fixture.settings, fixture.thumbnails, fixture.icons, fixture.clock,
                           pasteBack,      clicks,           fixture.workspace};
    services.forgetRemoved = [&] { ++forgets; };
    auto coordinator = std::make_unique<PanelCoordinator>(services);
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"hide", [&] { coordinator->hide(); }},
        {"hidden by the window manager", [&] { coordinator->panel()->hide(); }},
        {"a record chosen", [&] { coordinator->select(items.at(1)); }},
        {"toggled", [&] { coordinator->toggle(); }},
        // A placement change builds a new panel; the old one goes away hidden.
        {"placement changed", [&] { fixture.settings.setPanelMode(PanelMode::left), coordinator->show(); }},
    };
    for (const auto& [way, hide] : ways) {
        coordinator->show();
        ASSERT_TRUE(coordinator->isVisible());
        const int before = forgets;
        hide();
        EXPECT_EQ(forgets, before + 1) << way;
    }
    coordinator->hide();
    coordinator->hide();
    EXPECT_EQ(forgets, 6) << "only a shown panel hides";
    // Going away with the shell, the coordinator tells services that may be gone already nothing.
    coordinator->show();
    coordinator.reset();
    EXPECT_EQ(forgets, 6);
}
