#include "history/HistoryStore.h"
#include "history/Thumbnail.h"
#include "panel/CardDelegate.h"
#include "panel/CardFormat.h"
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
#include <QDir>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QImageWriter>
#include <QLineEdit>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

using namespace nimbrel;

namespace {

QByteArray png(const QSize& size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.fillRect(QRect(QPoint(0, 0), size / 2), Qt::white);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

QIcon appIcon(QColor color)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// A panel's content in a window of its own, over an in-memory history, with the settings, caches and
// clock of a test.
struct Panel {
    explicit Panel(PanelMode mode, AppLanguage language = AppLanguage::zhHans)
        : translations(Translations::defaultDirectory()),
          settings(defaults, loginItems, console, translations),
          icons(workspace),
          store(std::move(HistoryStore::openInMemory()).value())
    {
        settings.setLanguage(language);
        window = std::make_unique<QWidget>();
        window->setAttribute(Qt::WA_TranslucentBackground);
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        view = new ClipListView(*store, settings, thumbnails, icons, clock, mode, window.get());
        layout->addWidget(view);
        window->resize(mode == PanelMode::bottom ? QSize(1436, 280) : QSize(360, 720));
        view->resultsView()->setScrollAnimationDuration(0);
        QObject::connect(view, &ClipListView::selected, view, [this](const ClipItem& item) { chosen.append(item); });
        QObject::connect(view, &ClipListView::imageHover, view,
                         [this](const std::optional<QImage>& image) { hovers.append(image); });
        // Queried as if shown, also in the cases that never show the window.
        view->results().setActive(true);
    }

    // Waits until the answer to the newest query is shown.
    void settle() const
    {
        ResultsModel& results = view->results();
        QElapsedTimer waited;
        waited.start();
        while (results.isQuerying() && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_FALSE(results.isQuerying()) << "no answer to the query";
    }

    void show()
    {
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Inserts records, the first one newest, and saves them together.
    QList<ClipItem> add(const QList<ClipItem>& items)
    {
        for (const ClipItem& item : items)
            EXPECT_TRUE(store->insert(item).ok());
        EXPECT_TRUE(store->save().ok());
        return items;
    }
    ClipItem record(ClipKind kind, std::optional<QString> text, qint64 secondsAgo,
                    std::optional<QString> source = std::nullopt, std::optional<QByteArray> image = std::nullopt,
                    std::optional<QString> folder = std::nullopt)
    {
        std::optional<QByteArray> thumbnail = image ? makeThumbnail(*image) : std::nullopt;
        return ClipItem::make(kind, std::move(text), std::move(image), std::move(thumbnail), std::move(folder),
                              std::move(source), clock.now().addSecs(-secondsAgo));
    }
    // `count` text records "t0" (newest) … "t<count-1>".
    void addTexts(int count)
    {
        QList<ClipItem> items;
        for (int i = 0; i < count; ++i)
            items.append(record(ClipKind::text, QStringLiteral("t%1").arg(i), i + 1));
        add(items);
    }

    ResultsModel& model() const
    {
        settle();
        return view->results();
    }
    ClipResultsView* list() const { return view->resultsView(); }
    QLineEdit* search() const { return view->searchEdit(); }
    int index() const { return model().keyboardIndex(); }
    QStringList shown() const
    {
        QStringList texts;
        for (const ClipItem& item : model().items())
            texts.append(item.contentText.value_or(QStringLiteral("<image>")));
        return texts;
    }

    // A key typed while the panel holds the keyboard: it goes to the window's focus widget.
    void type(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        settle();
        QWidget* target = window->focusWidget() ? window->focusWidget() : window.get();
        QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    }

    // The centre of a row's card, in viewport coordinates.
    QPoint cardCentre(int row) const { return list()->visualRect(model().index(row, 0)).center(); }
    void pointerAt(QPoint point)
    {
        QWidget* viewport = list()->viewport();
        QMouseEvent move(QEvent::MouseMove, QPointF(point), QPointF(viewport->mapToGlobal(point)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
    }
    void pointerLeaves()
    {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(list()->viewport(), &leave);
    }
    void wheel(QPoint angle)
    {
        QWidget* viewport = list()->viewport();
        const QPointF at(viewport->rect().center());
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
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
    std::unique_ptr<QWidget> window;
    ClipListView* view = nullptr;
};

}  // namespace

TEST(PanelContent, SearchAndKindFilterDecideTheCardsAndTheEmptyText)
{
    struct Case {
        const char* name;
        QString search;
        std::optional<ClipKind> kind;
        QStringList expected;
        const char* emptyText;
    };
    const QStringList everything{"cafe au lait", "https://b.example/", "#1e90ff",
                                 "<image>",      "https://a.example/", "Notes"};
    const Case cases[] = {
        {"nothing typed", QString(), std::nullopt, everything, nullptr},
        {"only spaces match everything", QStringLiteral("   "), std::nullopt, everything, nullptr},
        {"upper case with an accent", QStringLiteral("CAFÉ"), std::nullopt, {"cafe au lait"}, nullptr},
        {"surrounding blanks are trimmed", QStringLiteral("  lait \n"), std::nullopt, {"cafe au lait"}, nullptr},
        {"links newest first", QString(), ClipKind::link, {"https://b.example/", "https://a.example/"}, nullptr},
        {"source name finds an image", QStringLiteral("viewer"), std::nullopt, {"<image>"}, nullptr},
        {"search within a kind", QStringLiteral("a.example"), ClipKind::link, {"https://a.example/"}, nullptr},
        {"no match", QStringLiteral("zebra"), std::nullopt, {}, "未找到匹配项"},
        {"spaces but nothing of the kind", QStringLiteral("  "), ClipKind::text, {"cafe au lait", "Notes"}, nullptr},
        {"empty kind without a search", QString(), ClipKind::color, {"#1e90ff"}, nullptr},
    };
    for (const Case& c : cases) {
        Panel panel(PanelMode::bottom);
        panel.add({
            panel.record(ClipKind::text, QStringLiteral("cafe au lait"), 10, QStringLiteral("Terminal")),
            panel.record(ClipKind::link, QStringLiteral("https://b.example/"), 20, QStringLiteral("Firefox")),
            panel.record(ClipKind::color, QStringLiteral("#1e90ff"), 30),
            panel.record(ClipKind::image, std::nullopt, 40, QStringLiteral("Viewer"), png({8, 8}, Qt::red)),
            panel.record(ClipKind::link, QStringLiteral("https://a.example/"), 50, QStringLiteral("Firefox")),
            panel.record(ClipKind::text, QStringLiteral("Notes"), 60),
        });
        panel.view->present(1);
        panel.search()->setText(c.search);
        panel.view->selectKind(c.kind);
        EXPECT_EQ(panel.shown(), c.expected) << c.name;
        if (c.emptyText) {
            EXPECT_EQ(panel.list()->emptyText(), QString::fromUtf8(c.emptyText)) << c.name;
        }
    }
}

TEST(PanelContent, EmptyTextSaysWhetherASearchFoundNothing)
{
    Panel panel(PanelMode::right);
    panel.view->present(1);
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("暂无剪切板历史"));
    // Blanks alone still count as a search, though they match everything.
    panel.search()->setText(QStringLiteral("   "));
    EXPECT_EQ(panel.model().rowCount(), 0);
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("未找到匹配项"));
    panel.add({panel.record(ClipKind::text, QStringLiteral("x"), 1)});
    EXPECT_EQ(panel.shown(), QStringList{"x"});
    panel.search()->clear();
    panel.view->selectKind(ClipKind::image);
    EXPECT_EQ(panel.model().rowCount(), 0);
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("暂无剪切板历史"));
}

TEST(PanelContent, ListsTheNewestTwoHundredAndArrowsStopAtTheEnds)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(250);
    panel.show();
    panel.view->present(1);
    ASSERT_EQ(panel.model().rowCount(), 200);
    EXPECT_EQ(panel.shown().first(), QStringLiteral("t0"));
    EXPECT_EQ(panel.shown().last(), QStringLiteral("t199"));

    panel.type(Qt::Key_Up);
    panel.type(Qt::Key_Left);
    EXPECT_EQ(panel.index(), 0);
    for (int i = 0; i < 260; ++i)
        panel.type(Qt::Key_Right);
    EXPECT_EQ(panel.index(), 199);
    // The highlighted card has been scrolled into view.
    EXPECT_TRUE(panel.list()->viewport()->rect().intersects(panel.list()->visualRect(panel.model().index(199, 0))));
    panel.type(Qt::Key_Down);
    EXPECT_EQ(panel.index(), 199);
}

TEST(PanelContent, ArrowKeysMoveTheHighlightInEveryPlacement)
{
    struct Step {
        int key;
        Qt::KeyboardModifiers modifiers;
        int expected;
    };
    const Step steps[] = {
        {Qt::Key_Down, Qt::NoModifier, 1},     {Qt::Key_Right, Qt::NoModifier, 2},
        {Qt::Key_Up, Qt::NoModifier, 1},       {Qt::Key_Left, Qt::NoModifier, 0},
        {Qt::Key_Down, Qt::ShiftModifier, 1},  {Qt::Key_Right, Qt::ControlModifier | Qt::AltModifier, 2},
        {Qt::Key_Left, Qt::KeypadModifier, 1},
    };
    for (const PanelMode mode : allPanelModes) {
        Panel panel(mode);
        panel.addTexts(5);
        panel.show();
        panel.view->present(1);
        panel.view->present(2);  // the search field has the focus, as at every later showing
        ASSERT_TRUE(panel.view->isSearchFocused());
        for (const Step& step : steps) {
            panel.type(step.key, step.modifiers);
            EXPECT_EQ(panel.index(), step.expected) << rawValue(mode).toStdString() << " key " << step.key;
        }
        // The arrows never reached the search field.
        EXPECT_EQ(panel.search()->text(), QString());
    }
}

TEST(PanelContent, ArrowsOnAnEmptyListDoNothing)
{
    Panel panel(PanelMode::left);
    panel.show();
    panel.view->present(1);
    panel.type(Qt::Key_Down);
    panel.type(Qt::Key_Return);
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.index(), 0);
    EXPECT_TRUE(panel.chosen.isEmpty());
}

TEST(PanelContent, ReturnChoosesOnlyWhileTheSearchFieldLacksTheFocus)
{
    struct Case {
        const char* name;
        bool searchFocused;
        int key;
        Qt::KeyboardModifiers modifiers;
        bool chooses;
    };
    const Case cases[] = {
        {"Return in the field", true, Qt::Key_Return, Qt::NoModifier, false},
        {"keypad Enter in the field", true, Qt::Key_Enter, Qt::KeypadModifier, false},
        {"Return outside the field", false, Qt::Key_Return, Qt::NoModifier, true},
        {"keypad Enter outside the field", false, Qt::Key_Enter, Qt::KeypadModifier, true},
        {"Shift+Return outside the field", false, Qt::Key_Return, Qt::ShiftModifier, true},
    };
    for (const Case& c : cases) {
        Panel panel(PanelMode::bottom);
        panel.addTexts(3);
        panel.show();
        // Every showing gives the field the focus; Tab takes it to the list.
        panel.view->present(1);
        if (!c.searchFocused)
            panel.type(Qt::Key_Tab);
        ASSERT_EQ(panel.view->isSearchFocused(), c.searchFocused) << c.name;
        panel.type(Qt::Key_Down);
        panel.type(c.key, c.modifiers);
        ASSERT_EQ(panel.chosen.size(), c.chooses ? 1 : 0) << c.name;
        if (c.chooses) {
            EXPECT_EQ(panel.chosen.first().contentText, QStringLiteral("t1")) << c.name;
        }
    }
}

TEST(PanelContent, TabLeavesTheSearchFieldSoThatReturnChooses)
{
    Panel panel(PanelMode::right);
    panel.addTexts(2);
    panel.show();
    panel.view->present(1);
    panel.view->present(2);
    ASSERT_TRUE(panel.view->isSearchFocused());
    panel.type(Qt::Key_Tab);
    EXPECT_FALSE(panel.view->isSearchFocused());
    panel.type(Qt::Key_Return);
    ASSERT_EQ(panel.chosen.size(), 1);
    EXPECT_EQ(panel.chosen.first().contentText, QStringLiteral("t0"));
}

TEST(PanelContent, ReturnRightAfterTypingChoosesAmongWhatWasTypedFor)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(3);
    panel.show();
    panel.view->present(1);
    panel.settle();
    // Typed, Tab and Return faster than the search answers, as a quick typist or a script does.
    QTest::keyClicks(panel.search(), QStringLiteral("t2"));
    QTest::keyClick(panel.search(), Qt::Key_Tab);
    ASSERT_TRUE(panel.view->results().isQuerying()) << "the case needs the answer still on its way";
    QTest::keyClick(panel.window->focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(panel.chosen.isEmpty()) << "not from the cards shown before";
    panel.settle();
    ASSERT_EQ(panel.chosen.size(), 1);
    EXPECT_EQ(panel.chosen.first().contentText, QStringLiteral("t2"));
}

TEST(PanelWindow, AnOrdinaryPanelWindowSaysWhenAnotherWindowTakesTheKeyboard)
{
    // Where the panel is an ordinary window (Wayland without layers), a click elsewhere shows only as the
    // keyboard going to another window.
    ClipPanel panel(false, true);
    QWidget other;
    QSignalSpy left(&panel, &ClipPanel::left);
    other.show();
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    EXPECT_EQ(left.size(), 0);
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(left.size(), 1);
    // Hidden, it has left already: going back and forth says nothing more.
    panel.hide();
    other.activateWindow();
    EXPECT_EQ(left.size(), 1);
}

TEST(PanelContent, CtrlBackspaceDeletesARecordOnlyWhereNoTextWouldBeEdited)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(3);
    panel.show();
    panel.view->present(1);
    panel.view->present(2);
    QTest::keyClicks(panel.search(), QStringLiteral("t"));
    ASSERT_EQ(panel.search()->text(), QStringLiteral("t"));
    panel.type(Qt::Key_Down);

