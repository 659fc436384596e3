#include "panel/ImagePreviewLoader.h"

#include "history/HistoryStore.h"
#include "history/ImageDecoding.h"

#include <QScopeGuard>
#include <QThread>

#include <algorithm>
#include <memory>

namespace nimbrel {

// Lives on the loader's thread and owns the store connection there.
class ImagePreviewLoader::Worker final : public QObject {
public:
    Worker(ImagePreviewLoader& loader, const HistoryStore& store) : m_loader(loader), m_mainStore(store) {}

    void load(quint64 ticket, const QUuid& id, QSize maxPixels)
    {
        const auto done = qScopeGuard([this] { --m_loader.m_queued; });
        const auto stale = [&] { return ticket != m_loader.m_latest.load(); };
        // Requests queued behind a newer one are skipped unread.
        if (stale())
            return;
        Q_EMIT m_loader.answered(ticket, id, preview(id, maxPixels), ImagePreviewLoader::QPrivateSignal());
    }

private:
    QImage preview(const QUuid& id, QSize maxPixels)
    {
        if (!m_store) {
            // openAnotherConnection only reads what the main connection was opened with, which never
            // changes; the new connection is this thread's alone. A failure is tried again next time.
            Result<std::unique_ptr<HistoryStore>> opened = m_mainStore.openAnotherConnection();
            if (!opened)
                return {};
            m_store = std::move(opened).value();
        }
        ClipItem record;
        record.id = id;
        if (!m_store->loadContents(record) || !record.contentImage)
            return {};
        const QByteArray& bytes = *record.contentImage;
        const std::optional<QSize> pixels = checkImageHeader(bytes);
        if (!pixels)
            return {};
        // The longest side of the image scaled to fit `maxPixels`: decodeImage keeps the aspect ratio.
        const QSize fitted = pixels->width() <= maxPixels.width() && pixels->height() <= maxPixels.height()
                                 ? *pixels
                                 : pixels->scaled(maxPixels, Qt::KeepAspectRatio);
        const std::optional<QImage> image =
            decodeImage(bytes, {}, {.maxSide = std::max({fitted.width(), fitted.height(), 1})});
        return image.value_or(QImage());
    }

    ImagePreviewLoader& m_loader;
    const HistoryStore& m_mainStore;
    std::unique_ptr<HistoryStore> m_store;
};

ImagePreviewLoader::ImagePreviewLoader(const HistoryStore& store, QObject* parent)
    : QObject(parent), m_thread(new QThread), m_worker(new Worker(*this, store))
{
    m_thread->setObjectName(QStringLiteral("preview"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
    // Emitted on the thread, received here: an answer that arrives after a newer request or a cancel is
    // dropped on this side, so none slips through however the two threads interleave.
    connect(
        this, &ImagePreviewLoader::answered, this,
        [this](quint64 ticket, const QUuid& id, const QImage& image) {
            if (ticket == m_latest.load())
                Q_EMIT loaded(id, image);
        },
        Qt::QueuedConnection);
}

ImagePreviewLoader::~ImagePreviewLoader()
{
    cancel();
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
}

void ImagePreviewLoader::request(const QUuid& id, QSize maxPixels)
{
    const quint64 ticket = ++m_latest;
    ++m_queued;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, ticket, id, maxPixels] { worker->load(ticket, id, maxPixels); },
        Qt::QueuedConnection);
}

void ImagePreviewLoader::cancel()
{
    ++m_latest;
}

}  // namespace nimbrel
