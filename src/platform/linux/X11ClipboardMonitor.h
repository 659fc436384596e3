#pragma once

#include "platform/ClipboardMonitor.h"

#include <functional>
#include <memory>
#include <thread>

namespace nimbrel::native {

// The X11 clipboard (and the primary selection when asked), watched through XFixes selection events on an
// X connection of its own and read on a std::thread of its own: a frozen or slow owner, or a transfer of many
// megabytes, never touches Qt's connection or the UI thread. The thread is a plain poll() loop over the connection and
// an eventfd, so stop() wakes it at once whatever it waits for; it needs no Qt event loop. It is also the desktop's
// clipboard manager (CLIPBOARD_MANAGER) when no other is: an exiting application's SAVE_TARGETS is answered
// once its clipboard change has been read.
//
// When the handler's reads are abandoned because watching stops (or the X server goes away), they answer
// `superseded`: nothing more of that change will be read. The handler must not wait on the thread that calls
// stop(), and stop() must not be called from the handler.
class X11ClipboardMonitor final : public ClipboardMonitor {
public:
    // Told once, on the monitor's thread, when the X server connection is lost; watching has ended then.
    using LostHandler = std::function<void(const QString& line)>;

    explicit X11ClipboardMonitor(LostHandler onLost = {});
    ~X11ClipboardMonitor() override;

    std::optional<QString> start(Handler handler, int deadlineMs) override;
    void stop() override;
    void setEmptiedHandler(EmptiedHandler handler) override;
    void watchPrimary(bool on) override;

private:
    class Loop;

    LostHandler m_onLost;
    EmptiedHandler m_emptied;
    bool m_watchPrimary = false;
    std::unique_ptr<Loop> m_loop;
    std::thread m_thread;
};

}  // namespace nimbrel::native