    panel.type(Qt::Key_Backspace);
    EXPECT_EQ(panel.search()->text(), QString());
    EXPECT_EQ(panel.store->count().value(), 3);
    // Editing the search went back to the first card.
    EXPECT_EQ(panel.index(), 0);

    // In a field holding text, Ctrl+Backspace deletes the word before the cursor, as in every text field.
    QTest::keyClicks(panel.search(), QStringLiteral("x t"));
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.search()->text(), QStringLiteral("x "));
    EXPECT_EQ(panel.store->count().value(), 3);
    panel.search()->setText(QStringLiteral("t"));

    // With the list focused it deletes the highlighted record and leaves the search alone.
    panel.type(Qt::Key_Down);
    panel.type(Qt::Key_Tab);
    ASSERT_FALSE(panel.view->isSearchFocused());
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.search()->text(), QStringLiteral("t")) << "the chord must not reach the field";
    EXPECT_EQ(panel.store->count().value(), 2);
    EXPECT_EQ(panel.shown(), (QStringList{"t0", "t2"}));
    EXPECT_EQ(panel.index(), 1);
}

TEST(PanelContent, DeletingKeepsTheHighlightOnACard)
{
    Panel panel(PanelMode::right);
    panel.addTexts(3);
    panel.show();
    panel.view->present(1);
    panel.type(Qt::Key_Down);
    panel.type(Qt::Key_Down);
    ASSERT_EQ(panel.index(), 2);
    // Deleting the last card moves the highlight to the new last card.
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.shown(), (QStringList{"t0", "t1"}));
    EXPECT_EQ(panel.index(), 1);
    // Deleting in the middle keeps the position, now on the next card.
    panel.type(Qt::Key_Up);
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.shown(), QStringList{"t1"});
    EXPECT_EQ(panel.index(), 0);
    // Deleting the only card leaves an empty list at index 0.
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.model().rowCount(), 0);
    EXPECT_EQ(panel.index(), 0);
    EXPECT_EQ(panel.store->count().value(), 0);
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.index(), 0);
}

TEST(PanelContent, EveryKeystrokeInTheSearchHighlightsTheFirstCard)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(12);
    panel.show();
    panel.view->present(1);
    panel.view->present(2);
    for (const QChar c : QStringLiteral("t1")) {
        panel.type(Qt::Key_Down);
        panel.type(Qt::Key_Down);
        ASSERT_GT(panel.index(), 0);
        QTest::keyClicks(panel.search(), QString(c));
        EXPECT_EQ(panel.index(), 0) << "after typing " << QString(c).toStdString();
    }
    EXPECT_EQ(panel.shown(), (QStringList{"t1", "t10", "t11"}));
    // A filter change does the same.
    panel.type(Qt::Key_Down);
    panel.view->selectKind(ClipKind::text);
    EXPECT_EQ(panel.index(), 0);
}

