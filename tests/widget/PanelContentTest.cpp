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
#include "settings/SettingsStore.h"
#include "settings/Translations.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakeClickMonitor.h"
#include "support/fake/FakeClipboardWriter.h"
#include "support/fake/FakeKeyboard.h"
#include "support/fake/FakePlatform.h"

#include <QApplication>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace Qt::StringLiterals;

namespace {

// A red PNG; `noisy`: random pixels, which compress badly and decode slowly.
QByteArray png(const QSize& size, bool noisy = false)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    if (noisy)
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(image.bits()), image.sizeInBytes() / 4);
    return test::encoded(image);
}

// The smallest rectangle holding the pixels in which `a` and `b` differ.
QRect changedArea(const QImage& a, const QImage& b)
{
    QRect found;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            found |= a.pixel(x, y) != b.pixel(x, y) ? QRect(x, y, 1, 1) : QRect();
    return found;
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
            names[item.id] = item.contentText.value_or(u"<image>"_s);
        }
        EXPECT_TRUE(store->save().ok());
        return items;
    }
    ClipItem record(ClipKind kind, std::optional<QString> text, qint64 secondsAgo = 1,
                    std::optional<QByteArray> image = {}, std::optional<QString> source = {})
    {
        std::optional<QByteArray> thumbnail = image ? makeThumbnail(*image) : std::nullopt;
        // The source application's desktop entry is named after it.
        const auto folder = source ? std::optional(u"org.example."_s + *source) : std::nullopt;
        return ClipItem::make(kind, std::move(text), std::move(image), std::move(thumbnail), folder, source,
                              clock.now().addSecs(-secondsAgo));
    }
    ClipItem image(const QByteArray& bytes, qint64 ago = 1) { return record(ClipKind::image, {}, ago, bytes); }
    // `count` text records "t0" (newest) … "t<count-1>"; the one at `pinned` is pinned.
    QList<ClipItem> addTexts(int count, int pinned = -1)
    {
        QList<ClipItem> items;
        for (int i = 0; i < count; ++i) {
            items.append(record(ClipKind::text, u"t%1"_s.arg(i), i + 1));
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
            texts.append(item.contentText.value_or(u"<image>"_s));
        return texts;
    }
    // The cards with the highlighted one in brackets, the search text, the records chosen and those pinned
    // ("+") or unpinned ("-"), and how many are stored: "t0 [t1] 'x' >t1 +t0 #3".
    std::string state() const
    {
        QStringList parts = shown();
        if (index() < parts.size())
            parts[index()] = u'[' + parts[index()] + u']';
        if (!search()->text().isEmpty())
            parts.append(u'\'' + search()->text() + u'\'');
        for (const ClipItem& item : chosen)
            parts.append(u'>' + names.value(item.id));
        for (const auto& [id, pinned] : pins)
            parts.append((pinned ? u"+"_s : u"-"_s) + names.value(id));
        parts.append(u"#%1"_s.arg(store->count().value()));
        return parts.join(u' ').toStdString();
    }

    // Keys typed while the panel holds the keyboard, as QKeySequence names them ("Ctrl+Backspace",
    // "Num+Enter", "T"); one after "!" comes before the search has answered. "@hide" hides the panel,
    // "@present<n>" shows it for presentation n.
    void keys(const QString& keys)
    {
        for (QString key : keys.split(u' ', Qt::SkipEmptyParts)) {
            if (!key.startsWith(u'!'))
                settle();
            const QKeyCombination typed = QKeySequence(key.remove(u'!'))[0];
            if (key == u"@hide"_s)
                window->hide();
            else if (key.startsWith(u"@present"_s))
                open(key.mid(8).toInt());
            else
                QTest::keyClick(window->focusWidget() ? window->focusWidget() : window.get(), typed.key(),
                                typed.keyboardModifiers());
        }
    }
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
    // Blanks alone still count as a search, though they match everything.
    // clang-format off
    const std::tuple<const char*, ListFilter, QStringList, const char*> cases[] = {
        {"", {}, all, ""}, {"   ", {}, all, ""}, {"CAFÉ", {}, {all[0]}, ""}, {"  lait \n", {}, {all[0]}, ""},
        {"", {ClipKind::link}, {all[1], all[4]}, ""}, {"viewer", {}, {"<image>"}, ""},
        {"a.example", {ClipKind::link}, {all[4]}, ""}, {"  ", {ClipKind::text}, {all[0], all[5]}, ""},
        {"zebra", {}, {}, "未找到匹配项"}, {"  ", ListFilter::pinned(), {}, "未找到匹配项"},
        {"", ListFilter::pinned(), {}, "暂无固定的条目"}};
    // clang-format on
    Panel panel(PanelMode::bottom);
    for (int i = 0; i < all.size(); ++i)
        panel.add({all[i] == u"<image>"_s ? panel.record(ClipKind::image, std::nullopt, i, png({8, 8}), u"Viewer"_s)
                                          : panel.record(classify(all[i]), all[i], i)});
    panel.view->present(1);
    for (const auto& [search, filter, expected, emptyText] : cases) {
        SCOPED_TRACE(search + std::string(filter.pinnedOnly ? " pinned" : filter.kind ? " of a kind" : ""));
        panel.search()->setText(QString::fromUtf8(search));
        panel.view->selectFilter(filter);
        EXPECT_EQ(panel.shown(), expected);
        EXPECT_EQ(expected.isEmpty() ? panel.list()->emptyText() : QString(), QString::fromUtf8(emptyText));
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

TEST(PanelContent, EveryShowingResetsSearchFilterHighlightAndFocus)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(4);
    panel.add({panel.record(ClipKind::link, u"https://x.example"_s, 0)});
    panel.keys(u"@present1 T"_s);
    panel.view->selectKind(ClipKind::text);
    // Without the writer's pinning Ctrl+P does nothing; the same showing again changes nothing.
    panel.play(
        {{"Down Down Ctrl+P @present1", "t0 t1 [t2] t3 't' #5"}, {"@present2", "[https://x.example] t0 t1 t2 t3 #5"}});
    for (FilterChip* chip : panel.view->filterChips())
        EXPECT_EQ(chip->isChecked(), chip->filter() == ListFilter());
    // Records that come while the panel is hidden cost no query; showing it again brings them.
    panel.keys(u"@hide"_s);
    panel.add({panel.record(ClipKind::text, u"new"_s, 0)});
    EXPECT_FALSE(panel.view->results().isQuerying());
    EXPECT_EQ(panel.view->results().items().size(), 5);
    panel.window->show();
    EXPECT_EQ(panel.shown().first(), u"new"_s);
}

TEST(PanelContent, ChipsChooseOneFilterAndStayChosenWhenClickedAgain)
{
    Panel panel(PanelMode::right);
    QList<ClipItem> items{panel.record(ClipKind::text, u"a"_s, 10), panel.image(png({8, 8}), 20),
                          panel.record(ClipKind::link, u"https://a.example/"_s, 30)};
    items[0].pinned = items[1].pinned = true;
    panel.add(items);
    panel.keys(u"@present1 Down"_s);
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

TEST(PanelContent, KeysActOnlyWhenThePanelHasThemAndOnTheAnswerToWhatWasTyped)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(3);
    panel.keys(u"@present1 Down"_s);
    QLineEdit field(u"abc def"_s);
    field.show();
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Right, Qt::Key_Return, Qt::Key_Enter})
        QTest::keyClick(&field, key);
    QTest::keyClick(&field, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(field.text(), u"abc "_s) << "the keys reach the other window";
    panel.play({{"@hide Down Return Ctrl+Backspace", "t0 [t1] t2 #3"}});
    // Return right after typing chooses among the answer to what was typed, not among the cards shown before.
    panel.keys(u"@present2 !T !2 !Tab"_s);
    ASSERT_TRUE(panel.view->results().isQuerying()) << "the case needs the answer still on its way";
    panel.play({{"!Return", "[t2] 't2' >t2 #3"}});
}

