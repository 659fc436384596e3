#include "UpdateTestSupport.h"

#include "update/FileTree.h"
#include "update/InstallManifest.h"
#include "update/PackageReader.h"
#include "update/PackageSignature.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <functional>
#include <string>

using namespace nimbrel;
using namespace nimbrel::test;
using namespace std::string_literals;

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

Result<void> unpackBytes(const QString& root, const QByteArray& package, const QString& destination)
{
    writeFile(root + QStringLiteral("/p.tar.gz"), package);
    QDir().mkpath(destination);
    return unpackPackage(root + QStringLiteral("/p.tar.gz"), destination);
}

}  // namespace

TEST(InstallManifest, SignedFolderVerifiesWithItsKeyOnlyAndCarriesItsBuild)
{
    const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), 1234);
    const auto verified = verifyInstallFolder(folder, testPublicKey);
    ASSERT_TRUE(verified.ok()) << qPrintable(verified.error().description);
    EXPECT_EQ(verified->build, 1234);
    EXPECT_FALSE(verifyInstallFolder(folder, otherPublicKey).ok() || verifyInstallFolder(folder, QByteArray()).ok());
    EXPECT_EQ(signedBuildNumber(folder, otherPublicKey), std::nullopt);
    const QString linked = freshDirectory() + QStringLiteral("/Nimbrel.app");
    makeLink(folder, linked);
    EXPECT_FALSE(verifyInstallFolder(linked, testPublicKey).ok()) << "only a real folder is a folder";
    EXPECT_FALSE(verifyInstallFolder(folder + QStringLiteral("-missing"), testPublicKey).ok());
    EXPECT_TRUE(ed25519PublicKeyFromPem("not a key").isEmpty());
    EXPECT_FALSE(signInstallFolder(makeInstallFolder(linked + QStringLiteral("2")), 1, "not a key").ok());
}

TEST(InstallManifest, AnyChangeAfterSigningFailsVerification)
{
    const auto hash = [](const QByteArray& text) {
        return QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
    };
    const auto chmod = [](const QString& path, int mode) { ::chmod(QFile::encodeName(path).constData(), mode); };
    const QString changed = "changed since signing: ", extra = "not in the signed manifest: ",
                  missing = "missing from the folder: ", notMatching = "signature does not match";
    const std::pair<std::function<void(const QString&)>, QString> cases[] = {
        // the change, and a part of the error text
        {[](auto& b) { writeFile(at(b, "bin/nimbrel"), "#!/bin/sh\nevil\n", 0755); }, changed + "file bin/nimbrel"},
        {[&](auto& b) { chmod(at(b, "lib/libx.so.1"), 0755); }, changed + "file lib/libx.so.1"},
        {[](auto& b) { writeFile(at(b, "bin/helper"), "x"); }, extra + "file bin/helper"},
        {[](auto& b) { writeFile(at(b, ".preload"), "x"); }, extra + "file .preload"},
        {[](auto& b) { QDir().mkpath(at(b, "plugins")); }, extra + "directory plugins"},
        {[](auto& b) { QFile::remove(at(b, "share/readme")); }, missing + "file share/readme"},
        {[](auto& b) { relink(at(b, "lib/libx.so.1"), "../bin/nimbrel"); }, changed + "link lib/libx.so.1"},
        {[](auto& b) { relink(at(b, "lib/libx.so"), "../bin/nimbrel"); }, changed + "link lib/libx.so"},
        {[](auto& b) { makeLink("../../../etc/passwd", at(b, "lib/passwd")); }, "leaves the folder"},
        {[](auto& b) { ::mkfifo(QFile::encodeName(at(b, "bin/pipe")), 0644); }, "not a file, folder or link"},
        {[&](auto& b) { chmod(at(b, "bin/nimbrel"), 04755); }, "set-id"},
        {[](auto& b) { editManifest(b, "\"build\":77", "\"build\":78"); }, notMatching},
        {[&](auto& b) {
             editManifest(b, hash("#!/bin/sh\necho new\n"), hash("#!/bin/sh\nevil\n"));
             writeFile(at(b, "bin/nimbrel"), "#!/bin/sh\nevil\n", 0755);
         },
         notMatching},
        {[](auto& b) { QFile::remove(at(b, "_signature/signature")); }, "unexpected files"},
        {[](auto& b) { writeFile(at(b, "_signature/extra"), "x"); }, "unexpected files"},
        {[](auto& b) { removeTree(at(b, "_signature")); }, "not signed"},
        {[](auto& b) { ASSERT_TRUE(signInstallFolder(b, 77, otherSigningKey).ok()); }, notMatching},
    };
    int row = 0;
    for (const auto& [change, reason] : cases) {
        SCOPED_TRACE(row++);
        const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), 77);
        change(folder);
        const auto verified = verifyInstallFolder(folder, testPublicKey);
        ASSERT_FALSE(verified.ok());
        EXPECT_TRUE(verified.error().description.contains(reason)) << qPrintable(verified.error().description);
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

