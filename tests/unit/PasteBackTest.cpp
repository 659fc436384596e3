#include "history/ClipboardCapture.h"
#include "panel/PasteBack.h"
#include "support/TestEnvironment.h"
#include "support/fake/FakeClipboardWriter.h"
#include "support/fake/FakeKeyboard.h"
#include "support/fake/FakePlatform.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace Qt::StringLiterals;
using Representations = QList<std::pair<QString, QByteArray>>;
using Selections = ClipboardWriter::Selections;
using App = RunningApplication;
using M = KeyChord::Modifier;

namespace {

ClipItem record(ClipKind kind, std::optional<QString> text, std::optional<QByteArray> image = std::nullopt)
{
    return ClipItem::make(kind, std::move(text), std::move(image), {}, {}, {}, QDateTime::currentDateTimeUtc());
}
ClipItem text(const char* text)
{
    return record(ClipKind::text, QString::fromUtf8(text));
}
std::pair<QString, QByteArray> rep(const char* type, const QByteArray& bytes)
{
    return {QString::fromLatin1(type), bytes};
}

// Checked key by key against X keysyms in KeyChord's test below.
const QList<SyntheticKey> ctrlV = KeyChord{M::control, 0x76}.transitions();
const QList<SyntheticKey> ctrlShiftV = KeyChord{M::control | M::shift, 0x76}.transitions();
const QList<SyntheticKey> shiftInsert = KeyChord{M::shift, 0xff63}.transitions();

// Nothing in front and no paste keys set unless a test says otherwise.
struct Paste {
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeKeyboard keyboard;
    fake::FakeWorkspace workspace;
    fake::RecordingConsole console;
    QVariant keys;
    PasteBack pasteBack{clipboardWriter, keyboard, workspace, console, [this] { return keys; }};
    QSignalSpy posted{&pasteBack, &PasteBack::keystrokePosted};
};

}  // namespace

// Each kind is written with the marker; re-owning an empty clipboard for an application that exits is too,
// and nothing is typed.
TEST(PasteBack, EachKindIsWrittenWithTheMarker)
{
    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(Qt::green);
    const QByteArray png = test::encoded(image);
    const auto marker = rep("org.nimbrel.internal", QByteArray(1, '\x01'));
    const auto html = rep("text/html", "<b>two</b> words"), rtf = rep("text/rtf", "{\\rtf1 {\\b two} words}");
    ClipItem formatted = text("two words");
    formatted.formats = {html, rtf};
    ClipItem formattedLink = record(ClipKind::link, u"https://example.org/"_s);
    formattedLink.formats = {rep("text/html", "<a href=\"https://example.org/\">example</a>")};
    // clang-format off
    const std::tuple<const char*, ClipItem, Representations> cases[] = {
        {"text", text(" two words \n"), {rep("text/plain", " two words \n"), marker}},
        {"formatted text keeps its forms, text first", formatted, {rep("text/plain", "two words"), html, rtf, marker}},
        {"colour is plain text", record(ClipKind::color, u"#1e90ff"_s), {rep("text/plain", "#1e90ff"), marker}},
        // An address list makes text fields insert a file or a section instead of the address.
        {"link is text only", record(ClipKind::link, u"https://example.org/a?b=%C3%A9"_s),
         {rep("text/plain", "https://example.org/a?b=%C3%A9"), marker}},
        {"link copied with its markup", formattedLink, {rep("text/plain", "https://example.org/"), formattedLink.formats[0], marker}},
        {"text without content", record(ClipKind::text, std::nullopt), {marker}},
        {"image as its PNG", record(ClipKind::image, std::nullopt, png), {rep("image/png", png), marker}},
        {"corrupt image", record(ClipKind::image, std::nullopt, QByteArray("not an image")), {marker}},
    };
    // clang-format on
    for (const auto& [name, item, written] : cases) {
        SCOPED_TRACE(name);
        Paste paste;
        paste.pasteBack.writeToClipboard(item);
        EXPECT_EQ(paste.clipboardWriter.writes, QList<Representations>{written});
    }
    const QList<Representations> kept{{rep("text/plain", "kept"), marker}};
    for (const bool taken : {false, true}) {
        SCOPED_TRACE(taken ? "another application took the clipboard meanwhile" : "the clipboard is empty");
        Paste paste;
        paste.clipboardWriter.owned = taken;
        paste.pasteBack.keepAlive(text("kept"));
        EXPECT_EQ(paste.clipboardWriter.writes, taken ? QList<Representations>() : kept);
        EXPECT_TRUE(paste.keyboard.posted.isEmpty()) << "nothing is typed";
    }
}