// Cards show the thumbnail the store keeps; resting on one shows the full image, decoded at no more pixels
// than the preview window shows on its screen.
TEST(PanelContent, ImagePreviewAfterThePointerRestsOnAnImageCard)
{
    Panel panel(PanelMode::bottom);
    const QSize sizes[] = {{900, 300}, {1200, 1600}, {64, 32}};
    panel.add({panel.image(png(sizes[0]), 1), panel.image(png(sizes[1]), 2), panel.image(png(sizes[2]), 3),
               panel.record(ClipKind::text, u"words"_s, 4), panel.image(QByteArray("broken"), 5)});
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

// A preview still being decoded never shows up once the pointer moved on, the card went away or the panel
// closed.
TEST(PanelContent, AnInterruptedPreviewNeverShowsUpLate)
{
    static const QByteArray photo = png({2000, 1500}, true);
    const std::pair<const char*, std::function<void(Panel&)>> cases[] = {
        {"another image card", [](Panel& p) { p.pointerAt(p.cardCentre(2)); }},
        {"a text card", [](Panel& p) { p.pointerAt(p.cardCentre(1)); }},
        {"pointer leaves", [](Panel& p) { QApplication::sendEvent(p.list()->viewport(), new QEvent(QEvent::Leave)); }},
        {"pointer in the gap", [](Panel& p) { p.pointerAt(QPoint(p.cell(0).right(), p.cell(0).center().y())); }},
        {"filtered away", [](Panel& p) { p.view->selectKind(ClipKind::text); }},
        {"searched away", [](Panel& p) { p.search()->setText(u"words"_s); }},
        {"deleted", [](Panel& p) { p.keys(u"Ctrl+Backspace"_s); }},
        {"scrolled away", [](Panel& p) { p.list()->horizontalScrollBar()->setValue(2000); }},
        {"panel closed", [](Panel& p) { p.window->hide(); }},
    };
    for (const auto& [name, interrupt] : cases) {
        SCOPED_TRACE(name);
        Panel panel(PanelMode::bottom);
        QList<ClipItem> items{panel.image(photo), panel.record(ClipKind::text, u"words"_s, 2),
                              panel.image(png({40, 40}), 3)};
        for (int i = 0; i < 30; ++i)
            items.append(panel.record(ClipKind::text, u"words %1"_s.arg(i), 10 + i));
        panel.add(items);
        panel.open();
        panel.list()->setHoverDelay(0);
        const ImagePreviewLoader& loader = panel.list()->previewLoader();
        panel.pointerAt(panel.cardCentre(0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return loader.isBusy(); }, 5000));
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

// Switched to any language, down to the narrow column and the short strip of a 720 × 450 screen (1440 × 900
// at twice the scale), every chip shows its whole label, a row that would not fit wrapping, and the cards
// shrink to the strip, showing fewer whole lines.
TEST(PanelContent, TextsFollowTheLanguageAndSmallScreensClipNeitherChipsNorCards)
{
    const std::pair<PanelMode, QSize> placements[] = {{PanelMode::left, {376, 736}},
                                                      {PanelMode::right, {340, 366}},
                                                      {PanelMode::bottom, {1452, 294}},
                                                      {PanelMode::bottom, {732, 207}}};
    const AppLanguage languages[] = {AppLanguage::en, AppLanguage::ja, AppLanguage::ko, AppLanguage::zhHant,
                                     AppLanguage::zhHans};
    const QString english = u"Search|No clipboard history yet|All|Text|Image|Link|Color|Pinned"_s;
    for (const AppLanguage language : languages) {
        for (const auto& [mode, size] : placements) {
            SCOPED_TRACE(rawValue(language).toStdString() + " " + std::to_string(size.width()));
            Panel panel(mode, language == AppLanguage::en ? AppLanguage::ja : AppLanguage::en);
            const QString paragraphs = u"line\n"_s.repeated(9);
            panel.add({panel.record(ClipKind::text, paragraphs), panel.image(png({300, 200}), 20),
                       panel.record(ClipKind::color, u"#1e90ff"_s, 30)});
            panel.window->resize(size);
            panel.open();
            panel.settings.setLanguage(language);
            const QList<FilterChip*>& chips = panel.view->filterChips();
            QStringList shown{panel.search()->placeholderText(), panel.list()->emptyText()};
            for (FilterChip* chip : chips)
                shown.append(chip->text());
            // The tables are checked on their own; here the panel's texts follow each switch of language.
            EXPECT_EQ(shown.join(u'|') == english, language == AppLanguage::en) << shown.join(u'|').toStdString();
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return std::ranges::all_of(chips, [](auto* c) { return c->size() == c->sizeHint(); }); }, 1000));
            const QRect panelArea = panel.view->rect().marginsRemoved(ClipListView::shadowMargins());
            for (FilterChip* chip : chips) {
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
                const QRectF card = panel.cardRect(row);
                EXPECT_GE(card.top(), 0) << row;
                EXPECT_LE(card.bottom(), panel.list()->viewport()->height()) << row;
                EXPECT_LE(card.height(), CardDelegate::bigCardSize.height()) << row;
            }
            // As many whole lines as the body holds (how they are cut is the card text's test), at least two.
            const QList<CardLine> lines = panel.delegate().bigCardLines(panel.cardRect(0), paragraphs);
            EXPECT_GE(lines.size(), 2);
            EXPECT_LE(lines.size() * QFontMetricsF(panel.delegate().bodyFont()).lineSpacing(),
                      panel.delegate().bigCardBody(panel.cardRect(0)).height());
        }
    }
}

