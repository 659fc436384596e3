#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace nimbrel {

// The clipboard (what Ctrl+C copies) and the primary selection (what the mouse selects).
enum class Selection { clipboard, primary };

// One change of the clipboard while it is being read, on the monitor's thread. Every call shares one
// deadline, set when the change was seen; a read never blocks past it, whatever the owner does.
class ClipboardOffer {
public:
    virtual ~ClipboardOffer() = default;

    enum class Status {
        ok,
        missing,     // not offered, or the owner refused it
        tooLarge,    // more than the cap; what was read is dropped
        timedOut,    // the owner did not answer before the deadline
        superseded,  // the clipboard changed again meanwhile: these contents are gone
    };
    struct Read {
        Status status = Status::missing;
        QByteArray bytes;
    };

    struct TypeList {
        Status status = Status::missing;
        QStringList types;
    };

    // The types the contents are offered in (MIME types and the desktop's own names such as
    // UTF8_STRING), asked of the owner once; the protocol's own targets are left out.
    virtual TypeList types() = 0;
    // Whether the contents were put there by this process.
    virtual bool isOwnContent() const = 0;
    virtual Selection selection() const = 0;
    // The bytes of one representation, at most `cap` of them.
    virtual Read read(const QString& type, qint64 cap) = 0;
};

// Watches the clipboard, and the primary selection when asked, on a thread of its own. Each change is
// handed to the handler on that thread, in order; a change replaced before it could be looked at is
// skipped. A primary selection is handed over only once it has settled (no mouse button held, no
// change for a moment). The handler reads what it needs from the offer and returns; the offer is not
// valid afterwards.
class ClipboardMonitor {
public:
    using Handler = std::function<void(ClipboardOffer&)>;
    using EmptiedHandler = std::function<void()>;

    ClipboardMonitor() = default;
    virtual ~ClipboardMonitor() = default;
    ClipboardMonitor(const ClipboardMonitor&) = delete;
    ClipboardMonitor& operator=(const ClipboardMonitor&) = delete;

    // Starts watching with a deadline per change; the contents present now are not handed over. An error
    // line when the clipboard cannot be watched in this session (then no handler call ever comes).
    virtual std::optional<QString> start(Handler handler, int deadlineMs) = 0;
    // Stops watching and returns once the handler no longer runs; a read in progress is abandoned at once.
    virtual void stop() = 0;
    // Called on the monitor's thread, in order with the changes, when the application that owned the
    // clipboard went away (exited or crashed) and left it empty, and that owner's change had been handed
    // to the handler. Not for an owner that cleared the clipboard on purpose. Set before start().
    virtual void setEmptiedHandler(EmptiedHandler handler) = 0;
    // Whether the primary selection is watched too; takes effect at once, also while watching.
    virtual void watchPrimary(bool on) = 0;
};

}  // namespace nimbrel
