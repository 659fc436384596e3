#include "history/ClipboardCapture.h"
#include "panel/PasteBack.h"
#include "platform/fake/FakeKeyboard.h"
#include "platform/fake/FakePasteboard.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace nimbrel;
using Key = SyntheticKey::Key;
using Representations = QList<std::pair<QString, QByteArray>>;

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
        fake::FakePasteboard pasteboard;
        fake::FakeKeyboard keyboard;
        PasteBack pasteBack(pasteboard, keyboard);
        pasteBack.writeToPasteboard(c.item);
        ASSERT_EQ(pasteboard.writes.size(), 1);
        EXPECT_EQ(pasteboard.writes.first(), c.written);
    }
}

TEST(PasteBack, KeepsTheClipboardAliveOnlyWhenNobodyHoldsIt)
{
    for (const bool taken : {false, true}) {
        SCOPED_TRACE(taken ? "another application took the clipboard meanwhile" : "the clipboard is empty");
        fake::FakePasteboard pasteboard;
        pasteboard.owned = taken;
        fake::FakeKeyboard keyboard;
        PasteBack pasteBack(pasteboard, keyboard);
        pasteBack.keepAlive(record(ClipKind::text, QStringLiteral("kept")));
        EXPECT_EQ(pasteboard.writes.size(), taken ? 0 : 1);
        EXPECT_TRUE(keyboard.posted.isEmpty()) << "nothing is typed";
        if (!taken)
            EXPECT_TRUE(pasteboard.types().contains(ownMarkerType)) << "re-owning must not create a record";
    }
}

TEST(PasteBack, ChoosingARecordCreatesNoNewRecord)
{
    fake::FakePasteboard pasteboard;
    fake::FakeKeyboard keyboard;
    PasteBack pasteBack(pasteboard, keyboard);
    pasteBack.writeToPasteboard(record(ClipKind::text, QStringLiteral("again")));
    EXPECT_TRUE(pasteboard.types().contains(ownMarkerType));
}

TEST(PasteBack, TypesExactlyCtrlVAfterTheDelay)
{
    fake::FakePasteboard pasteboard;
    fake::FakeKeyboard keyboard;
    PasteBack pasteBack(pasteboard, keyboard);
    QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
    QElapsedTimer clock;
    clock.start();
    pasteBack.paste(record(ClipKind::text, QStringLiteral("x")));
    EXPECT_TRUE(keyboard.posted.isEmpty()) << "the keystroke waits for the application to see the new contents";
    ASSERT_TRUE(posted.wait(2000));
    EXPECT_GE(clock.elapsed(), PasteBack::keystrokeDelayMs);
    const QList<SyntheticKey> chord{{Key::control, true}, {Key::v, true}, {Key::v, false}, {Key::control, false}};
    EXPECT_EQ(keyboard.posted, chord);
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
        fake::FakePasteboard pasteboard;
        fake::FakeKeyboard keyboard;
        keyboard.heldForChecks = c.heldForChecks;
        PasteBack pasteBack(pasteboard, keyboard);
        QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
        QElapsedTimer clock;
        clock.start();
        pasteBack.paste(record(ClipKind::text, QStringLiteral("x")));
        ASSERT_TRUE(posted.wait(3000));
        EXPECT_GE(clock.elapsed(), c.minimumMs);
        EXPECT_EQ(keyboard.posted.size(), 4);
    }
}

TEST(PasteBack, WithoutSynthesisOnlyTheClipboardIsWritten)
{
    fake::FakePasteboard pasteboard;
    fake::FakeKeyboard keyboard;
    keyboard.available = false;
    PasteBack pasteBack(pasteboard, keyboard);
    QSignalSpy posted(&pasteBack, &PasteBack::keystrokePosted);
    pasteBack.paste(record(ClipKind::text, QStringLiteral("by hand")));
    EXPECT_EQ(pasteboard.writes.size(), 1);
    EXPECT_FALSE(posted.wait(300));
    EXPECT_TRUE(keyboard.posted.isEmpty());
}