// The keystroke waits for the application to see the new contents, and for the user to let go of the
// shortcut's modifiers, but not forever.
TEST(PasteBack, TypesTheKeyAfterTheDelayOnceModifiersAreReleased)
{
    const std::tuple<const char*, int, int> cases[] = {
        {"released after a few checks", 5, PasteBack::keystrokeDelayMs + 4 * PasteBack::modifierPollMs},
        {"held for good: gives up", 1000000, PasteBack::keystrokeDelayMs + PasteBack::modifierWaitLimitMs},
    };
    for (const auto& [name, heldForChecks, minimumMs] : cases) {
        SCOPED_TRACE(name);
        Paste paste;
        paste.keyboard.heldForChecks = heldForChecks;
        QElapsedTimer clock;
        clock.start();
        paste.pasteBack.paste(text("x"));
        EXPECT_TRUE(paste.keyboard.posted.isEmpty());
        ASSERT_TRUE(paste.posted.wait(3000));
        EXPECT_GE(clock.elapsed(), minimumMs);
        EXPECT_EQ(paste.keyboard.posted, ctrlV);
    }
}

TEST(PasteBack, WhereThePanelHadTheKeyboardTheKeyFitsTheApplicationItGoesBackTo)
{
    // On Wayland the panel itself is in front when the record is chosen; the keyboard goes back to the
    // application behind only once it has hidden.
    Paste paste;
    paste.workspace.frontmost = App{u"org.nimbrel.Nimbrel"_s, u"Nimbrel"_s, {}, false};
    QSignalSpy byHand(&paste.pasteBack, &PasteBack::leftForManualPaste);
    paste.pasteBack.paste(text("x"));
    paste.workspace.frontmost = App{u"debian-xterm"_s, u"XTerm"_s, u"XTerm"_s, true};
    ASSERT_TRUE(paste.posted.wait(2000));
    EXPECT_EQ(paste.keyboard.posted, shiftInsert);
    EXPECT_EQ(paste.clipboardWriter.writtenSelections,
              QList<Selections>({Selections::clipboard, Selections::clipboardAndPrimary}))
        << "xterm pastes the primary selection, so the record goes there too once xterm is known";

    // Nothing can type the key: the record stays on the clipboard to paste by hand, and the user is told.
    paste.keyboard.available = false;
    paste.pasteBack.paste(text("by hand"));
    EXPECT_EQ(byHand.size(), 1);
    EXPECT_EQ(paste.clipboardWriter.data(u"text/plain"_s), QByteArray("by hand"));
    EXPECT_FALSE(paste.posted.wait(PasteBack::keystrokeDelayMs + 200));
    EXPECT_EQ(paste.keyboard.posted, shiftInsert);
}