TEST(PanelContent, PresentationResetsSearchFilterHighlightAndFocus)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(4);
    panel.add({panel.record(ClipKind::link, QStringLiteral("https://x.example"), 0)});
    panel.show();

    panel.view->present(1);
    EXPECT_TRUE(panel.view->isSearchFocused()) << "typing lands in the field from the first showing on";
    EXPECT_EQ(panel.index(), 0);

    panel.search()->setText(QStringLiteral("t"));
    panel.view->selectKind(ClipKind::text);
    panel.type(Qt::Key_Down);
    panel.type(Qt::Key_Down);
    // The same presentation again changes nothing.
    panel.view->present(1);
    EXPECT_EQ(panel.search()->text(), QStringLiteral("t"));
    EXPECT_EQ(panel.index(), 2);

    panel.view->present(2);
    EXPECT_EQ(panel.search()->text(), QString());
    EXPECT_EQ(panel.view->selectedKind(), std::nullopt);
    EXPECT_EQ(panel.index(), 0);
    EXPECT_TRUE(panel.view->isSearchFocused());
    EXPECT_EQ(panel.shown().first(), QStringLiteral("https://x.example"));
    const QList<FilterChip*>& chips = panel.view->filterChips();
    ASSERT_EQ(chips.size(), 6);
    for (FilterChip* chip : chips)
        EXPECT_EQ(chip->isChecked(), chip->filter() == ListFilter());
}

TEST(PanelContent, ChipsSelectTheKindAndStaySelectedWhenClickedAgain)
{
    Panel panel(PanelMode::right);
    panel.add({panel.record(ClipKind::text, QStringLiteral("a"), 1),
               panel.record(ClipKind::link, QStringLiteral("https://l.example"), 2)});
    panel.show();
    panel.view->present(1);
    FilterChip* link = panel.view->filterChips().at(3);
    ASSERT_EQ(link->kind(), ClipKind::link);
    link->click();
    EXPECT_EQ(panel.view->selectedKind(), ClipKind::link);
    EXPECT_EQ(panel.shown(), QStringList{"https://l.example"});
    link->click();
    EXPECT_TRUE(link->isChecked());
    EXPECT_EQ(panel.view->selectedKind(), ClipKind::link);
    panel.view->filterChips().at(0)->click();
    EXPECT_EQ(panel.view->selectedKind(), std::nullopt);
    EXPECT_FALSE(link->isChecked());
    EXPECT_EQ(panel.shown().size(), 2);
}

TEST(PanelContent, ClearButtonShowsOnlyWithTextAndEmptiesTheField)
{
    Panel panel(PanelMode::bottom);
    panel.show();
    panel.view->present(1);
    QAbstractButton* clear = panel.view->searchField()->clearButton();
    EXPECT_FALSE(clear->isVisible());
    panel.search()->setText(QStringLiteral(" "));
    EXPECT_TRUE(clear->isVisible());
    clear->click();
    EXPECT_EQ(panel.search()->text(), QString());
    EXPECT_FALSE(clear->isVisible());
}

TEST(PanelContent, KeysOfOtherWindowsOrOfAHiddenPanelDoNotActOnTheList)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(3);
    panel.show();
    panel.view->present(1);
    panel.type(Qt::Key_Down);

    QWidget settingsWindow;
    auto* field = new QLineEdit(&settingsWindow);
    field->setText(QStringLiteral("abc def"));
    settingsWindow.show();
    for (const int key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Right, Qt::Key_Return, Qt::Key_Enter})
        QTest::keyClick(field, static_cast<Qt::Key>(key));
    QTest::keyClick(field, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("abc ")) << "the keys reach the other window";
    EXPECT_EQ(panel.index(), 1);
    EXPECT_TRUE(panel.chosen.isEmpty());
    EXPECT_EQ(panel.store->count().value(), 3);

    panel.window->hide();
    panel.type(Qt::Key_Down);
    panel.type(Qt::Key_Return);
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.index(), 1);
    EXPECT_TRUE(panel.chosen.isEmpty());
    EXPECT_EQ(panel.store->count().value(), 3);
}

TEST(PanelContent, ClickingACardChoosesItWhateverIsHighlighted)
{
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::left}) {
        Panel panel(mode);
        panel.addTexts(4);
        panel.show();
        panel.view->present(1);
        QWidget* viewport = panel.list()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, panel.cardCentre(2));
        ASSERT_EQ(panel.chosen.size(), 1) << rawValue(mode).toStdString();
        EXPECT_EQ(panel.chosen.first().contentText, QStringLiteral("t2"));
        EXPECT_EQ(panel.index(), 0);
        // The gap between two cards belongs to neither.
        const QRect first = panel.list()->visualRect(panel.model().index(0, 0));
        const QPoint gap = mode == PanelMode::bottom ? QPoint(first.right(), first.center().y())
                                                     : QPoint(first.center().x(), first.bottom());
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, gap);
        EXPECT_EQ(panel.chosen.size(), 1);
    }
}

TEST(PanelContent, TheListFollowsTheStore)
{
    Panel panel(PanelMode::right);
    panel.addTexts(2);
    panel.view->present(1);
    EXPECT_EQ(panel.shown(), (QStringList{"t0", "t1"}));
    panel.add({panel.record(ClipKind::text, QStringLiteral("fresh"), 0)});
    EXPECT_EQ(panel.shown(), (QStringList{"fresh", "t0", "t1"}));
    // Unsaved changes are visible to the next query, which a save runs.
    ASSERT_TRUE(panel.store->remove(panel.model().items().at(1).id).ok());
    ASSERT_TRUE(panel.store->save().ok());
    EXPECT_EQ(panel.shown(), (QStringList{"fresh", "t1"}));
}

TEST(PanelContent, ThumbnailsComeFromTheStoreThroughTheCache)
{
    Panel panel(PanelMode::bottom);
    const QList<ClipItem> items =
        panel.add({panel.record(ClipKind::image, std::nullopt, 1, std::nullopt, png({40, 20}, Qt::blue)),
                   panel.record(ClipKind::image, std::nullopt, 2, std::nullopt, QByteArray("not an image")),
                   panel.record(ClipKind::text, QStringLiteral("t"), 3)});
    panel.view->present(1);
    const QVariant first = panel.model().index(0, 0).data(ResultsModel::ThumbnailRole);
    ASSERT_TRUE(first.canConvert<QImage>());
    EXPECT_EQ(first.value<QImage>().size(), QSize(40, 20));
    EXPECT_EQ(panel.thumbnails.cachedCount(), 1);
    EXPECT_FALSE(panel.model().index(1, 0).data(ResultsModel::ThumbnailRole).isValid());
    EXPECT_FALSE(panel.model().index(2, 0).data(ResultsModel::ThumbnailRole).isValid());
}

TEST(PanelContent, ImagePreviewAfterThePointerRestsOnAnImageCard)
{
    Panel panel(PanelMode::bottom);
    panel.add({panel.record(ClipKind::image, std::nullopt, 1, std::nullopt, png({64, 32}, Qt::red)),
               panel.record(ClipKind::image, std::nullopt, 2, std::nullopt, png({40, 40}, Qt::green)),
               panel.record(ClipKind::text, QStringLiteral("words"), 3),
               panel.record(ClipKind::image, std::nullopt, 4, std::nullopt, QByteArray("broken")),
               panel.record(ClipKind::text, QStringLiteral("more"), 5)});
    panel.show();
    panel.view->present(1);
    EXPECT_EQ(ClipResultsView::defaultHoverDelayMs, 1200);
    panel.list()->setHoverDelay(60);

    // Resting on an image card: nothing at once, the full image after the delay.
    panel.pointerAt(panel.cardCentre(0));
    EXPECT_TRUE(panel.hovers.isEmpty());
    EXPECT_TRUE(panel.list()->isPreviewPending());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.hovers.isEmpty(); }, 2000));
    ASSERT_TRUE(panel.hovers.last().has_value());
    EXPECT_EQ(panel.hovers.last()->size(), QSize(64, 32)) << "the full image, not the thumbnail";

    // Moving within the card changes nothing; moving to the next image card ends this preview at once
    // and starts the wait again.
    panel.hovers.clear();
    panel.pointerAt(panel.cardCentre(0) + QPoint(5, 5));
    EXPECT_TRUE(panel.hovers.isEmpty());
    panel.pointerAt(panel.cardCentre(1));
    ASSERT_EQ(panel.hovers.size(), 1);
    EXPECT_FALSE(panel.hovers.first().has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.hovers.size() == 2; }, 2000));
    EXPECT_EQ(panel.hovers.last()->size(), QSize(40, 40));

    // A text card wants no preview, at once.
    panel.hovers.clear();
    panel.pointerAt(panel.cardCentre(2));
    ASSERT_EQ(panel.hovers.size(), 1);
    EXPECT_FALSE(panel.hovers.first().has_value());
    EXPECT_FALSE(panel.list()->isPreviewPending());

    // Undecodable image data: no preview at all.
    panel.hovers.clear();
    panel.pointerAt(panel.cardCentre(3));
    QTest::qWait(200);
    EXPECT_EQ(panel.hovers.size(), 1);
    EXPECT_FALSE(panel.hovers.last().has_value());
}

