#pragma once

#include "platform/ClipboardMonitor.h"

#include <QList>
#include <QMap>

#include <utility>

namespace nimbrel::fake {

// One change as a test describes it: the representations its owner would hand over, and how it
// misbehaves. Records what was asked of it.
class FakeOffer final : public ClipboardOffer {
public:
    FakeOffer() = default;
    explicit FakeOffer(QList<std::pair<QString, QByteArray>> representations)
        : representations(std::move(representations))
    {
    }
    static FakeOffer text(const QString& text) { return FakeOffer({{QStringLiteral("UTF8_STRING"), text.toUtf8()}}); }

    TypeList types() override
    {
        ++typeReads;
        TypeList list{typesStatus, {}};
        if (typesStatus == Status::ok)
            for (const auto& [type, bytes] : representations)
                list.types.append(type);
        return list;
    }
    bool isOwnContent() const override { return ownContent; }
    Selection selection() const override { return from; }
    Read read(const QString& type, qint64 cap) override
    {
        asked.append(type);
        if (const auto status = statuses.find(type); status != statuses.end())
            return {*status, {}};
        for (const auto& [name, bytes] : representations)
            if (name == type)
                return bytes.size() > cap ? Read{Status::tooLarge, {}} : Read{Status::ok, bytes};
        return {Status::missing, {}};
    }

    QList<std::pair<QString, QByteArray>> representations;
    Status typesStatus = Status::ok;
    QMap<QString, Status> statuses;  // how reading a type fails, when it does
    bool ownContent = false;
    Selection from = Selection::clipboard;
    int typeReads = 0;
    QStringList asked;
};

// Hands the test's changes to the handler at once, on the test's thread.
class FakeClipboardMonitor final : public ClipboardMonitor {
public:
    std::optional<QString> start(Handler newHandler, int) override
    {
        return handler = std::move(newHandler), std::nullopt;
    }
    void stop() override { handler = nullptr; }
    void setEmptiedHandler(EmptiedHandler newHandler) override { emptied = std::move(newHandler); }
    void watchPrimary(bool on) override { primaryWatched = on; }
    // A new owner's offer, then the owner going away; each false when nothing watches.
    bool change(FakeOffer& offer) { return handler && (handler(offer), true); }
    bool change(FakeOffer&& offer) { return change(offer); }
    bool empty() { return handler && emptied && (emptied(), true); }

    Handler handler;
    EmptiedHandler emptied;
    bool primaryWatched = false;
};

}  // namespace nimbrel::fake
