// A release package is read by libarchive and placed by Nimbrel's own code; whatever the bytes, nothing
// may appear outside the folder it is unpacked into.
#include "update/FileTree.h"
#include "update/PackageReader.h"

#include "FuzzInput.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

namespace {

QString scratchFolder()
{
    // Memory-backed where possible: every input is written and unpacked.
    QByteArray pattern = (QDir("/dev/shm").exists() ? QByteArray("/dev/shm") : QFile::encodeName(QDir::tempPath())) +
                         "/nimbrel-fuzz-package-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        std::abort();
    static QString folder = QFile::decodeName(pattern);
    std::atexit([] { nimbrel::removeTree(folder); });
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    static const QString root = scratchFolder();
    const QString package = root + QStringLiteral("/in.tar.gz");
    const QString out = root + QStringLiteral("/out");
    QFile file(package);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(fuzz::bytes(data, size)) != qint64(size))
        std::abort();
    file.close();
    QDir().mkdir(out);

    (void)unpackPackage(package, out, UnpackLimits{1 << 20, 1000});

    const QStringList present =
        QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    fuzz::require(present == QStringList({QStringLiteral("in.tar.gz"), QStringLiteral("out")}),
                  "nothing is written beside the destination");
    fuzz::require(removeTree(out), "what was unpacked can be removed");
    return 0;
}
