#include "UpdateTestSupport.h"

#include "update/FileTree.h"
#include "update/InstallManifest.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <functional>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

QString at(const QString& folder, const char* relative)
{
    return folder + QLatin1Char('/') + QLatin1String(relative);
}

void editManifest(const QString& folder, const QByteArray& from, const QByteArray& to)
{
    writeFile(at(folder, "_signature/manifest"), readFile(at(folder, "_signature/manifest")).replace(from, to));
}

void relink(const QString& link, const QString& target)
{
    QFile::remove(link);
    makeLink(target, link);
}

}  // namespace

TEST(InstallManifest, SignedFolderVerifiesWithItsKeyOnlyAndCarriesItsBuild)
{
    const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), 1234);
    const auto verified = verifyInstallFolder(folder, testPublicKey);
    ASSERT_TRUE(verified.ok()) << qPrintable(verified.error().description);
    EXPECT_EQ(verified->build, 1234);
    QStringList entries;
    for (const ManifestEntry& entry : verified->entries)
        entries.append(entry.path + u' ' + QString::number(entry.mode, 8) + u' ' + entry.target);
    EXPECT_EQ(entries, (QStringList{"bin 755 ", "bin/nimbrel 755 ", "lib 755 ", "lib/libx.so 0 libx.so.1",
                                    "lib/libx.so.1 644 ", "share 755 ", "share/empty 755 ", "share/readme 444 "}));
    EXPECT_FALSE(verifyInstallFolder(folder, otherPublicKey).ok() || verifyInstallFolder(folder, QByteArray()).ok());
    EXPECT_EQ(signedBuildNumber(folder, otherPublicKey), std::nullopt);
    writeFile(folder + QStringLiteral("/bin/extra"), "added later");
    ASSERT_TRUE(signInstallFolder(folder, 2, testSigningKey).ok());
    EXPECT_EQ(signedBuildNumber(folder, testPublicKey), 2) << "signing again replaces the signature";

    const QString linked = freshDirectory() + QStringLiteral("/Nimbrel.app");
    makeLink(folder, linked);
    EXPECT_FALSE(verifyInstallFolder(linked, testPublicKey).ok()) << "only a real folder is a folder";
    EXPECT_FALSE(verifyInstallFolder(folder + QStringLiteral("-missing"), testPublicKey).ok());
    EXPECT_EQ(ed25519PublicKeyFromPem(testSigningKey), testPublicKey);
    EXPECT_TRUE(ed25519PublicKeyFromPem("not a key").isEmpty());
    EXPECT_FALSE(signInstallFolder(makeInstallFolder(linked + QStringLiteral("2")), 1, "not a key").ok());
}

TEST(InstallManifest, AnyChangeAfterSigningFailsVerification)
{
    const auto hash = [](const QByteArray& text) {
        return QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
    };
    const auto chmod = [](const QString& path, int mode) { ::chmod(QFile::encodeName(path).constData(), mode); };
    const char* notMatching = "signature does not match";
    const std::tuple<const char*, std::function<void(const QString&)>, const char*> cases[] = {
        // what is changed, and a part of the error text
        {"changed file", [](auto& b) { writeFile(at(b, "bin/nimbrel"), "#!/bin/sh\nevil\n", 0755); },
         "changed since signing: file bin/nimbrel"},
        {"changed mode", [&](auto& b) { chmod(at(b, "lib/libx.so.1"), 0755); },
         "changed since signing: file lib/libx.so.1"},
        {"extra file", [](auto& b) { writeFile(at(b, "bin/helper"), "x"); },
         "not in the signed manifest: file bin/helper"},
        {"extra hidden file", [](auto& b) { writeFile(at(b, ".preload"), "x"); },
         "not in the signed manifest: file .preload"},
        {"extra folder", [](auto& b) { QDir().mkpath(at(b, "plugins")); },
         "not in the signed manifest: directory plugins"},
        {"missing file", [](auto& b) { QFile::remove(at(b, "share/readme")); },
         "missing from the folder: file share/readme"},
        {"file replaced by a link", [](auto& b) { relink(at(b, "lib/libx.so.1"), "../bin/nimbrel"); },
         "changed since signing: link lib/libx.so.1"},
        {"link retargeted", [](auto& b) { relink(at(b, "lib/libx.so"), "../bin/nimbrel"); },
         "changed since signing: link lib/libx.so"},
        {"escaping link added", [](auto& b) { makeLink("../../../etc/passwd", at(b, "lib/passwd")); },
         "leaves the folder"},
        {"pipe", [](auto& b) { ::mkfifo(QFile::encodeName(at(b, "bin/pipe")), 0644); }, "not a file, folder or link"},
        {"set-id bit", [&](auto& b) { chmod(at(b, "bin/nimbrel"), 04755); }, "set-id"},
        {"build number raised", [](auto& b) { editManifest(b, "\"build\":77", "\"build\":78"); }, notMatching},
        {"manifest hash replaced",
         [&](auto& b) {
             editManifest(b, hash("#!/bin/sh\necho new\n"), hash("#!/bin/sh\nevil\n"));
             writeFile(at(b, "bin/nimbrel"), "#!/bin/sh\nevil\n", 0755);
         },
         notMatching},
        {"signature removed", [](auto& b) { QFile::remove(at(b, "_signature/signature")); }, "unexpected files"},
        {"extra file in the signature folder", [](auto& b) { writeFile(at(b, "_signature/extra"), "x"); },
         "unexpected files"},
        {"unsigned", [](auto& b) { removeTree(at(b, "_signature")); }, "not signed"},
        {"signed by another key", [](auto& b) { ASSERT_TRUE(signInstallFolder(b, 77, otherSigningKey).ok()); },
         notMatching},
    };
    for (const auto& [name, change, reason] : cases) {
        SCOPED_TRACE(name);
        const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), 77);
        change(folder);
        const auto verified = verifyInstallFolder(folder, testPublicKey);
        ASSERT_FALSE(verified.ok());
        EXPECT_TRUE(verified.error().description.contains(QLatin1String(reason)))
            << qPrintable(verified.error().description);
        EXPECT_EQ(signedBuildNumber(folder, testPublicKey), std::nullopt);
    }
}

