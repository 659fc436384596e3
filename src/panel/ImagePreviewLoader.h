#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QUuid>

#include <atomic>

class QThread;

namespace nimbrel {

class HistoryStore;

// Reads and decodes the hover preview of image records on a thread of its own, with a store connection of
// its own, so that neither a photo's megabytes nor their decoding hold up the UI thread. The image is decoded
// no larger than asked for, scaled while it is decoded where the decoder can (PNG, JPEG) and right after
// otherwise, so only preview-sized pixels ever reach the UI thread. The bytes pass checkImageHeader before
// anything decodes them. A request supersedes the one before: one not yet started is skipped, and the answer
// to one under way is dropped. Main thread only.
class ImagePreviewLoader final : public QObject {
    Q_OBJECT
public:
    // `store` must outlive the loader; the thread opens another connection to it at its first request.
    explicit ImagePreviewLoader(const HistoryStore& store, QObject* parent = nullptr);
    ~ImagePreviewLoader() override;

    // Asks for the image of record `id`, at most `maxPixels` (aspect ratio kept, never enlarged).
    void request(const QUuid& id, QSize maxPixels);
    // No answer to an earlier request is delivered any more.
    void cancel();
    // Whether the thread still has requests to go through, wanted or not.
    bool isBusy() const { return m_queued.load() > 0; }

Q_SIGNALS:
    // The answer to the newest request, unless it was cancelled: a null image when the record has no image
    // bytes, they fail the header check or they cannot be decoded.
    void loaded(const QUuid& id, const QImage& image);
    // From the thread, for every request that it decoded; only the newest is passed on as `loaded`.
    void answered(quint64 ticket, const QUuid& id, const QImage& image, QPrivateSignal);

private:
    class Worker;

    QThread* m_thread;
    Worker* m_worker;
    std::atomic<quint64> m_latest = 0;
    std::atomic<int> m_queued = 0;
};

}  // namespace nimbrel
