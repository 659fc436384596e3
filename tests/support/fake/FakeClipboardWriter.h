#pragma once

#include "platform/ClipboardWriter.h"

namespace nimbrel::fake {

// A clipboard that records what Nimbrel writes to it.
class FakeClipboardWriter final : public ClipboardWriter {
public:
    void write(const QList<std::pair<QString, QByteArray>>& representations,
               Selections selections = Selections::clipboard) override
    {
        writes.append(representations);
        writtenSelections.append(selections);
    }
    bool hasOwner() const override { return owned || !writes.isEmpty(); }

    // What the last write offered as this type.
    std::optional<QByteArray> data(const QString& mimeType) const
    {
        for (const auto& [type, bytes] : writes.value(writes.size() - 1))
            if (type == mimeType)
                return bytes;
        return std::nullopt;
    }

    QList<QList<std::pair<QString, QByteArray>>> writes;
    QList<Selections> writtenSelections;
    // Another application holds the clipboard.
    bool owned = false;
};

}  // namespace nimbrel::fake