TEST(PasteBack, ThePasteKeyFitsTheApplicationInFront)
{
    const App editor{u"org.gnome.TextEditor"_s, u"Text Editor"_s, u"Gnome-text-editor"_s};
    const App console{u"org.gnome.Console"_s, u"Console"_s, u"kgx"_s, true};
    const App kitty{u"org.example.Term"_s, {}, u"Kitty"_s}, xterm{u"debian-xterm"_s, u"XTerm"_s, u"XTerm"_s, true};
    const auto keys = [](std::initializer_list<std::pair<QString, QVariant>> entries) {
        QVariantMap map;
        for (const auto& [application, key] : entries)
            map.insert(application, key);
        return QVariant(map);
    };
    const Selections clipboard = Selections::clipboard, primaryToo = Selections::clipboardAndPrimary;
    // name, application in front, paste keys set, keys typed, selections written, a part of the one line
    // reported (if any)
    // clang-format off
    const std::tuple<const char*, std::optional<App>, QVariant, QList<SyntheticKey>, Selections, const char*> cases[] = {
        {"nothing in front", std::nullopt, {}, ctrlV, clipboard, ""},
        {"an ordinary application", editor, {}, ctrlV, clipboard, ""},
        {"a terminal by its desktop entry", console, {}, ctrlShiftV, clipboard, ""},
        {"a terminal by its window class, in any case", kitty, {}, ctrlShiftV, clipboard, ""},
        {"xterm pastes the primary selection", xterm, {}, shiftInsert, primaryToo, ""},
        {"set by desktop id", editor, keys({{"org.gnome.TextEditor", "Ctrl+Shift+V"}}), ctrlShiftV, clipboard, ""},
        {"set by window class, in any case", xterm, keys({{"xterm", "ctrl+shift+v"}}), ctrlShiftV, clipboard, ""},
        {"Shift+Insert set: the primary selection too", kitty, keys({{"kitty", "Shift+Insert"}}), shiftInsert, primaryToo, ""},
        {"set for another application", editor, keys({{"kitty", "Ctrl+V"}, {"org.gnome.Console", "Ctrl+V"}}), ctrlV, clipboard, ""},
        {"a key that is no key", kitty, keys({{"kitty", "Ctrl+Banana"}}), ctrlShiftV, clipboard, "\"Ctrl+Banana\" for \"kitty\""},
        {"two keys", kitty, keys({{"kitty", "Ctrl+V, Ctrl+V"}}), ctrlShiftV, clipboard, "\"Ctrl+V, Ctrl+V\" for \"kitty\""},
        {"a bad entry leaves the good ones", kitty, keys({{"kitty", "Ctrl+V"}, {"xterm", ""}}), ctrlV, clipboard, "\"\" for \"xterm\""},
        {"not an object", kitty, u"Ctrl+V"_s, ctrlShiftV, clipboard, "Nimbrel.pasteKeys is not an object"},
    };
    // clang-format on
    for (const auto& [name, front, pasteKeys, typed, written, reported] : cases) {
        SCOPED_TRACE(name);
        Paste paste;
        paste.workspace.frontmost = front;
        paste.keys = pasteKeys;
        // Twice: a setting that cannot be used is reported once, not at every paste.
        for (int i = 0; i < 2; ++i) {
            paste.pasteBack.paste(text("x"));
            ASSERT_TRUE(paste.posted.wait(2000));
        }
        EXPECT_EQ(paste.keyboard.posted, typed + typed);
        EXPECT_EQ(paste.clipboardWriter.writtenSelections, QList<Selections>({written, written}));
        ASSERT_EQ(paste.console.lines.size(), *reported ? 1 : 0) << paste.console.lines.join(u'\n').toStdString();
        EXPECT_TRUE(!*reported || paste.console.lines.value(0).contains(QString::fromUtf8(reported)));
    }
}

TEST(KeyChord, PortableTextNamesAChordOfTypableKeys)
{
    const std::pair<const char*, std::optional<KeyChord>> cases[] = {
        {"shift+insert", KeyChord{M::shift, 0xff63}},
        {"Meta+Alt+F12", KeyChord{M::super | M::alt, 0xffc9}},
        {"F13", {}}};
    for (const auto& [text, chord] : cases)
        EXPECT_EQ(KeyChord::fromText(QString::fromLatin1(text)), chord) << text;
    constexpr quint32 controlL = 0xffe3, shiftL = 0xffe1, altL = 0xffe9, superL = 0xffeb;
    const QList<SyntheticKey> all{{controlL, true}, {shiftL, true},  {altL, true},  {superL, true},  {0x61, true},
                                  {0x61, false},    {superL, false}, {altL, false}, {shiftL, false}, {controlL, false}};
    EXPECT_EQ(KeyChord::fromText(u"Meta+Alt+Shift+Ctrl+A"_s)->transitions(), all)
        << "modifiers go down in one order and come up in the other";
}
