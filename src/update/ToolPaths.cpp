#include "update/ToolPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>
#include <climits>

#ifndef NIMBREL_TOOL_HDIUTIL
#error "the update tool settings come from src/update/CMakeLists.txt"
#endif

namespace nimbrel {

namespace {

QString configuredPath(UpdateTool tool)
{
    switch (tool) {
        case UpdateTool::hdiutil:
            return QStringLiteral(NIMBREL_TOOL_HDIUTIL);
        case UpdateTool::ditto:
            return QStringLiteral(NIMBREL_TOOL_DITTO);
        case UpdateTool::codesign:
            return QStringLiteral(NIMBREL_TOOL_CODESIGN);
        case UpdateTool::xattr:
            return QStringLiteral(NIMBREL_TOOL_XATTR);
        case UpdateTool::open:
            return QStringLiteral(NIMBREL_TOOL_OPEN);
    }
    return {};
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

}  // namespace

QString toolName(UpdateTool tool)
{
    switch (tool) {
        case UpdateTool::hdiutil:
            return QStringLiteral("hdiutil");
        case UpdateTool::ditto:
            return QStringLiteral("ditto");
        case UpdateTool::codesign:
            return QStringLiteral("codesign");
        case UpdateTool::xattr:
            return QStringLiteral("xattr");
        case UpdateTool::open:
            return QStringLiteral("open");
    }
    return {};
}

QString runningExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof buffer))
        return {};
    QString path = QFile::decodeName(QByteArray(buffer, length));
    // The kernel marks an executable whose file is gone; its folder may still hold the tools.
    const QLatin1StringView deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path;
}

QString toolPath(UpdateTool tool)
{
    const QString configured = configuredPath(tool);
    if (!configured.isEmpty())
        return configured;

    const QString executable = runningExecutablePath();
    if (!executable.isEmpty()) {
        const QString beside = QDir::cleanPath(QFileInfo(executable).absolutePath() +
                                               QStringLiteral("/../libexec/nimbrel/") + toolName(tool));
        if (isExecutableFile(beside))
            return beside;
    }
    return QStringLiteral(NIMBREL_TOOLS_INSTALL_DIR) + QLatin1Char('/') + toolName(tool);
}

QString teamIdentifier()
{
    return QStringLiteral(NIMBREL_TEAM_IDENTIFIER);
}

QString codeSigningRequirement()
{
    return codeSigningRequirementPrefix + teamIdentifier();
}

QByteArray updatePublicKey()
{
    // The key is built in as the base64 of its SubjectPublicKeyInfo; for Ed25519 that is a fixed
    // 12-byte header followed by the 32 key bytes.
    static const QByteArray header = QByteArray::fromHex("302a300506032b6570032100");
    const auto decoded = QByteArray::fromBase64Encoding(QByteArrayLiteral(NIMBREL_UPDATE_PUBLIC_KEY_BASE64),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != header.size() + 32 || !decoded.decoded.startsWith(header))
        return {};
    return decoded.decoded.mid(header.size());
}

bool updatePublicKeyIsTestKey()
{
    return NIMBREL_UPDATE_KEY_IS_TEST_KEY != 0;
}

}  // namespace nimbrel