TEST(PanelContent, ImagePreviewIsCancelledWhenTheCardIsLeftOrGoesAway)
{
    struct Case {
        const char* name;
        std::function<void(Panel&)> interrupt;
    };
    const Case cases[] = {
        {"pointer leaves the list", [](Panel& p) { p.pointerLeaves(); }},
        {"pointer moves into the gap",
         [](Panel& p) {
             const QRect cell = p.list()->visualRect(p.model().index(0, 0));
             p.pointerAt(QPoint(cell.right(), cell.center().y()));
         }},
        {"filtered away",
         [](Panel& p) {
             p.view->selectKind(ClipKind::text);
             p.settle();
         }},
        {"searched away",
         [](Panel& p) {
             p.search()->setText(QStringLiteral("words"));
             p.settle();
         }},
        {"deleted", [](Panel& p) { p.type(Qt::Key_Backspace, Qt::ControlModifier); }},
        {"scrolled away", [](Panel& p) { p.list()->horizontalScrollBar()->setValue(2000); }},
    };
    for (const Case& c : cases) {
        Panel panel(PanelMode::bottom);
        QList<ClipItem> items{panel.record(ClipKind::image, std::nullopt, 1, std::nullopt, png({64, 32}, Qt::red))};
        for (int i = 0; i < 30; ++i)
            items.append(panel.record(ClipKind::text, QStringLiteral("words %1").arg(i), 10 + i));
        panel.add(items);
        panel.show();
        panel.view->present(1);
        panel.list()->setHoverDelay(80);
        panel.pointerAt(panel.cardCentre(0));
        ASSERT_TRUE(panel.list()->isPreviewPending()) << c.name;
        c.interrupt(panel);
        EXPECT_FALSE(panel.list()->isPreviewPending()) << c.name;
        ASSERT_FALSE(panel.hovers.isEmpty()) << c.name;
        EXPECT_FALSE(panel.hovers.last().has_value()) << c.name;
        QTest::qWait(200);
        for (const std::optional<QImage>& hover : panel.hovers)
            EXPECT_FALSE(hover.has_value()) << c.name;
    }
}

TEST(PanelContent, HidingThePanelCancelsAPendingPreview)
{
    Panel panel(PanelMode::right);
    panel.add({panel.record(ClipKind::image, std::nullopt, 1, std::nullopt, png({64, 32}, Qt::red))});
    panel.show();
    panel.view->present(1);
    panel.list()->setHoverDelay(60);
    panel.pointerAt(panel.cardCentre(0));
    ASSERT_TRUE(panel.list()->isPreviewPending());
    panel.window->hide();
    EXPECT_FALSE(panel.list()->isPreviewPending());
    QTest::qWait(150);
    EXPECT_TRUE(panel.hovers.isEmpty());
    // Shown again, the same card starts a new wait when the pointer comes back.
    panel.show();
    panel.pointerAt(panel.cardCentre(0));
    EXPECT_TRUE(panel.list()->isPreviewPending());
}

namespace {

// A photo-like PNG: noise in every pixel, so that it compresses badly and takes a while to decode.
QByteArray noisyPng(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = 0xFF000000u | random.bounded(0x1000000u);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

}  // namespace

// Only as many pixels as the preview window shows on its screen reach the panel, whatever the image's size.
TEST(PanelContent, ImagePreviewIsDecodedAtThePreviewSize)
{
    const QSize cases[] = {{1600, 1200}, {1200, 1600}, {900, 300}, {600, 400}, {64, 32}};
    for (const QSize& pixels : cases) {
        SCOPED_TRACE(std::to_string(pixels.width()) + "x" + std::to_string(pixels.height()));
        Panel panel(PanelMode::bottom);
        panel.add({panel.record(ClipKind::image, std::nullopt, 1, std::nullopt, png(pixels, Qt::blue))});
        panel.show();
        panel.view->present(1);
        panel.list()->setHoverDelay(0);
        panel.pointerAt(panel.cardCentre(0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.hovers.isEmpty(); }, 5000));
        ASSERT_TRUE(panel.hovers.last().has_value());
        const QSize shown = panel.hovers.last()->size();
        const qreal ratio = panel.list()->devicePixelRatioF();
        const qreal scale = std::min({560 * ratio / pixels.width(), 420 * ratio / pixels.height(), 1.0});
        EXPECT_NEAR(shown.width(), pixels.width() * scale, 1.0);
        EXPECT_NEAR(shown.height(), pixels.height() * scale, 1.0);
        EXPECT_FALSE(panel.list()->isPreviewPending());
    }
}

// A preview still being decoded when the pointer moves on or the panel closes never shows up late.
TEST(PanelContent, APreviewDecodedTooLateIsDropped)
{
    static const QByteArray photo = noisyPng({2000, 1500});
    struct Case {
        const char* name;
        std::function<void(Panel&)> interrupt;
        // The image that may show afterwards: that of the card moved to.
        std::optional<QSize> next;
    };
    const Case cases[] = {
        {"another image card", [](Panel& p) { p.pointerAt(p.cardCentre(1)); }, QSize(40, 40)},
        {"a text card", [](Panel& p) { p.pointerAt(p.cardCentre(2)); }, std::nullopt},
        {"pointer leaves the list", [](Panel& p) { p.pointerLeaves(); }, std::nullopt},
        {"panel closed", [](Panel& p) { p.window->hide(); }, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Panel panel(PanelMode::bottom);
        panel.add({panel.record(ClipKind::image, std::nullopt, 1, std::nullopt, photo),
                   panel.record(ClipKind::image, std::nullopt, 2, std::nullopt, png({40, 40}, Qt::green)),
                   panel.record(ClipKind::text, QStringLiteral("words"), 3)});
        panel.show();
        panel.view->present(1);
        panel.list()->setHoverDelay(0);
        const ImagePreviewLoader& loader = panel.list()->previewLoader();
        panel.pointerAt(panel.cardCentre(0));
        // The photo is asked for; decoding it takes far longer than getting here.
        ASSERT_TRUE(QTest::qWaitFor([&] { return loader.isBusy(); }, 5000));
        ASSERT_TRUE(panel.list()->isPreviewPending());
        const qsizetype before = panel.hovers.size();
        c.interrupt(panel);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !loader.isBusy(); }, 10000));
        QCoreApplication::processEvents();
        if (c.next) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return panel.hovers.last().has_value(); }, 5000));
        }
        QList<QSize> shown;
        for (qsizetype i = before; i < panel.hovers.size(); ++i) {
            if (panel.hovers[i])
                shown.append(panel.hovers[i]->size());
        }
        EXPECT_EQ(shown, c.next ? QList<QSize>{*c.next} : QList<QSize>{});
        EXPECT_FALSE(panel.list()->isPreviewPending());
    }
}

TEST(PanelContent, VerticalWheelScrollsTheStripSidewaysOnlyInTheBottomPlacement)
{
    Panel bottom(PanelMode::bottom);
    bottom.addTexts(40);
    bottom.show();
    bottom.view->present(1);
    bottom.settle();
    ASSERT_TRUE(bottom.list()->mapsVerticalWheelToHorizontal());
    QScrollBar* sideways = bottom.list()->horizontalScrollBar();
    ASSERT_GT(sideways->maximum(), 0);

    bottom.wheel(QPoint(-120, 0));
    const int horizontalStep = sideways->value();
    ASSERT_GT(horizontalStep, 0);
    sideways->setValue(0);
    bottom.wheel(QPoint(0, -120));
    EXPECT_EQ(sideways->value(), horizontalStep) << "a vertical notch moves the strip as far as a horizontal one";
    bottom.wheel(QPoint(0, 120));
    EXPECT_EQ(sideways->value(), 0);
    // A gesture with a horizontal part is left alone: only its horizontal part moves the strip.
    bottom.wheel(QPoint(-120, -60));
    EXPECT_EQ(sideways->value(), horizontalStep);

    Panel side(PanelMode::right);
    side.addTexts(40);
    side.show();
    side.view->present(1);
    side.settle();
    EXPECT_FALSE(side.list()->mapsVerticalWheelToHorizontal());
    side.wheel(QPoint(0, -120));
    EXPECT_GT(side.list()->verticalScrollBar()->value(), 0);
    EXPECT_EQ(side.list()->horizontalScrollBar()->value(), 0);
}