TEST(PackageReader, UnpacksModesLinksLongNamesAndDropsSetIdBits)
{
    const QString root = freshDirectory();
    const QByteArray longName = "Nimbrel.app/share/" + QByteArray(150, 'n');
    const QString out = root + QStringLiteral("/out");
    const auto unpacked = unpackBytes(
        root,
        gzip(tarArchive({tarFolder("./"), tarFolder("Nimbrel.app/"), tarFolder("Nimbrel.app/bin/"),
                         tarFile("Nimbrel.app/bin/nimbrel", "#!/bin/sh\n", 0755),
                         tarFile("Nimbrel.app/bin/setuid", "x", 04755), tarFile("Nimbrel.app/bin/shared", "x", 0666),
                         tarFolder("Nimbrel.app/open/", 0777), tarFolder("Nimbrel.app/ro/", 0555),
                         tarFile("Nimbrel.app/ro/data", "data", 0444), tarLink("Nimbrel.app/bin/alias", "nimbrel"),
                         tarHardLink("Nimbrel.app/bin/again", "Nimbrel.app/bin/nimbrel"),
                         TarEntry{"././@PaxHeader", 'x', 0644, paxRecord("path", longName)},
                         tarFile("placeholder", "long named")})),
        out);
    ASSERT_TRUE(unpacked) << unpacked.error().description.toStdString();
    const QString app = out + QStringLiteral("/Nimbrel.app");
    const auto entries = snapshot(app);
    const std::pair<const char*, QString> expected[] = {
        {"bin/nimbrel", "file 755 23212f62696e2f73680a"},  // "#!/bin/sh\n"
        {"bin/setuid", "file 755 78"},                     // no set-id bits
        {"bin/shared", "file 644 78"},                     // no write for others
        {"open", "folder 755"},
        {"ro", "folder 555"},
        {"bin/alias", "link -> nimbrel"}};
    for (const auto& [path, value] : expected)
        EXPECT_EQ(entries.value(QString::fromLatin1(path)), value) << path;
    EXPECT_EQ(QFileInfo(app + QStringLiteral("/bin/again")).size(), 10);
    EXPECT_EQ(readFile(out + QLatin1Char('/') + QString::fromLatin1(longName)), QByteArray("long named"));
    EXPECT_TRUE(removeTree(out)) << "a read-only folder still goes";
}

