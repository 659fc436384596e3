#include "history/ClipboardCapture.h"
#include "panel/PasteBack.h"
#include "support/fake/FakeKeyboard.h"
#include "support/fake/FakeClipboardWriter.h"
#include "support/fake/FakePlatform.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace nimbrel;
using Representations = QList<std::pair<QString, QByteArray>>;
using Selections = ClipboardWriter::Selections;

namespace {

ClipItem record(ClipKind kind, std::optional<QString> text, std::optional<QByteArray> image = std::nullopt)
{
    return ClipItem::make(kind, std::move(text), std::move(image), std::nullopt, std::nullopt, std::nullopt,
                          QDateTime::currentDateTimeUtc());
}

QByteArray png()
{
    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

const std::pair<QString, QByteArray> marker{QStringLiteral("org.nimbrel.internal"), QByteArray(1, '\x01')};
std::pair<QString, QByteArray> plain(const char* text)
{
    return {QStringLiteral("text/plain"), QByteArray(text)};
}

// Nothing in front and no paste keys set: Ctrl+V.
const fake::FakeWorkspace nothingInFront;
QVariant noPasteKeys()
{
    return {};
}

// X keysyms.
constexpr quint32 controlL = 0xffe3, shiftL = 0xffe1, altL = 0xffe9, superL = 0xffeb, v = 0x76, insert = 0xff63;
const QList<SyntheticKey> ctrlV{{controlL, true}, {v, true}, {v, false}, {controlL, false}};
const QList<SyntheticKey> ctrlShiftV{{controlL, true}, {shiftL, true},  {v, true},
                                     {v, false},       {shiftL, false}, {controlL, false}};
const QList<SyntheticKey> shiftInsert{{shiftL, true}, {insert, true}, {insert, false}, {shiftL, false}};

}  // namespace

TEST(PasteBack, EachKindIsWrittenWithTheMarker)
{
    const std::pair<QString, QByteArray> html{QStringLiteral("text/html"), "<b>two</b> words"};
    const std::pair<QString, QByteArray> rtf{QStringLiteral("text/rtf"), "{\\rtf1 {\\b two} words}"};
    ClipItem formatted = record(ClipKind::text, QStringLiteral("two words"));
    formatted.formats = {html, rtf};
    ClipItem formattedLink = record(ClipKind::link, QStringLiteral("https://example.org/"));
    formattedLink.formats = {{QStringLiteral("text/html"), "<a href=\"https://example.org/\">example</a>"}};
    struct Case {
        const char* name;
        ClipItem item;
        Representations written;
    };
    const Case cases[] = {
        {"text", record(ClipKind::text, QStringLiteral(" two words \n")), {plain(" two words \n"), marker}},
        {"formatted text keeps its forms, text first", formatted, {plain("two words"), html, rtf, marker}},
        {"colour is plain text", record(ClipKind::color, QStringLiteral("#1e90ff")), {plain("#1e90ff"), marker}},
        // An address list makes text fields insert a file or a section instead of the address.
        {"link is text only",
         record(ClipKind::link, QStringLiteral("https://example.org/a?b=%C3%A9")),
         {plain("https://example.org/a?b=%C3%A9"), marker}},
        {"link copied with its markup",
         formattedLink,
         {plain("https://example.org/"), formattedLink.formats[0], marker}},
        {"text without content", record(ClipKind::text, std::nullopt), {marker}},
        {"image as its PNG",
         record(ClipKind::image, std::nullopt, png()),
         {{QStringLiteral("image/png"), png()}, marker}},
        {"corrupt image", record(ClipKind::image, std::nullopt, QByteArray("not an image")), {marker}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeClipboardWriter clipboardWriter;
        fake::FakeKeyboard keyboard;
        fake::RecordingConsole console;
        PasteBack pasteBack(clipboardWriter, keyboard, nothingInFront, console, noPasteKeys);
        pasteBack.writeToClipboard(c.item);
        ASSERT_EQ(clipboardWriter.writes.size(), 1);
        EXPECT_EQ(clipboardWriter.writes.first(), c.written);
    }
}

TEST(PasteBack, KeepsTheClipboardAliveOnlyWhenNobodyHoldsIt)
{
    for (const bool taken : {false, true}) {
        SCOPED_TRACE(taken ? "another application took the clipboard meanwhile" : "the clipboard is empty");
        fake::FakeClipboardWriter clipboardWriter;
        clipboardWriter.owned = taken;
        fake::FakeKeyboard keyboard;
        fake::RecordingConsole console;
        PasteBack pasteBack(clipboardWriter, keyboard, nothingInFront, console, noPasteKeys);
        pasteBack.keepAlive(record(ClipKind::text, QStringLiteral("kept")));
        EXPECT_EQ(clipboardWriter.writes.size(), taken ? 0 : 1);
        EXPECT_TRUE(keyboard.posted.isEmpty()) << "nothing is typed";
        if (!taken)
            EXPECT_TRUE(clipboardWriter.types().contains(ownMarkerType)) << "re-owning must not create a record";
    }
}

TEST(PasteBack, ChoosingARecordCreatesNoNewRecord)
{
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeKeyboard keyboard;
    fake::RecordingConsole console;
    PasteBack pasteBack(clipboardWriter, keyboard, nothingInFront, console, noPasteKeys);
    pasteBack.writeToClipboard(record(ClipKind::text, QStringLiteral("again")));
    EXPECT_TRUE(clipboardWriter.types().contains(ownMarkerType));
}

TEST(PasteBack, TypesExactlyCtrlVAfterTheDelay)
{
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeKeyboard keyboard;
    fake::RecordingConsole console;
    PasteBack pasteBack(clipboardWriter, keyboard, nothingInFront, console, noPasteKeys);
    QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
    QElapsedTimer clock;
    clock.start();
    pasteBack.paste(record(ClipKind::text, QStringLiteral("x")));
    EXPECT_TRUE(keyboard.posted.isEmpty()) << "the keystroke waits for the application to see the new contents";
    ASSERT_TRUE(posted.wait(2000));
    EXPECT_GE(clock.elapsed(), PasteBack::keystrokeDelayMs);
    EXPECT_EQ(keyboard.posted, ctrlV);
}

TEST(PasteBack, WhereThePanelHadTheKeyboardTheKeyFitsTheApplicationItGoesBackTo)
{
    // On Wayland the panel itself is in front when the record is chosen; the keyboard goes back to the
    // application behind only once it has hidden.
    const RunningApplication nimbrel{QStringLiteral("org.nimbrel.Nimbrel"), QStringLiteral("Nimbrel"), std::nullopt,
                                     false};
    const RunningApplication xterm{QStringLiteral("debian-xterm"), QStringLiteral("XTerm"), QStringLiteral("XTerm"),
                                   true};
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeKeyboard keyboard;
    fake::FakeWorkspace workspace;
    workspace.frontmost = nimbrel;
    fake::RecordingConsole console;
    PasteBack pasteBack(clipboardWriter, keyboard, workspace, console, noPasteKeys);
    QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
    QSignalSpy byHand(&pasteBack, &PasteBack::leftForManualPaste);
    pasteBack.paste(record(ClipKind::text, QStringLiteral("x")));
    workspace.frontmost = xterm;
    ASSERT_TRUE(posted.wait(2000));
    EXPECT_EQ(keyboard.posted, shiftInsert);
    EXPECT_EQ(clipboardWriter.writtenSelections, QList<Selections>({Selections::clipboard, Selections::clipboardAndPrimary}))
        << "xterm pastes the primary selection, so the record goes there too once xterm is known";

    // Nothing can type the key: the record stays on the clipboard, and the user is to be told.
    keyboard.available = false;
    pasteBack.paste(record(ClipKind::text, QStringLiteral("y")));
    EXPECT_EQ(byHand.size(), 1);
    EXPECT_EQ(keyboard.posted, shiftInsert);
}

TEST(PasteBack, ThePasteKeyFitsTheApplicationInFront)
{
    const RunningApplication editor{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"),
                                    QStringLiteral("Gnome-text-editor"), false};
    const RunningApplication console{QStringLiteral("org.gnome.Console"), QStringLiteral("Console"),
                                     QStringLiteral("kgx"), true};
    const RunningApplication kitty{QStringLiteral("kitty"), std::nullopt, QStringLiteral("kitty"), false};
    const RunningApplication alacritty{QStringLiteral("Alacritty"), std::nullopt, QStringLiteral("Alacritty"), false};
    const RunningApplication xterm{QStringLiteral("debian-xterm"), QStringLiteral("XTerm"), QStringLiteral("XTerm"),
                                   true};
    const RunningApplication uxterm{QStringLiteral("UXTerm"), std::nullopt, QStringLiteral("UXTerm"), false};
    const auto keys = [](std::initializer_list<std::pair<QString, QVariant>> entries) {
        QVariantMap map;
        for (const auto& [application, key] : entries)
            map.insert(application, key);
        return QVariant(map);
    };
    struct Case {
        const char* name;
        std::optional<RunningApplication> front;
        QVariant pasteKeys;
        QList<SyntheticKey> typed;
        Selections written;
        QString reported;  // a part of the one line reported, if any
    };
    const Case cases[] = {
        {"nothing in front", std::nullopt, {}, ctrlV, Selections::clipboard, {}},
        {"an ordinary application", editor, {}, ctrlV, Selections::clipboard, {}},
        {"a terminal by its desktop entry", console, {}, ctrlShiftV, Selections::clipboard, {}},
        {"a terminal by its window class", kitty, {}, ctrlShiftV, Selections::clipboard, {}},
        {"a terminal by its window class, in any case", alacritty, {}, ctrlShiftV, Selections::clipboard, {}},
        {"xterm pastes the primary selection", xterm, {}, shiftInsert, Selections::clipboardAndPrimary, {}},
        {"uxterm too", uxterm, {}, shiftInsert, Selections::clipboardAndPrimary, {}},
        {"set by desktop id",
         editor,
         keys({{"org.gnome.TextEditor", "Ctrl+Shift+V"}}),
         ctrlShiftV,
         Selections::clipboard,
         {}},
        {"set by window class, in any case",
         xterm,
         keys({{"xterm", "ctrl+shift+v"}}),
         ctrlShiftV,
         Selections::clipboard,
         {}},
        {"Shift+Insert set: the primary selection too",
         kitty,
         keys({{"kitty", "Shift+Insert"}}),
         shiftInsert,
         Selections::clipboardAndPrimary,
         {}},
        {"set for another application",
         editor,
         keys({{"kitty", "Ctrl+V"}, {"org.gnome.Console", "Ctrl+V"}}),
         ctrlV,
         Selections::clipboard,
         {}},
        {"a key that is no key", kitty, keys({{"kitty", "Ctrl+Banana"}}), ctrlShiftV, Selections::clipboard,
         QStringLiteral("\"Ctrl+Banana\" for \"kitty\"")},
        {"two keys", kitty, keys({{"kitty", "Ctrl+V, Ctrl+V"}}), ctrlShiftV, Selections::clipboard,
         QStringLiteral("\"Ctrl+V, Ctrl+V\" for \"kitty\"")},
        {"a number", editor, keys({{"org.gnome.TextEditor", 5}}), ctrlV, Selections::clipboard,
         QStringLiteral("(not a text) for \"org.gnome.TextEditor\"")},
        {"a bad entry leaves the good ones", kitty, keys({{"kitty", "Ctrl+V"}, {"xterm", ""}}), ctrlV,
         Selections::clipboard, QStringLiteral("\"\" for \"xterm\"")},
        {"not an object", kitty, QStringLiteral("Ctrl+V"), ctrlShiftV, Selections::clipboard,
         QStringLiteral("Nimbrel.pasteKeys is not an object")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeClipboardWriter clipboardWriter;
        fake::FakeKeyboard keyboard;
        fake::FakeWorkspace workspace;
        workspace.frontmost = c.front;
        fake::RecordingConsole diagnostics;
        PasteBack pasteBack(clipboardWriter, keyboard, workspace, diagnostics, [&c] { return c.pasteKeys; });
        QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
        // Twice: a setting that cannot be used is reported once, not at every paste.
        for (int paste = 1; paste <= 2; ++paste) {
            pasteBack.paste(record(ClipKind::text, QStringLiteral("x")));
            ASSERT_TRUE(posted.wait(2000));
        }
        EXPECT_EQ(keyboard.posted, c.typed + c.typed);
        EXPECT_EQ(clipboardWriter.writtenSelections, QList<Selections>({c.written, c.written}));
        if (c.reported.isEmpty()) {
            EXPECT_EQ(diagnostics.lines, QStringList());
        } else {
            ASSERT_EQ(diagnostics.lines.size(), 1) << diagnostics.lines.join(u'\n').toStdString();
            EXPECT_TRUE(diagnostics.lines.first().contains(c.reported)) << diagnostics.lines.first().toStdString();
        }
    }
}

TEST(KeyChord, PortableTextNamesAChordOfTypableKeys)
{
    using M = KeyChord::Modifier;
    struct Case {
        const char* text;
        std::optional<KeyChord> chord;
    };
    const Case cases[] = {
        {"Ctrl+Shift+V", KeyChord{M::control | M::shift, 0x76}},
        {"shift+insert", KeyChord{M::shift, 0xff63}},
        {"Meta+Alt+F12", KeyChord{M::super | M::alt, 0xffc9}},
        {"F1", KeyChord{0, 0xffbe}},
        {"Ctrl+Return", KeyChord{M::control, 0xff0d}},
        {"Alt+Tab", KeyChord{M::alt, 0xff09}},
        {"Ctrl+0", KeyChord{M::control, 0x30}},
        {"Ctrl+9", KeyChord{M::control, 0x39}},
        {"Ctrl+A", KeyChord{M::control, 0x61}},
        {"Ctrl+Z", KeyChord{M::control, 0x7a}},
        {"Ctrl+Space", KeyChord{M::control, 0x20}},
        {"", std::nullopt},
        {"Ctrl+Banana", std::nullopt},
        {"Ctrl+V, Ctrl+V", std::nullopt},
        {"Ctrl+Home", std::nullopt},
        {"F13", std::nullopt},
        {"Num+5", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(KeyChord::fromText(QString::fromLatin1(c.text)), c.chord);
    }
    const QList<SyntheticKey> all{{controlL, true}, {shiftL, true},  {altL, true},  {superL, true},  {0x61, true},
                                  {0x61, false},    {superL, false}, {altL, false}, {shiftL, false}, {controlL, false}};
    EXPECT_EQ(KeyChord::fromText(QStringLiteral("Meta+Alt+Shift+Ctrl+A"))->transitions(), all)
        << "modifiers go down in one order and come up in the other";
}

TEST(PasteBack, WaitsForHeldModifiersButNotForever)
{
    struct Case {
        const char* name;
        int heldForChecks;
        int minimumMs;
    };
    const Case cases[] = {
        {"released after a few checks", 5, PasteBack::keystrokeDelayMs + 4 * PasteBack::modifierPollMs},
        {"held for good: gives up after a second", 1000000,
         PasteBack::keystrokeDelayMs + PasteBack::modifierWaitLimitMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeClipboardWriter clipboardWriter;
        fake::FakeKeyboard keyboard;
        keyboard.heldForChecks = c.heldForChecks;
        fake::RecordingConsole console;
        PasteBack pasteBack(clipboardWriter, keyboard, nothingInFront, console, noPasteKeys);
        QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
        QElapsedTimer clock;
        clock.start();
        pasteBack.paste(record(ClipKind::text, QStringLiteral("x")));
        ASSERT_TRUE(posted.wait(3000));
        EXPECT_GE(clock.elapsed(), c.minimumMs);
        EXPECT_EQ(keyboard.posted, ctrlV);
    }
}

TEST(PasteBack, WithoutSynthesisOnlyTheClipboardIsWritten)
{
    fake::FakeClipboardWriter clipboardWriter;
    fake::FakeKeyboard keyboard;
    keyboard.available = false;
    fake::RecordingConsole console;
    PasteBack pasteBack(clipboardWriter, keyboard, nothingInFront, console, noPasteKeys);
    QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
    pasteBack.paste(record(ClipKind::text, QStringLiteral("by hand")));
    EXPECT_EQ(clipboardWriter.writes.size(), 1);
    EXPECT_EQ(clipboardWriter.data(QStringLiteral("text/plain")), QByteArray("by hand"))
        << "the record is there to paste by hand";
    EXPECT_FALSE(posted.wait(300));
    EXPECT_TRUE(keyboard.posted.isEmpty());
}
