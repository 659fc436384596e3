#pragma once

#include <QString>

namespace nimbrel {

// Where Nimbrel keeps its files.
class FileLocations {
public:
    FileLocations() = default;
    virtual ~FileLocations() = default;
    FileLocations(const FileLocations&) = delete;
    FileLocations& operator=(const FileLocations&) = delete;

    // The per-user application-support folder (~/.local/share); Nimbrel's data lives in "Nimbrel" below it.
    virtual QString dataHome() const = 0;
    // The per-user configuration folder (~/.config); Nimbrel's defaults live in "Nimbrel" below it.
    virtual QString configDirectory() const = 0;
    // A private folder for sockets and locks of the running session.
    virtual QString runtimeDirectory() const = 0;

    QString dataDirectory() const { return dataHome() + QStringLiteral("/Nimbrel"); }
    QString storeFile() const { return dataDirectory() + QStringLiteral("/Nimbrel.store"); }
    QString defaultsFile() const { return configDirectory() + QStringLiteral("/Nimbrel/defaults.json"); }
};

}  // namespace nimbrel
