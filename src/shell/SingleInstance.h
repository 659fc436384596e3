#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace nimbrel {

// One Nimbrel per user and data folder: the first process holds a lock in the runtime folder for as
// long as it runs (a lock left by a crashed process is taken over).
class SingleInstance final {
public:
    // `dataDirectory` names the store the instance guards, so separate homes (tests) do not collide.
    SingleInstance(const QString& runtimeDirectory, const QString& dataDirectory);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is now the only instance.
    bool tryLock();
    // The base path of the instance's lock and socket (without extension).
    QString basePath() const { return m_base; }

private:
    QString m_base;
    std::unique_ptr<QLockFile> m_lock;
};

}  // namespace nimbrel
