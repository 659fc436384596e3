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
                         TarEntry{"././@PaxHeader", 'x', 0644, paxRecord("path", longName), {}, {}},
                         tarFile("placeholder", "long named")})),
        out);
    ASSERT_TRUE(unpacked) << unpacked.error().description.toStdString();
    const QString app = out + QStringLiteral("/Nimbrel.app");
    const auto entries = snapshot(app);
    EXPECT_EQ(entries.value(QStringLiteral("bin/nimbrel")),
              QStringLiteral("file 755 ") + QByteArray("#!/bin/sh\n").toHex());
    EXPECT_EQ(entries.value(QStringLiteral("bin/setuid")), QStringLiteral("file 755 78")) << "no set-id bits";
    EXPECT_EQ(entries.value(QStringLiteral("bin/shared")), QStringLiteral("file 644 78")) << "no write for others";
    EXPECT_EQ(entries.value(QStringLiteral("open")), QStringLiteral("folder 755"));
    EXPECT_EQ(entries.value(QStringLiteral("ro")), QStringLiteral("folder 555"));
    EXPECT_EQ(entries.value(QStringLiteral("bin/alias")), QStringLiteral("link -> nimbrel"));
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
    const QByteArray r = QFile::encodeName(root);
    const QByteArray app = "Nimbrel.app";
    const QByteArray gib = "more than 1073741824 bytes";
    const std::tuple<const char*, std::vector<TarEntry>, QByteArray> cases[] = {
        {"dot-dot", {tarFolder(app + "/"), tarFile("../../outside/escape", "x")}, "outside its folder"},
        {"dot-dot inside", {tarFile(app + "/../../../outside/escape", "x")}, "outside its folder"},
        {"absolute path", {tarFile(r + "/outside/escape", "x")}, "outside its folder"},
        {"absolute link", {tarLink(app, r + "/outside")}, "leaves its folder"},
        {"climbing link", {tarFolder(app + "/"), tarLink(app + "/up", "../../outside")}, "leaves its folder"},
        {"link through a link",
         {tarFolder(app + "/a/b/"), tarLink(app + "/a/b/root", "../.."), tarLink(app + "/esc", "a/b/root/..")},
         "leaves its folder"},
        {"write through a link",
         {tarFolder(app + "/"), tarLink(app + "/here", "."), tarFile(app + "/here/x", "x")},
         "a link or a file is in its way"},
        {"hard link to outside", {tarHardLink(app, r + "/outside/file")}, "hard link"},
        {"hard link climbing", {tarHardLink(app, "../outside/file")}, "hard link"},
        {"hard link to unknown", {tarFolder(app + "/"), tarHardLink(app + "/x", app + "/y")}, "hard link"},
        {"hard link to a folder", {tarFolder(app + "/"), tarHardLink(app + "/x", app)}, "hard link"},
        {"character device", {TarEntry{app, '3', 0644, {}, {}, {}}}, "special entry"},
        {"block device", {TarEntry{app, '4', 0644, {}, {}, {}}}, "special entry"},
        {"fifo", {TarEntry{app, '6', 0644, {}, {}, {}}}, "special entry"},
        {"duplicate", {tarFile(app, "a"), tarFile(app, "b")}, "duplicate"},
        {"more than 1 GiB", {tarFolder(app + "/"), TarEntry{app + "/huge", '0', 0644, {}, {}, (1ULL << 30) + 1}}, gib},
        {"more than 1 GiB together",
         {tarFile(app, "0123456789"), TarEntry{app + "2", '0', 0644, {}, {}, (1ULL << 30) - 5}},
         gib},
        {"pax size over 1 GiB", {pax("size", "2147483648"), tarFile(app, "x")}, gib},
        {"pax path climbing", {pax("path", "../outside/escape"), tarFile("harmless", "x")}, "outside its folder"},
        // The reproducer of the escape: "..\0" passed a ".." test that compared the whole value.
        {"pax path with NUL",
         {pax("path", QByteArray::fromStdString("..\0/..\0/..\0/..\0/..\0/..\0/"s) + r.mid(1) + "/outside/escaped.txt"),
          tarFile("harmless", "x")},
         "outside its folder"},
        {"too deep", {pax("path", QByteArray("a/").repeated(300) + "x"), tarFile("harmless", "x")}, "too deep"},
        {"GNU long name absolute",
         {TarEntry{"././@LongLink", 'L', 0644, r + "/outside/escape", {}, {}}, tarFile("harmless", "x")},
         "outside its folder"},
        {"pax link path climbing",
         {tarFolder(app + "/"), pax("linkpath", "../../outside"), tarLink(app + "/l", "ok")},
         "leaves its folder"},
        {"pax link path with NUL",
         {tarFolder(app + "/"), pax("linkpath", QByteArray::fromStdString("../..\0/inside"s)),
          tarLink(app + "/l", "ok")},
         "leaves its folder"},
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
    QByteArray corrupted = good;
    corrupted[corrupted.size() / 2] = static_cast<char>(corrupted[corrupted.size() / 2] ^ 0x55);
    QByteArray badHeader = tar;
    badHeader[0] = 'M';  // the checksum no longer matches
    const std::pair<const char*, QByteArray> packages[] = {
        {"truncated", good.left(good.size() - 100)},
        {"cut inside the data", gzip(tar.left(512 + 512 + 50'000))},
        {"corrupted", corrupted},
        {"not compressed", tar},
        {"bad checksum", gzip(badHeader)},
        {"pax record length at the 64-bit limit",
         gzip(tarArchive({TarEntry{"pax", 'x', 0644, "9223372036854775807 path=x\n", {}, {}}, tarFile("N", "x")}))},
        {"empty", QByteArray()},
        {"random bytes", QByteArray("\x1f\x8b not a package")},
    };
    for (const auto& [name, bytes] : packages)
        EXPECT_FALSE(unpackBytes(root, bytes, root + QStringLiteral("/out-") + QString::fromLatin1(name))) << name;
    EXPECT_TRUE(unpackBytes(root, good, root + QStringLiteral("/good")));
}

TEST(PackageSignature, BindsTheBytesAndTheLengthToTheKey)
{
    const QString root = freshDirectory();
    const QString package = root + QStringLiteral("/p.tar.gz");
    writeFile(package, "package bytes");
    const auto signature = signPackage(package, testSigningKey);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifyPackage(package, 13, *signature, testPublicKey));
    QByteArray flipped = *signature;
    flipped[5] = static_cast<char>(flipped[5] ^ 1);
    EXPECT_FALSE(verifyPackage(package, 13, flipped, testPublicKey)) << "altered signature";
    EXPECT_FALSE(verifyPackage(package, 12, *signature, testPublicKey)) << "other length";
    EXPECT_FALSE(verifyPackage(package, 13, *signature, otherPublicKey)) << "other key";
    EXPECT_FALSE(verifyPackage(root + QStringLiteral("/missing"), 13, *signature, testPublicKey));
    writeFile(package, "package byteZ");
    EXPECT_FALSE(verifyPackage(package, 13, *signature, testPublicKey)) << "other bytes, same length";
    // What scripts/package signs.
    EXPECT_EQ(packageStatement(QByteArray(32, '\x01'), 7),
              "nimbrel-package/1 sha256=" + QByteArray(32, '\x01').toHex() + " length=7");
}