TEST(PanelContent, TextsFollowTheInterfaceLanguage)
{
    Panel panel(PanelMode::right, AppLanguage::en);
    panel.show();
    panel.view->present(1);
    const auto chipTexts = [&] {
        QStringList texts;
        for (FilterChip* chip : panel.view->filterChips())
            texts.append(chip->text());
        return texts;
    };
    EXPECT_EQ(panel.search()->placeholderText(), QStringLiteral("Search"));
    EXPECT_EQ(chipTexts(), (QStringList{"All", "Text", "Image", "Link", "Color", "Pinned"}));
    const auto* delegate = qobject_cast<CardDelegate*>(panel.list()->itemDelegate());
    EXPECT_EQ(delegate->pinToolTip(false), QStringLiteral("Pin (Ctrl+P)"));
    EXPECT_EQ(delegate->pinToolTip(true), QStringLiteral("Unpin (Ctrl+P)"));
    panel.view->selectFilter(ListFilter::pinned());
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("No pinned items"));
    panel.view->selectKind(std::nullopt);
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("No clipboard history yet"));
    panel.search()->setText(QStringLiteral("zzz"));
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("No matches found"));

    // Row titles translate their fixed parts.
    const Localizer localized = [&](const QString& key) { return panel.settings.localized(key); };
    const ClipItem blank = panel.record(ClipKind::text, QStringLiteral(" \n "), 1);
    const ClipItem image = panel.record(ClipKind::image, std::nullopt, 1, std::nullopt, QByteArray());
    EXPECT_EQ(rowTitle(blank, panel.settings.locale(), localized), QStringLiteral("(Empty)"));
    EXPECT_EQ(rowTitle(image, panel.settings.locale(), localized), QStringLiteral("Image · 0 B"));

    panel.settings.setLanguage(AppLanguage::ja);
    EXPECT_EQ(panel.search()->placeholderText(), QStringLiteral("検索"));
    EXPECT_EQ(chipTexts().first(), QStringLiteral("すべて"));
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("一致する項目はありません"));

    EXPECT_EQ(rowTitle(blank, panel.settings.locale(), localized), QStringLiteral("（空白）"));

    panel.settings.setLanguage(AppLanguage::zhHans);
    EXPECT_EQ(chipTexts(), (QStringList{"全部", "文本", "图片", "链接", "颜色", "已固定"}));
    EXPECT_EQ(delegate->pinToolTip(true), QStringLiteral("取消固定 (Ctrl+P)"));
    EXPECT_EQ(panel.list()->emptyText(), QStringLiteral("未找到匹配项"));
}

// Every kind chip shows its whole label, in every language and placement, down to the narrow column of
// a small screen: a row that would not fit wraps.
TEST(PanelContent, KindChipsAreNeverClipped)
{
    struct Placement {
        PanelMode mode;
        QSize window;
    };
    const Placement placements[] = {
        {PanelMode::left, {376, 736}},
        {PanelMode::right, {376, 736}},
        // A 720 × 450 screen (1440 × 900 at twice the scale): a narrower column, a shorter strip.
        {PanelMode::right, {340, 366}},
        {PanelMode::bottom, {732, 208}},
    };
    for (const AppLanguage language :
         {AppLanguage::zhHans, AppLanguage::zhHant, AppLanguage::en, AppLanguage::ja, AppLanguage::ko}) {
        for (const Placement& placement : placements) {
            SCOPED_TRACE(rawValue(language).toStdString() + " " + rawValue(placement.mode).toStdString() + " " +
                         std::to_string(placement.window.width()));
            Panel panel(placement.mode, language);
            panel.window->resize(placement.window);
            panel.show();
            panel.view->present(1);
            const QRect panelArea = panel.view->rect().marginsRemoved(ClipListView::shadowMargins());
            for (FilterChip* chip : panel.view->filterChips()) {
                SCOPED_TRACE(chip->text().toStdString());
                const QFontMetricsF metrics(chip->font());
                EXPECT_GE(chip->width(), std::ceil(metrics.horizontalAdvance(chip->text())) + 24);
                EXPECT_EQ(chip->size(), chip->sizeHint());
                EXPECT_EQ(chip->visibleRegion(), QRegion(chip->rect()));
                EXPECT_TRUE(panelArea.contains(QRect(chip->mapTo(panel.view, QPoint(0, 0)), chip->size())));
            }
        }
    }
}

// On a small screen the strip is lower than a big card: the cards shrink to the strip and show fewer lines,
// whole, rather than being cut off.
TEST(PanelContent, CardsFitTheStripOfASmallScreen)
{
    struct Case {
        const char* name;
        QSize window;
    };
    const Case cases[] = {
        {"the usual strip", {1452, 294}},
        // 45 % of a 720 × 450 screen with a dock, and the shadow around it.
        {"a 720 × 450 screen", {732, 207}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Panel panel(PanelMode::bottom, AppLanguage::en);
        QString paragraphs;
        for (int i = 1; i <= 9; ++i)
            paragraphs += QStringLiteral("line %1\n").arg(i);
        panel.add({panel.record(ClipKind::text, paragraphs, 10),
                   panel.record(ClipKind::image, std::nullopt, 20, std::nullopt, png({300, 200}, Qt::red)),
                   panel.record(ClipKind::color, QStringLiteral("#1e90ff"), 30)});
        panel.window->resize(c.window);
        panel.show();
        panel.view->present(1);
        panel.settle();
        const auto* delegate = qobject_cast<CardDelegate*>(panel.list()->itemDelegate());
        const QRectF viewport(panel.list()->viewport()->rect());
        for (int row = 0; row < panel.model().rowCount(); ++row) {
            const QRectF card = delegate->cardRect(panel.list()->visualRect(panel.model().index(row, 0)));
            // The strip scrolls sideways; up and down every card is whole.
            EXPECT_GE(card.top(), viewport.top()) << row;
            EXPECT_LE(card.bottom(), viewport.bottom()) << row;
            EXPECT_LE(card.height(), CardDelegate::bigCardSize.height()) << row;
        }
        // The text card shows as many whole lines as its body holds, at most six, the last with an ellipsis.
        const QRectF card = delegate->cardRect(panel.list()->visualRect(panel.model().index(0, 0)));
        const QList<CardLine> lines = delegate->bigCardLines(card, paragraphs);
        EXPECT_GE(lines.size(), 2);
        EXPECT_LE(lines.size(), CardDelegate::bigCardTextLines);
        EXPECT_TRUE(lines.last().text.endsWith(QChar(0x2026)));
        EXPECT_LE(lines.size() * QFontMetricsF(delegate->bodyFont()).lineSpacing(),
                  delegate->bigCardBody(card).height());
    }
}

namespace {

// The panel's window as the screen would show it: transparent where the panel paints nothing, at the
// screen's pixel ratio (QT_SCALE_FACTOR=2 renders it as on a HiDPI screen).
QImage render(QWidget& window)
{
    return window.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void saveSnapshot(const QImage& image, const QString& name)
{
    const QString folder = qEnvironmentVariable("NIMBREL_SNAPSHOT_DIR");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    // Over a mid-grey backdrop, as on a desktop.
    QImage shown(image.size(), QImage::Format_ARGB32_Premultiplied);
    shown.setDevicePixelRatio(image.devicePixelRatio());
    shown.fill(QColor(96, 110, 130));
    QPainter painter(&shown);
    painter.drawImage(0, 0, image);
    painter.end();
    shown.save(folder + QLatin1Char('/') + name);
}

void fillSample(Panel& panel)
{
    const QString editor = QStringLiteral("org.gnome.TextEditor");
    const QString browser = QStringLiteral("org.mozilla.firefox");
    panel.workspace.installedApplications.insert(editor, appIcon(QColor(70, 130, 220)));
    panel.workspace.installedApplications.insert(browser, appIcon(QColor(230, 120, 40)));
    panel.add({
        panel.record(ClipKind::text,
                     QStringLiteral("The quick brown fox jumps over the lazy dog. Pack my box with five dozen "
                                    "liquor jugs.\nSecond paragraph follows here, and it goes on long enough to "
                                    "need cutting off at the sixth line of the big card, which ends in an "
                                    "ellipsis because there is more text than fits."),
                     30, QStringLiteral("Text Editor"), std::nullopt, editor),
        panel.record(ClipKind::link, QStringLiteral("https://example.org/articles/2026/panel"), 120,
                     QStringLiteral("Firefox"), std::nullopt, browser),
        panel.record(ClipKind::color, QStringLiteral("#1e90ff"), 3600),
        panel.record(ClipKind::image, std::nullopt, 7200, QStringLiteral("Viewer"),
                     png({300, 200}, QColor(200, 60, 90))),
        panel.record(ClipKind::color, QStringLiteral("#12345"), 86400 * 2),
        panel.record(ClipKind::text, QStringLiteral("   "), 86400 * 9),
        panel.record(ClipKind::image, std::nullopt, 86400 * 40, std::nullopt, QByteArray("no thumbnail")),
    });
}

}  // namespace

TEST(PanelContent, RendersARoundedTranslucentPanelWithTheHighlightedCard)
{
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::right}) {
        Panel panel(mode, AppLanguage::en);
        fillSample(panel);
        panel.show();
        panel.view->present(1);
        panel.type(Qt::Key_Right);
        QTest::qWait(20);
        const QImage image = render(*panel.window);
        const qreal ratio = image.devicePixelRatio();
        saveSnapshot(image, QStringLiteral("nimbrel-panel-%1.png").arg(rawValue(mode)));

        // Outside the rounded corner the window stays see-through; inside, the panel is nearly opaque.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << rawValue(mode).toStdString();
        const QPoint inside = QPoint(panel.window->width() / 2, ClipListView::shadowMargins().top() + 4) * ratio;
        EXPECT_GT(qAlpha(image.pixel(inside)), 200);

        // The highlighted card (the second) is tinted with the accent colour; the first is not.
        const auto cardColour = [&](int row) {
            const auto* delegate = qobject_cast<CardDelegate*>(panel.list()->itemDelegate());
            const QRectF card = delegate->cardRect(panel.list()->visualRect(panel.model().index(row, 0)));
            // Near the lower right corner nothing is drawn over the card's fill.
            const QPoint blank = (card.bottomRight() - QPointF(10, 6)).toPoint();
            const QPoint inWindow = panel.list()->viewport()->mapTo(panel.window.get(), blank);
            return QColor::fromRgba(image.pixel(inWindow * ratio));
        };
        const QColor accent = panel.window->palette().color(QPalette::Highlight);
        const auto distance = [](const QColor& a, const QColor& b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
        };
        EXPECT_LT(distance(cardColour(1), accent), distance(cardColour(0), accent)) << rawValue(mode).toStdString();
    }
}

