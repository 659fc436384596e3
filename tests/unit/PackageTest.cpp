#include "UpdateTestSupport.h"

#include "update/FileTree.h"
#include "update/PackageReader.h"
#include "update/PackageSignature.h"

#include <gtest/gtest.h>

#include <string>

using namespace nimbrel;
using namespace nimbrel::test;
using namespace std::string_literals;

namespace {

Result<void> unpackBytes(const QString& root, const QByteArray& package, const QString& destination)
{
    writeFile(root + QStringLiteral("/p.tar.gz"), package);
    QDir().mkpath(destination);
    return unpackPackage(root + QStringLiteral("/p.tar.gz"), destination);
}

}  // namespace

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
    const std::tuple<const char*, std::vector<TarEntry>, QByteArray> cases[] = {
        {"dot-dot", {tarFolder(app + "/"), tarFile(app + "/../../../outside/escape", "x")}, outsideFolder},
        {"absolute path", {tarFile(r + "/outside/escape", "x")}, outsideFolder},
        {"absolute link", {tarLink(app, r + "/outside")}, leaves},
        {"climbing link", {tarFolder(app + "/"), tarLink(app + "/up", "../../outside")}, leaves},
        {"link through a link",
         {tarFolder(app + "/a/b/"), tarLink(app + "/a/b/root", "../.."), tarLink(app + "/esc", "a/b/root/..")},
         leaves},
        {"write through a link",
         {tarFolder(app + "/"), tarLink(app + "/here", "."), tarFile(app + "/here/x", "x")},
         "a link or a file is in its way"},
        {"hard link to outside", {tarHardLink(app, r + "/outside/file")}, "hard link"},
        {"hard link climbing", {tarHardLink(app, "../outside/file")}, "hard link"},
        {"hard link to unknown", {tarFolder(app + "/"), tarHardLink(app + "/x", app + "/y")}, "hard link"},
        {"hard link to a folder", {tarFolder(app + "/"), tarHardLink(app + "/x", app)}, "hard link"},
        {"device", {TarEntry{app, '3'}}, "special entry"},
        {"fifo", {TarEntry{app, '6'}}, "special entry"},
        {"duplicate", {tarFile(app, "a"), tarFile(app, "b")}, "duplicate"},
        {"more than 1 GiB", {tarFolder(app + "/"), TarEntry{app + "/huge", '0', 0644, {}, {}, (1ULL << 30) + 1}}, gib},
        {"more than 1 GiB together",
         {tarFile(app, "0123456789"), TarEntry{app + "2", '0', 0644, {}, {}, (1ULL << 30) - 5}},
         gib},
        {"pax size over 1 GiB", {pax("size", "2147483648"), tarFile(app, "x")}, gib},
        // The reproducer of the escape: "..\0" passed a ".." test that compared the whole value.
        {"pax path with NUL",
         {pax("path", QByteArray::fromStdString("..\0/..\0/..\0/..\0/..\0/..\0/"s) + r.mid(1) + "/outside/escaped.txt"),
          tarFile("harmless", "x")},
         outsideFolder},
        {"too deep", {pax("path", QByteArray("a/").repeated(300) + "x"), tarFile("harmless", "x")}, "too deep"},
        {"GNU long name absolute",
         {TarEntry{"././@LongLink", 'L', 0644, r + "/outside/escape"}, tarFile("harmless", "x")},
         outsideFolder},
        {"pax link path with NUL",
         {tarFolder(app + "/"), pax("linkpath", QByteArray::fromStdString("../..\0/inside"s)),
          tarLink(app + "/l", "ok")},
         leaves},
    };
    for (const auto& [name, entries, reason] : cases) {
        SCOPED_TRACE(name);
        removeTree(root + QStringLiteral("/a"));
        const auto unpacked = unpackBytes(root, gzip(tarArchive(entries)), root + QStringLiteral("/a/b/c/d/out"));
        ASSERT_FALSE(unpacked);
        EXPECT_TRUE(unpacked.error().description.contains(QLatin1String(reason)))
            << unpacked.error().description.toStdString();
        EXPECT_TRUE(snapshot(outside).isEmpty()) << "nothing written outside the destination";
        EXPECT_EQ(names(root),
                  (QStringList{QStringLiteral("a"), QStringLiteral("outside"), QStringLiteral("p.tar.gz")}));
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