// Every hostile package fails as a whole and writes nothing outside the destination.
TEST(PackageReader, RefusesHostileEntriesAndWritesNothingOutside)
{
    const QString root = freshDirectory();
    const QString outside = root + QStringLiteral("/outside");
    QDir().mkpath(outside);
    // Absolute names point into this test's folder, five levels above the destination.
    const QByteArray r = QFile::encodeName(root), app = "Nimbrel.app", gib = "more than 1073741824 bytes";
    const QByteArray outsideFolder = "outside its folder", leaves = "leaves its folder";
    const TarEntry top = tarFolder(app + "/"), harmless = tarFile("harmless", "x");
    const auto sized = [](const QByteArray& name, quint64 size) { return TarEntry{name, '0', 0644, {}, {}, size}; };
    const std::pair<std::vector<TarEntry>, QByteArray> cases[] = {
        {{top, tarFile(app + "/../../../outside/escape", "x")}, outsideFolder},
        {{tarFile(r + "/outside/escape", "x")}, outsideFolder},
        {{tarLink(app, r + "/outside")}, leaves},
        {{top, tarLink(app + "/up", "../../outside")}, leaves},
        {{tarFolder(app + "/a/b/"), tarLink(app + "/a/b/root", "../.."), tarLink(app + "/esc", "a/b/root/..")}, leaves},
        {{top, tarLink(app + "/here", "."), tarFile(app + "/here/x", "x")}, "a link or a file is in its way"},
        {{tarHardLink(app, r + "/outside/file")}, "hard link"},
        {{tarHardLink(app, "../outside/file")}, "hard link"},
        {{top, tarHardLink(app + "/x", app + "/y")}, "hard link"},  // to an unknown entry
        {{top, tarHardLink(app + "/x", app)}, "hard link"},         // to a folder
        {{TarEntry{app, '3'}}, "special entry"},                    // a device
        {{TarEntry{app, '6'}}, "special entry"},                    // a pipe
        {{tarFile(app, "a"), tarFile(app, "b")}, "duplicate"},
        {{top, sized(app + "/huge", (1ULL << 30) + 1)}, gib},
        {{tarFile(app, "0123456789"), sized(app + "2", (1ULL << 30) - 5)}, gib},  // together
        {{pax("size", "2147483648"), tarFile(app, "x")}, gib},
        // The reproducer of the escape: "..\0" passed a ".." test that compared the whole value.
        {{pax("path", QByteArray::fromStdString("..\0/..\0/..\0/..\0/..\0/..\0/"s) + r.mid(1) + "/outside/escaped.txt"),
          harmless},
         outsideFolder},
        {{pax("path", QByteArray("a/").repeated(300) + "x"), harmless}, "too deep"},
        {{TarEntry{"././@LongLink", 'L', 0644, r + "/outside/escape"}, harmless}, outsideFolder},
        {{top, pax("linkpath", QByteArray::fromStdString("../..\0/inside"s)), tarLink(app + "/l", "ok")}, leaves},
    };
    int row = 0;
    for (const auto& [entries, reason] : cases) {
        SCOPED_TRACE(row++);
        removeTree(root + QStringLiteral("/a"));
        const auto unpacked = unpackBytes(root, gzip(tarArchive(entries)), root + QStringLiteral("/a/b/c/d/out"));
        ASSERT_FALSE(unpacked);
        EXPECT_TRUE(unpacked.error().description.contains(QLatin1String(reason)))
            << unpacked.error().description.toStdString();
        EXPECT_TRUE(snapshot(outside).isEmpty()) << "nothing written outside the destination";
        EXPECT_EQ(names(root), (QStringList{"a", "outside", "p.tar.gz"}));
    }
}

TEST(PackageReader, RefusesDamagedIncompleteAndUncompressedPackages)
{
    const QString root = freshDirectory();
    const QByteArray tar =
        tarArchive({tarFolder("Nimbrel.app/"), tarFile("Nimbrel.app/data", QByteArray(100'000, 'd'))});
    const QByteArray good = gzip(tar);
    QByteArray corrupted = good, badHeader = tar;
    corrupted[corrupted.size() / 2] = static_cast<char>(corrupted[corrupted.size() / 2] ^ 0x55);
    badHeader[0] = 'M';  // the checksum no longer matches
    for (const QByteArray& bytes :
         {good.left(good.size() - 100), gzip(tar.left(512 + 512 + 50'000)), corrupted, tar, gzip(badHeader),
          gzip(tarArchive({TarEntry{"pax", 'x', 0644, "9223372036854775807 path=x\n"}, tarFile("N", "x")})),
          QByteArray(), QByteArray("\x1f\x8b not a package")})
        EXPECT_FALSE(unpackBytes(root, bytes, freshDirectory())) << bytes.left(40).toHex().constData();
    EXPECT_TRUE(unpackBytes(root, good, root + QStringLiteral("/good")));
}

TEST(PackageSignature, BindsTheBytesAndTheLengthToTheKey)
{
    const QString package = freshDirectory() + QStringLiteral("/p.tar.gz");
    writeFile(package, "package bytes");
    const auto signature = signPackage(package, testSigningKey);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifyPackage(package, 13, *signature, testPublicKey));
    QByteArray flipped = *signature;
    flipped[5] = static_cast<char>(flipped[5] ^ 1);
    EXPECT_FALSE(verifyPackage(package, 13, flipped, testPublicKey)) << "altered signature";
    EXPECT_FALSE(verifyPackage(package, 12, *signature, testPublicKey)) << "other length";
    EXPECT_FALSE(verifyPackage(package, 13, *signature, otherPublicKey)) << "other key";
    EXPECT_FALSE(verifyPackage(package + QStringLiteral(".missing"), 13, *signature, testPublicKey));
    writeFile(package, "package byteZ");
    EXPECT_FALSE(verifyPackage(package, 13, *signature, testPublicKey)) << "other bytes, same length";
    EXPECT_EQ(packageStatement(QByteArray(32, '\x01'), 7),  // what scripts/package signs
              "nimbrel-package/1 sha256=" + QByteArray(32, '\x01').toHex() + " length=7");
}