TEST(PanelPins, PinnedCardsShowAPinAndThePinControlPinsWithoutChoosingTheCard)
{
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::right}) {
        SCOPED_TRACE(rawValue(mode).toStdString());
        Panel panel(mode, AppLanguage::en);
        const QList<ClipItem> items = panel.addTexts(3, 1);
        panel.recordPins();
        panel.open();
        // A card pinned by the writer changes only where its pin goes.
        const QImage image = panel.render();
        const QRect pin =
            panel.inImage(panel.delegate().pinRect(panel.cardRect(2), items.at(2)), image.devicePixelRatio());
        ASSERT_TRUE(panel.store->setPinned(items.at(2).id, true).ok() && panel.store->save().ok());
        panel.settle();
        const QRect marked = changedArea(image, panel.render());
        EXPECT_GE(marked.width() * marked.height(), 12);
        EXPECT_TRUE(pin.adjusted(-1, -1, 1, 1).contains(marked));
        const auto control = [&](int row) {
            return panel.delegate().pinControlRect(panel.cell(row), items.at(row), row == panel.index());
        };
        // On the controls of the unpinned newest card and of the pinned one, neither highlighted.
        panel.keys(u"Tab Down Down"_s);
        for (const int row : {0, 1}) {
            panel.pointerAt(control(row).center().toPoint());
            panel.click(control(row).center().toPoint());
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