namespace {

// The left and right ends of the dark ink (text, symbols) inside a card, in the card's own coordinates.
std::pair<qreal, qreal> inkExtent(Panel& panel, int row)
{
    const QImage image = render(*panel.window);
    const qreal ratio = image.devicePixelRatio();
    const auto* delegate = qobject_cast<CardDelegate*>(panel.list()->itemDelegate());
    const QRectF card = delegate->cardRect(panel.list()->visualRect(panel.model().index(row, 0)));
    const QPointF origin = QPointF(panel.list()->viewport()->mapTo(panel.window.get(), QPoint(0, 0))) + card.topLeft();
    // Inside the rounded frame only.
    const QRect area = QRectF(origin * ratio, card.size() * ratio).toRect().adjusted(6, 6, -6, -6);
    std::optional<int> left;
    std::optional<int> right;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 110) {
                left = std::min(left.value_or(x), x);
                right = std::max(right.value_or(x), x);
            }
        }
    }
    if (!left)
        return {-1, -1};
    return {*left / ratio - origin.x(), (*right + 1) / ratio - origin.x()};
}

}  // namespace

// Hebrew and Arabic texts are laid out from the right edge of the card's text column; others from the left.
TEST(PanelContent, RightToLeftTextsEndAtTheRightOfTheCard)
{
    struct Case {
        const char* name;
        QString text;
        bool rightToLeft;
    };
    const Case cases[] = {
        {"Hebrew", QStringLiteral("שלום עולם"), true},
        {"Arabic", QStringLiteral("مرحبا بالعالم"), true},
        {"Hebrew title over an English line", QStringLiteral("שלום\nhello"), true},
        {"English", QStringLiteral("hello world"), false},
    };
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::right}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(rawValue(mode).toStdString() + " " + c.name);
            Panel panel(mode, AppLanguage::en);
            // The card looked at is the second, which is not highlighted.
            panel.add(
                {panel.record(ClipKind::text, QStringLiteral("x"), 10), panel.record(ClipKind::text, c.text, 20)});
            panel.show();
            panel.view->present(1);
            panel.settle();
            const auto* delegate = qobject_cast<CardDelegate*>(panel.list()->itemDelegate());
            const qreal cardWidth = delegate->cardRect(panel.list()->visualRect(panel.model().index(1, 0))).width();
            const auto [left, right] = inkExtent(panel, 1);
            ASSERT_GE(left, 0) << "no ink";
            // The text column ends 12 (big card) or 10 (row) inside the card; the badge and the age stay left.
            const qreal textEnd = cardWidth - (mode == PanelMode::bottom ? 12 : 10);
            if (c.rightToLeft) {
                EXPECT_GT(right, textEnd - 3);
            } else {
                EXPECT_LT(right, textEnd - 40);
            }
            EXPECT_LE(right, textEnd + 1);
        }
    }
}

// Captures while the panel is hidden cost no query; showing it again brings the list up to date.
TEST(PanelContent, NothingIsQueriedWhileThePanelIsHidden)
{
    Panel panel(PanelMode::right);
    panel.addTexts(2);
    panel.show();
    panel.view->present(1);
    panel.search()->setText(QStringLiteral("t"));
    EXPECT_EQ(panel.shown(), (QStringList{"t0", "t1"}));
    panel.window->hide();
    const ResultsModel& results = panel.view->results();
    EXPECT_FALSE(results.isActive());
    panel.add({panel.record(ClipKind::text, QStringLiteral("t new"), 0)});
    EXPECT_FALSE(results.isQuerying());
    EXPECT_EQ(results.items().size(), 2);
    panel.show();
    EXPECT_EQ(panel.shown(), (QStringList{"t new", "t0", "t1"}));
}

// A showing with nothing new to list, then a deletion: the answer to the query the deletion starts
// leaves the highlight where the deletion put it.
TEST(PanelContent, DeletingAfterAnUnchangedShowingKeepsTheHighlight)
{
    Panel panel(PanelMode::bottom);
    panel.addTexts(5);
    panel.show();
    panel.view->present(1);
    EXPECT_EQ(panel.shown().size(), 5);
    panel.window->hide();
    panel.show();
    panel.view->present(2);
    panel.type(Qt::Key_Tab);
    panel.type(Qt::Key_Down);
    panel.type(Qt::Key_Down);
    ASSERT_EQ(panel.index(), 2);
    panel.type(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(panel.shown(), (QStringList{"t0", "t1", "t3", "t4"}));
    EXPECT_EQ(panel.index(), 2);
}

namespace {

// What a panel asked of the writer through setPinned.
using PinCalls = QList<std::pair<QUuid, bool>>;

// Three text records, "t0" (newest) to "t2", the second of them pinned.
QList<ClipItem> addWithSecondPinned(Panel& panel)
{
    QList<ClipItem> items;
    for (int i = 0; i < 3; ++i)
        items.append(panel.record(ClipKind::text, QStringLiteral("t%1").arg(i), i + 1));
    items[1].pinned = true;
    return panel.add(items);
}

// The pixels of a part of the viewport, as the window shows them.
QImage viewportPart(Panel& panel, const QRectF& part)
{
    const QImage image = render(*panel.window);
    const qreal ratio = image.devicePixelRatio();
    const QPoint origin = panel.list()->viewport()->mapTo(panel.window.get(), QPoint(0, 0));
    return image.copy(QRectF(QPointF(origin) * ratio + part.topLeft() * ratio, part.size() * ratio).toAlignedRect());
}

}  // namespace

TEST(PanelPins, CtrlPPinsOrUnpinsTheHighlightedCard)
{
    struct Case {
        const char* name;
        bool searchFocused;
        int row;
        bool pinned;
    };
    const Case cases[] = {
        {"the newest card, typed in the search field", true, 0, true},
        {"a pinned card is unpinned", true, 1, false},
        {"with the list focused", false, 2, true},
    };
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::left}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(rawValue(mode).toStdString() + " " + c.name);
            Panel panel(mode);
            const QList<ClipItem> items = addWithSecondPinned(panel);
            PinCalls calls;
            panel.view->setPinner([&](const QUuid& id, bool pinned) { calls.append({id, pinned}); });
            panel.show();
            panel.view->present(1);
            panel.view->present(2);
            if (!c.searchFocused)
                panel.type(Qt::Key_Tab);
            ASSERT_EQ(panel.view->isSearchFocused(), c.searchFocused);
            for (int i = 0; i < c.row; ++i)
                panel.type(Qt::Key_Down);
            panel.type(Qt::Key_P, Qt::ControlModifier);
            ASSERT_EQ(calls.size(), 1);
            EXPECT_EQ(calls.first().first, items.at(c.row).id);
            EXPECT_EQ(calls.first().second, c.pinned);
            // A P without Ctrl is typing.
            panel.type(Qt::Key_P);
            EXPECT_EQ(calls.size(), 1);
            EXPECT_EQ(panel.search()->text(), c.searchFocused ? QStringLiteral("p") : QString());
        }
    }
    // Without the writer's pinning there is nothing to ask, and the key does nothing else.
    Panel panel(PanelMode::bottom);
    panel.addTexts(2);
    panel.show();
    panel.view->present(1);
    panel.type(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(panel.shown(), (QStringList{"t0", "t1"}));
    EXPECT_TRUE(panel.chosen.isEmpty());
}