TEST(InstallManifest, SigningRefusesEscapingLinksAndLeavesNoSignature)
{
    for (const QString& link : QStringList{"abs -> /etc/passwd", "up -> ..", "a/b/up3 -> ../../..",
                                           "a/mid -> b/../../..", "a/b/through -> ../../lib/libx.so/.."}) {
        SCOPED_TRACE(link.toStdString());
        const QString folder = makeInstallFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"));
        QDir().mkpath(folder + QStringLiteral("/a/b"));
        makeLink(link.section(" -> ", 1), folder + u'/' + link.section(" -> ", 0, 0));
        const auto signedFolder = signInstallFolder(folder, 1, testSigningKey);
        ASSERT_FALSE(signedFolder.ok());
        EXPECT_TRUE(signedFolder.error().description.contains(QLatin1String("leaves the folder")));
        EXPECT_FALSE(exists(at(folder, "_signature/manifest")));
    }
}

TEST(InstallManifest, DecodeAcceptsOnlyTheCanonicalForm)
{
    const QByteArray good =
        R"({"build":5,"entries":[{"mode":"0755","path":"bin","type":"directory"},{"mode":"0755","path":"bin/n",)"
        R"("sha256":"0000000000000000000000000000000000000000000000000000000000000000","type":"file"},)"
        R"({"path":"bin/x","target":"n","type":"link"}],"format":"nimbrel-bundle-manifest/1"})";
    const auto decoded = decodeManifest(good);
    ASSERT_TRUE(decoded.ok()) << qPrintable(decoded.error().description);
    EXPECT_EQ(decoded->build, 5);
    EXPECT_EQ(encodeManifest(*decoded), good);

    // "from => to": one change to the good manifest.
    for (const QByteArray change :
         {R"("build":5 => "build":-5)", R"("build":5 => "build":5.5)", R"("build":5 => "build":"5")",
          R"("target":"n" => "target":"../../n")", R"("target":"n" => "target":"/n")",
          R"("path":"bin/x" => "path":"bin/../x")", R"("path":"bin/x" => "path":"/bin/x")",
          R"("path":"bin/x" => "path":"a")" /* out of order */, R"("path":"bin/x" => "path":"bin/n")" /* duplicate */,
          R"("path":"bin/x" => "path":"_signature")", R"("mode":"0755","path":"bin/n" => "mode":"4755","path":"bin/n")",
          R"("mode":"0755","path":"bin/n" => "mode":"755","path":"bin/n")", R"(00000000" => 0000000A")",
          R"("type":"link" => "type":"device")", R"("type":"link" => "type":"link","extra":1)",
          "manifest/1 => manifest/2", R"({"build":5, => { "build":5,)" /* not compact */}) {
        const qsizetype arrow = change.indexOf(" => ");
        const QByteArray bad = QByteArray(good).replace(change.left(arrow), change.mid(arrow + 4));
        ASSERT_NE(bad, good);
        EXPECT_FALSE(decodeManifest(bad).ok()) << bad.constData();
    }
}

TEST(FileTree, RemoveTreeRemovesReadOnlyFoldersButNeverFollowsLinks)
{
    const QString root = freshDirectory();
    writeFile(root + QStringLiteral("/keep/precious"), "stays");
    const QString doomed = root + QStringLiteral("/doomed");
    writeFile(doomed + QStringLiteral("/ro/file"), "x", 0444);
    ::chmod(QFile::encodeName(doomed + QStringLiteral("/ro")).constData(), 0555);
    makeLink(root + QStringLiteral("/keep"), doomed + QStringLiteral("/link-to-keep"));
    EXPECT_TRUE(removeTree(doomed));
    EXPECT_FALSE(exists(doomed));
    EXPECT_EQ(readFile(root + QStringLiteral("/keep/precious")), QByteArray("stays"));
    EXPECT_TRUE(removeTree(doomed)) << "nothing left is success";
}