TEST(PanelPins, ThePinControlPinsWithoutChoosingTheCard)
{
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::right}) {
        SCOPED_TRACE(rawValue(mode).toStdString());
        Panel panel(mode, AppLanguage::en);
        const QList<ClipItem> items = addWithSecondPinned(panel);
        PinCalls calls;
        panel.view->setPinner([&](const QUuid& id, bool pinned) { calls.append({id, pinned}); });
        panel.show();
        panel.view->present(1);
        panel.settle();
        const auto* delegate = qobject_cast<CardDelegate*>(panel.list()->itemDelegate());
        QWidget* viewport = panel.list()->viewport();
        const auto control = [&](int row) {
            return delegate->pinControlRect(panel.list()->visualRect(panel.model().index(row, 0)), items.at(row),
                                            row == panel.index());
        };
        // Where cards do not grow, the control shows on the card under the pointer and on no other.
        if (mode != PanelMode::bottom) {
            const QImage before = viewportPart(panel, control(2));
            const QImage pinnedBefore = viewportPart(panel, control(1));
            panel.pointerAt(panel.cardCentre(2));
            EXPECT_NE(viewportPart(panel, control(2)), before);
            EXPECT_EQ(viewportPart(panel, control(1)), pinnedBefore);
        }

        // The unpinned newest card, not highlighted after a move to the last one.
        panel.type(Qt::Key_Tab);
        panel.type(Qt::Key_Down);
        panel.type(Qt::Key_Down);
        const QPoint onControl = control(0).center().toPoint();
        panel.pointerAt(onControl);
        QHelpEvent help(QEvent::ToolTip, onControl, viewport->mapToGlobal(onControl));
        QApplication::sendEvent(viewport, &help);
        EXPECT_EQ(QToolTip::text(), QStringLiteral("Pin (Ctrl+P)"));
        QToolTip::hideText();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, onControl);
        ASSERT_EQ(calls.size(), 1);
        EXPECT_EQ(calls.first(), std::make_pair(items.at(0).id, true));
        EXPECT_TRUE(panel.chosen.isEmpty());

        // The pinned card's control unpins, and says so.
        const QPoint onPinned = control(1).center().toPoint();
        panel.pointerAt(onPinned);
        QHelpEvent pinnedHelp(QEvent::ToolTip, onPinned, viewport->mapToGlobal(onPinned));
        QApplication::sendEvent(viewport, &pinnedHelp);
        EXPECT_EQ(QToolTip::text(), QStringLiteral("Unpin (Ctrl+P)"));
        QToolTip::hideText();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, onPinned);
        ASSERT_EQ(calls.size(), 2);
        EXPECT_EQ(calls.last(), std::make_pair(items.at(1).id, false));

        // A press on the control that is let go elsewhere on the card does neither.
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, onPinned);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, panel.cardCentre(1));
        EXPECT_EQ(calls.size(), 2);
        EXPECT_TRUE(panel.chosen.isEmpty());
        // The rest of the card still chooses it.
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, panel.cardCentre(1));
        ASSERT_EQ(panel.chosen.size(), 1);
        EXPECT_EQ(panel.chosen.first().id, items.at(1).id);
        EXPECT_EQ(calls.size(), 2);
    }

    // Without the writer's pinning the card has no control: a click there chooses the card.
    Panel panel(PanelMode::right);
    const QList<ClipItem> items = addWithSecondPinned(panel);
    panel.show();
    panel.view->present(1);
    panel.settle();
    const auto* delegate = qobject_cast<CardDelegate*>(panel.list()->itemDelegate());
    const QRect cell = panel.list()->visualRect(panel.model().index(0, 0));
    EXPECT_TRUE(delegate->pinControlRect(cell, items.at(0), true).isEmpty());
    const QPoint where = delegate->pinRect(delegate->cardRect(cell), items.at(0)).center().toPoint();
    panel.pointerAt(where);
    QTest::mouseClick(panel.list()->viewport(), Qt::LeftButton, Qt::NoModifier, where);
    ASSERT_EQ(panel.chosen.size(), 1);
    EXPECT_EQ(panel.chosen.first().id, items.at(0).id);
}

TEST(PanelPins, ThePinnedChipListsThePinnedRecordsOfEveryKind)
{
    Panel panel(PanelMode::right);
    QList<ClipItem> items{
        panel.record(ClipKind::text, QStringLiteral("a"), 10),
        panel.record(ClipKind::link, QStringLiteral("https://b.example/"), 20),
        panel.record(ClipKind::image, std::nullopt, 30, std::nullopt, png({8, 8}, Qt::red)),
        panel.record(ClipKind::color, QStringLiteral("#123456"), 40),
        panel.record(ClipKind::text, QStringLiteral("d"), 50),
    };
    items[0].pinned = true;
    items[2].pinned = true;
    panel.add(items);
    panel.show();
    panel.view->present(1);

    const QList<FilterChip*>& chips = panel.view->filterChips();
    FilterChip* pinned = chips.last();
    ASSERT_EQ(pinned->filter(), ListFilter::pinned());
    QTest::mouseClick(pinned, Qt::LeftButton);
    EXPECT_EQ(panel.view->selectedFilter(), ListFilter::pinned());
    EXPECT_EQ(panel.view->results().filter(), ListFilter::pinned());
    for (FilterChip* chip : chips)
        EXPECT_EQ(chip->isChecked(), chip == pinned) << chip->text().toStdString();
    EXPECT_EQ(panel.shown(), (QStringList{"a", "<image>"}));
    EXPECT_EQ(panel.index(), 0);
    // A search looks among the pinned records only ("a" is in the link too).
    panel.search()->setText(QStringLiteral("a"));
    EXPECT_EQ(panel.shown(), QStringList{"a"});
    panel.search()->clear();

    // A kind chip takes the place of the pinned filter rather than narrowing it.
    QTest::mouseClick(chips.at(1), Qt::LeftButton);
    EXPECT_EQ(panel.view->selectedFilter(), ListFilter{ClipKind::text});
    EXPECT_FALSE(pinned->isChecked());
    EXPECT_EQ(panel.shown(), (QStringList{"a", "d"}));

    // Clicked again it stays chosen; keys act on its cards as on any others.
    QTest::mouseClick(pinned, Qt::LeftButton);
    QTest::mouseClick(pinned, Qt::LeftButton);
    EXPECT_TRUE(pinned->isChecked());
    panel.type(Qt::Key_Tab);
    panel.type(Qt::Key_Down);
    panel.type(Qt::Key_Return);
    ASSERT_EQ(panel.chosen.size(), 1);
    EXPECT_EQ(panel.chosen.first().id, items.at(2).id);

    // Every showing starts again from all kinds.
    panel.view->present(2);
    EXPECT_EQ(panel.view->selectedFilter(), ListFilter());
    EXPECT_FALSE(pinned->isChecked());
    EXPECT_EQ(panel.shown().size(), 5);

    // With nothing pinned, the empty list says so.
    Panel empty(PanelMode::bottom);
    empty.addTexts(2);
    empty.show();
    empty.view->present(1);
    empty.view->selectFilter(ListFilter::pinned());
    EXPECT_EQ(empty.model().rowCount(), 0);
    EXPECT_EQ(empty.list()->emptyText(), QStringLiteral("暂无固定的条目"));
}

// The same card drawn pinned and not differs only at the pin's place, where the pinned colour shows; the
// pin keeps clear of the source icon.
TEST(PanelPins, APinnedCardCarriesThePinInEveryPlacement)
{
    struct Case {
        const char* name;
        CardLayout layout;
        QSize cell;
        bool sourceIcon;
    };
    const Case cases[] = {
        {"big card", CardLayout::bigCard, {248, 192}, false},
        {"big card with its source icon", CardLayout::bigCard, {248, 192}, true},
        {"row", CardLayout::row, {340, 80}, false},
        {"row with its source icon", CardLayout::row, {340, 80}, true},
    };
    const QColor iconColour(0, 200, 0);
    const QColor pinColour = pinnedStyle().tint;
    const auto near = [](QRgb pixel, const QColor& colour) {
        return qAlpha(pixel) > 128 && std::abs(qRed(pixel) - colour.red()) < 40 &&
               std::abs(qGreen(pixel) - colour.green()) < 40 && std::abs(qBlue(pixel) - colour.blue()) < 40;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Panel panel(PanelMode::right, AppLanguage::en);
        const QString folder = QStringLiteral("org.example.Editor");
        panel.workspace.installedApplications.insert(folder, appIcon(iconColour));
        CardDelegate delegate(c.layout, panel.settings, panel.icons, panel.clock);
        ClipItem item = panel.record(ClipKind::text, QStringLiteral("hello"), 10, QStringLiteral("Editor"),
                                     std::nullopt, c.sourceIcon ? std::optional(folder) : std::nullopt);
        const auto draw = [&](bool pinned, bool pinnable, bool highlighted) {
            item.pinned = pinned;
            QStandardItemModel model(1, 1);
            model.setData(model.index(0, 0), QVariant::fromValue(item), ResultsModel::ItemRole);
            model.setData(model.index(0, 0), highlighted, ResultsModel::HighlightedRole);
            delegate.setPinnable(pinnable);
            QImage image(c.cell, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            QStyleOptionViewItem option;
            option.rect = QRect(QPoint(0, 0), c.cell);
            option.palette = panel.window->palette();
            delegate.paint(&painter, option, model.index(0, 0));
            painter.end();
            return image;
        };
        const QRectF card = delegate.cardRect(QRect(QPoint(0, 0), c.cell));
        const QRect pin = delegate.pinRect(card, item).toAlignedRect();
        EXPECT_TRUE(card.contains(pin));

        const QImage plain = draw(false, false, false);
        const QImage marked = draw(true, false, false);
        int changedElsewhere = 0;
        int pinPixels = 0;
        int pinPixelsUnmarked = 0;
        int iconPixelsAtThePin = 0;
        int iconPixels = 0;
        for (int y = 0; y < plain.height(); ++y) {
            for (int x = 0; x < plain.width(); ++x) {
                const bool atPin = pin.contains(x, y);
                if (!atPin && plain.pixel(x, y) != marked.pixel(x, y))
                    ++changedElsewhere;
                if (near(plain.pixel(x, y), iconColour))
                    (atPin ? iconPixelsAtThePin : iconPixels) += 1;
                if (atPin) {
                    pinPixels += near(marked.pixel(x, y), pinColour) ? 1 : 0;
                    pinPixelsUnmarked += near(plain.pixel(x, y), pinColour) ? 1 : 0;
                }
            }
        }
        EXPECT_EQ(changedElsewhere, 0);
        EXPECT_GE(pinPixels, 12);
        EXPECT_EQ(pinPixelsUnmarked, 0);
        EXPECT_EQ(iconPixelsAtThePin, 0);
        EXPECT_EQ(iconPixels > 0, c.sourceIcon);

        // Where records can be pinned, the highlighted card shows the control at the same place.
        const QImage highlighted = draw(false, false, true);
        const QImage withControl = draw(false, true, true);
        EXPECT_NE(highlighted.copy(pin), withControl.copy(pin));
        EXPECT_EQ(highlighted.copy(0, 0, c.cell.width(), pin.top()), withControl.copy(0, 0, c.cell.width(), pin.top()));
    }
}

TEST(PanelUndo, CtrlZBringsBackTheRecordDeletedInThisShowing)
{
    for (const PanelMode mode : {PanelMode::bottom, PanelMode::right}) {
        SCOPED_TRACE(rawValue(mode).toStdString());
        Panel panel(mode);
        QList<ClipItem> items;
        for (int i = 0; i < 4; ++i)
            items.append(panel.record(ClipKind::text, QStringLiteral("t%1").arg(i), i + 1));
        panel.add(items);
        // The writer: it keeps the record it deleted last and puts it back when asked.
        std::optional<ClipItem> kept;
        int undos = 0;
        panel.view->results().setRemover([&](const QUuid& id) {
            for (const ClipItem& item : std::as_const(items))
                if (item.id == id)
                    kept = item;
            ASSERT_TRUE(panel.store->remove(id).ok());
            ASSERT_TRUE(panel.store->save().ok());
        });
        panel.view->results().setUndoer([&] {
            ++undos;
            if (kept) {
                ASSERT_TRUE(panel.store->insert(*std::exchange(kept, std::nullopt)).ok());
                ASSERT_TRUE(panel.store->save().ok());
            }
        });
        panel.show();
        panel.view->present(1);
        panel.view->present(2);

        // Nothing deleted yet: Ctrl+Z is the search field's undo of the typing.
        QTest::keyClicks(panel.search(), QStringLiteral("t"));
        panel.type(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(undos, 0);
        EXPECT_EQ(panel.search()->text(), QString());

        panel.type(Qt::Key_Tab);
        panel.type(Qt::Key_Down);
        panel.type(Qt::Key_Backspace, Qt::ControlModifier);
        EXPECT_EQ(panel.shown(), (QStringList{"t0", "t2", "t3"}));
        panel.type(Qt::Key_Up);
        panel.type(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(undos, 1);
        // Back when the store says so, in its place and highlighted.
        EXPECT_EQ(panel.shown(), (QStringList{"t0", "t1", "t2", "t3"}));
        EXPECT_EQ(panel.index(), 1);
        // One step back only.
        panel.type(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(undos, 1);

        // From the search field too, after typing.
        panel.type(Qt::Key_Backspace, Qt::ControlModifier);
        panel.search()->setFocus();
        QTest::keyClicks(panel.search(), QStringLiteral("t"));
        ASSERT_TRUE(panel.view->isSearchFocused());
        panel.type(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(undos, 2);
        EXPECT_EQ(panel.shown(), (QStringList{"t0", "t1", "t2", "t3"}));

        // A record deleted in an earlier showing is not brought back.
        panel.type(Qt::Key_Tab);
        panel.type(Qt::Key_Backspace, Qt::ControlModifier);
        panel.window->hide();
        panel.show();
        panel.view->present(3);
        panel.type(Qt::Key_Tab);
        panel.type(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(undos, 2);
        EXPECT_EQ(panel.model().rowCount(), 3);
    }
}

TEST(PanelCoordinator, HandsPinningUndoAndForgettingToTheWriter)
{
    Panel fixture(PanelMode::bottom);
    fixture.settings.setPanelMode(PanelMode::bottom);
    QList<ClipItem> items;
    for (int i = 0; i < 3; ++i)
        items.append(fixture.record(ClipKind::text, QStringLiteral("t%1").arg(i), i + 1));
    fixture.add(items);
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeKeyboard keyboard;
    fake::FakeClickMonitor clicks;
    PasteBack pasteBack(clipboardWriter, keyboard, fixture.workspace, fixture.console, [] { return QVariant(); });
    PinCalls pins;
    int undos = 0;
    int forgets = 0;
    auto coordinator = std::make_unique<PanelCoordinator>(PanelServices{*fixture.store,
                                                                        fixture.settings,
                                                                        fixture.thumbnails,
                                                                        fixture.icons,
                                                                        fixture.clock,
                                                                        pasteBack,
                                                                        clicks,
                                                                        fixture.workspace,
                                                                        {},
                                                                        {},
                                                                        nullptr,
                                                                        [&](const QUuid& id, bool pinned) {
                                                                            pins.append({id, pinned});
                                                                        },
                                                                        [&] { ++undos; },
                                                                        [&] { ++forgets; }});
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        auto* content = static_cast<ClipListView*>(coordinator->hostingView());
        QElapsedTimer waited;
        waited.start();
        while (content->results().isQuerying() && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QWidget* target = coordinator->panel()->focusWidget();
        QTest::keyClick(target ? target : coordinator->panel(), key, modifiers);
    };

    coordinator->show();
    ASSERT_TRUE(coordinator->isVisible());
    press(Qt::Key_P, Qt::ControlModifier);
    ASSERT_EQ(pins.size(), 1);
    EXPECT_EQ(pins.first(), std::make_pair(items.at(0).id, true));
    press(Qt::Key_Backspace, Qt::ControlModifier);
    press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(undos, 1);
    EXPECT_EQ(forgets, 0);

    // Every way of hiding the panel lets go of the kept record.
    coordinator->hide();
    EXPECT_EQ(forgets, 1);
    coordinator->hide();
    EXPECT_EQ(forgets, 1) << "only a shown panel hides";
    coordinator->show();
    coordinator->panel()->hide();  // as the window manager may
    EXPECT_EQ(forgets, 2);
    coordinator->show();
    coordinator->select(items.at(1));
    EXPECT_EQ(forgets, 3);
    coordinator->toggle();
    coordinator->toggle();
    EXPECT_EQ(forgets, 4);
    // A placement change builds a new panel; the old one goes away hidden.
    coordinator->show();
    fixture.settings.setPanelMode(PanelMode::left);
    coordinator->show();
    EXPECT_EQ(forgets, 5);
    // Going away with the shell, the coordinator tells services that may be gone already nothing.
    coordinator.reset();
    EXPECT_EQ(forgets, 5);
}
