#include "UpdateTestSupport.h"

#include "update/FileTree.h"
#include "update/PackageReader.h"
#include "update/PackageSignature.h"
#include "update/Release.h"
#include "update/Staging.h"

#include <gtest/gtest.h>

#include <functional>
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

QStringList names(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
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

TEST(PackageReader, SignedFolderSurvivesPackingAndVerifies)
{
    const QString root = freshDirectory();
    makeSignedFolder(root + QStringLiteral("/src"), 9);
    const QString out = root + QStringLiteral("/out");
    ASSERT_TRUE(unpackBytes(root, packFolder(root + QStringLiteral("/src")), out));
    EXPECT_EQ(signedBuildNumber(out + QStringLiteral("/Nimbrel.app"), testPublicKey()), 9);
}

struct RefusedCase {
    const char* name;
    std::vector<TarEntry> entries;
    const char* reason;
};

class PackageRefused : public ::testing::TestWithParam<RefusedCase> {};

// Every hostile package fails as a whole and writes nothing outside the destination.
TEST_P(PackageRefused, AndWritesNothingOutside)
{
    const QString root = freshDirectory();
    const QString outside = root + QStringLiteral("/outside");
    QDir().mkpath(outside);
    // Absolute names in the table point into this test's folder, five levels below the destination.
    std::vector<TarEntry> entries = GetParam().entries;
    for (TarEntry& entry : entries) {
        entry.name.replace("@ROOT@", QFile::encodeName(root));
        entry.link.replace("@ROOT@", QFile::encodeName(root));
        entry.data.replace("@ROOT@", QFile::encodeName(root));
        if (entry.type == 'x')
            entry.data =
                paxRecord(entry.data.left(entry.data.indexOf('=')), entry.data.mid(entry.data.indexOf('=') + 1));
    }
    const auto unpacked = unpackBytes(root, gzip(tarArchive(entries)), root + QStringLiteral("/a/b/c/d/out"));
    ASSERT_FALSE(unpacked);
    EXPECT_TRUE(unpacked.error().description.contains(QLatin1String(GetParam().reason)))
        << unpacked.error().description.toStdString();
    EXPECT_TRUE(snapshot(outside).isEmpty()) << "nothing written outside the destination";
    EXPECT_EQ(names(root), (QStringList{QStringLiteral("a"), QStringLiteral("outside"), QStringLiteral("p.tar.gz")}));
}

// The pax cases give "key=value" as data; the test turns it into a record (NULs included).
INSTANTIATE_TEST_SUITE_P(
    Table, PackageRefused,
    ::testing::Values(
        RefusedCase{"DotDot", {tarFolder("Nimbrel.app/"), tarFile("../../outside/escape", "x")}, "outside its folder"},
        RefusedCase{"DotDotInside", {tarFile("Nimbrel.app/../../../outside/escape", "x")}, "outside its folder"},
        RefusedCase{"AbsolutePath", {tarFile("@ROOT@/outside/escape", "x")}, "outside its folder"},
        RefusedCase{"AbsoluteLink", {tarLink("Nimbrel.app", "@ROOT@/outside")}, "leaves its folder"},
        RefusedCase{"ClimbingLink",
                    {tarFolder("Nimbrel.app/"), tarLink("Nimbrel.app/up", "../../outside")},
                    "leaves its folder"},
        RefusedCase{"LinkThroughLink",
                    {tarFolder("Nimbrel.app/a/b/"), tarLink("Nimbrel.app/a/b/root", "../.."),
                     tarLink("Nimbrel.app/esc", "a/b/root/..")},
                    "leaves its folder"},
        RefusedCase{"WriteThroughALink",
                    {tarFolder("Nimbrel.app/"), tarLink("Nimbrel.app/here", "."), tarFile("Nimbrel.app/here/x", "x")},
                    "a link or a file is in its way"},
        RefusedCase{"HardLinkToOutside", {tarHardLink("Nimbrel.app", "@ROOT@/outside/file")}, "hard link"},
        RefusedCase{"HardLinkClimbing", {tarHardLink("Nimbrel.app", "../outside/file")}, "hard link"},
        RefusedCase{"HardLinkToUnknown",
                    {tarFolder("Nimbrel.app/"), tarHardLink("Nimbrel.app/x", "Nimbrel.app/y")},
                    "hard link"},
        RefusedCase{
            "HardLinkToFolder", {tarFolder("Nimbrel.app/"), tarHardLink("Nimbrel.app/x", "Nimbrel.app")}, "hard link"},
        RefusedCase{"CharacterDevice", {TarEntry{"Nimbrel.app", '3', 0644, {}, {}, {}}}, "special entry"},
        RefusedCase{"BlockDevice", {TarEntry{"Nimbrel.app", '4', 0644, {}, {}, {}}}, "special entry"},
        RefusedCase{"Fifo", {TarEntry{"Nimbrel.app", '6', 0644, {}, {}, {}}}, "special entry"},
        RefusedCase{"Duplicate", {tarFile("Nimbrel.app", "a"), tarFile("Nimbrel.app", "b")}, "duplicate"},
        RefusedCase{"MoreThanOneGibibyte",
                    {tarFolder("Nimbrel.app/"), TarEntry{"Nimbrel.app/huge", '0', 0644, {}, {}, (1ULL << 30) + 1}},
                    "more than 1073741824 bytes"},
        RefusedCase{
            "MoreThanOneGibibyteTogether",
            {tarFile("Nimbrel.app", "0123456789"), TarEntry{"Nimbrel.app2", '0', 0644, {}, {}, (1ULL << 30) - 5}},
            "more than 1073741824 bytes"},
        RefusedCase{"PaxSizeOverOneGibibyte",
                    {TarEntry{"pax", 'x', 0644, "size=2147483648", {}, {}}, tarFile("Nimbrel.app", "x")},
                    "more than 1073741824 bytes"},
        RefusedCase{"PaxPathClimbing",
                    {TarEntry{"pax", 'x', 0644, "path=../outside/escape", {}, {}}, tarFile("harmless", "x")},
                    "outside its folder"},
        // The reproducer of the escape: "..\0" passed a ".." test that compared the whole value.
        RefusedCase{
            "PaxPathWithNul",
            {TarEntry{"pax",
                      'x',
                      0644,
                      QByteArray::fromStdString("path=..\0/..\0/..\0/..\0/..\0/..\0/@ROOT@/outside/escaped.txt"s),
                      {},
                      {}},
             tarFile("harmless", "x")},
            "outside its folder"},
        RefusedCase{"TooDeep",
                    {TarEntry{"pax", 'x', 0644, "path=" + QByteArray("a/").repeated(300) + "x", {}, {}},
                     tarFile("harmless", "x")},
                    "too deep"},
        RefusedCase{"GnuLongNameAbsolute",
                    {TarEntry{"././@LongLink", 'L', 0644, "@ROOT@/outside/escape", {}, {}}, tarFile("harmless", "x")},
                    "outside its folder"},
        RefusedCase{"PaxLinkPathClimbing",
                    {tarFolder("Nimbrel.app/"), TarEntry{"pax", 'x', 0644, "linkpath=../../outside", {}, {}},
                     tarLink("Nimbrel.app/l", "ok")},
                    "leaves its folder"},
        RefusedCase{"PaxLinkPathWithNul",
                    {tarFolder("Nimbrel.app/"),
                     TarEntry{"pax", 'x', 0644, QByteArray::fromStdString("linkpath=../..\0/inside"s), {}, {}},
                     tarLink("Nimbrel.app/l", "ok")},
                    "leaves its folder"}),
    [](const auto& info) { return std::string(info.param.name); });

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
    QByteArray overflow =
        tarArchive({TarEntry{"pax", 'x', 0644, "9223372036854775807 path=x\n", {}, {}}, tarFile("Nimbrel.app", "x")});

    const std::vector<std::pair<const char*, QByteArray>> packages{
        {"truncated", good.left(good.size() - 100)},
        {"cut inside the data", gzip(tar.left(512 + 512 + 50'000))},
        {"corrupted", corrupted},
        {"not compressed", tar},
        {"bad checksum", gzip(badHeader)},
        {"pax record length at the 64-bit limit", gzip(overflow)},
        {"empty", QByteArray()},
        {"random bytes", QByteArray("\x1f\x8b not a package")},
    };
    for (const auto& [name, bytes] : packages) {
        SCOPED_TRACE(name);
        const QString out = root + QStringLiteral("/out-") + QString::fromLatin1(name).replace(u' ', u'-');
        EXPECT_FALSE(unpackBytes(root, bytes, out));
    }
    EXPECT_TRUE(unpackBytes(root, good, root + QStringLiteral("/good")));
}

TEST(PackageSignature, BindsTheBytesAndTheLengthToTheKey)
{
    const QString root = freshDirectory();
    const QString package = root + QStringLiteral("/p.tar.gz");
    writeFile(package, "package bytes");
    const auto signature = signPackage(package, testSigningKey());
    ASSERT_TRUE(signature);
    ASSERT_EQ(signature->size(), 64);
    EXPECT_TRUE(verifyPackage(package, 13, *signature, testPublicKey()));

    QByteArray flipped = *signature;
    flipped[5] = static_cast<char>(flipped[5] ^ 1);
    EXPECT_FALSE(verifyPackage(package, 13, flipped, testPublicKey())) << "altered signature";
    EXPECT_FALSE(verifyPackage(package, 12, *signature, testPublicKey())) << "other length";
    EXPECT_FALSE(verifyPackage(package, 13, *signature, otherPublicKey())) << "other key";
    EXPECT_FALSE(verifyPackage(root + QStringLiteral("/missing"), 13, *signature, testPublicKey()));
    writeFile(package, "package byteZ");
    EXPECT_FALSE(verifyPackage(package, 13, *signature, testPublicKey())) << "other bytes, same length";
    EXPECT_EQ(packageStatement(QByteArray(32, '\x01'), 7),
              "nimbrel-package/1 sha256=" + QByteArray(32, '\x01').toHex() + " length=7");
}

class StagingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = freshDirectory();
        context = StagingContext{testPublicKey(), root + QStringLiteral("/Update"), 10};
    }

    // A release for `bytes`, written to the package file, signed by `key`.
    Release release(const QByteArray& bytes, const QByteArray& key = testSigningKey())
    {
        writeFile(package(), bytes);
        Release r;
        r.length = bytes.size();
        r.signature = *signPackage(package(), key);
        return r;
    }
    QByteArray signedFolderPackage(qint64 build, const QByteArray& flavour = "new")
    {
        const QString source = root + QStringLiteral("/src-") + QString::fromLatin1(flavour);
        makeSignedFolder(source, build, flavour);
        return packFolder(source);
    }
    QString package() const { return root + QStringLiteral("/download.tar.gz"); }
    QString staged() const { return context.updateDirectory + QStringLiteral("/Nimbrel.app"); }

    QString root;
    StagingContext context;
};

TEST_F(StagingTest, VerifiedNewerFolderTakesThePlaceOfTheEarlierOne)
{
    const Release first = release(signedFolderPackage(11, "first"));
    ASSERT_EQ(stageUpdate(package(), first, context).value(), staged());
    EXPECT_EQ(readFile(staged() + QStringLiteral("/bin/nimbrel")), "#!/bin/sh\necho first\n");

    const Release second = release(signedFolderPackage(12, "second"));
    ASSERT_EQ(stageUpdate(package(), second, context).value(), staged());
    EXPECT_EQ(readFile(staged() + QStringLiteral("/bin/nimbrel")), "#!/bin/sh\necho second\n");
    EXPECT_TRUE(verifyInstallFolder(staged(), testPublicKey()));
    EXPECT_EQ(names(context.updateDirectory), QStringList{QStringLiteral("Nimbrel.app")}) << "no private folder left";
}

TEST_F(StagingTest, EveryFailureKeepsTheEarlierStagedFolderAndLeavesNothingElse)
{
    const QString outside = root + QStringLiteral("/outside");
    struct Case {
        const char* name;
        std::function<Release()> make;
        UpdateError error;
    };
    const std::vector<Case> cases{
        {"package signed by another key", [&] { return release(signedFolderPackage(11), otherSigningKey()); },
         UpdateError::verificationFailed},
        // Signed by someone else and hostile: the old order unpacked it before any check.
        {"hostile package signed by another key",
         [&] {
             return release(gzip(tarArchive({tarFile(QFile::encodeName(outside) + "/escaped.txt", "x")})),
                            otherSigningKey());
         },
         UpdateError::verificationFailed},
        {"length differs from the feed's",
         [&] {
             Release r = release(signedFolderPackage(11));
             r.length += 1;
             return r;
         },
         UpdateError::verificationFailed},
        {"folder signed by another key",
         [&] {
             const QString source = root + QStringLiteral("/foreign");
             makeInstallFolder(source);
             EXPECT_TRUE(signInstallFolder(source, 11, otherSigningKey()));
             return release(packFolder(source));
         },
         UpdateError::verificationFailed},
        {"older signed folder behind a newer feed build", [&] { return release(signedFolderPackage(9)); },
         UpdateError::verificationFailed},
        {"signed build equal to the running one", [&] { return release(signedFolderPackage(10)); },
         UpdateError::verificationFailed},
        {"application in a subfolder",
         [&] {
             makeSignedFolder(root + QStringLiteral("/nested"), 11);
             return release(packFolder(root + QStringLiteral("/nested"), "Release/Nimbrel.app"));
         },
         UpdateError::appNotFound},
        {"signed package the reader refuses", [&] { return release("\x1f\x8b not a package"); },
         UpdateError::mountFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        removeTree(staged());
        makeSignedFolder(staged(), 11, "earlier");
        const auto before = snapshot(staged());
        const Release r = c.make();
        const auto result = stageUpdate(package(), r, context);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().description, describe(c.error));
        EXPECT_EQ(snapshot(staged()), before);
        EXPECT_EQ(names(context.updateDirectory), QStringList{QStringLiteral("Nimbrel.app")});
        EXPECT_FALSE(exists(outside));
    }
}

TEST_F(StagingTest, LeftoversOfAnInterruptedStagingAreRemovedAndNeverStaged)
{
    // What a staging killed halfway leaves: a private folder with part of a folder.
    writeFile(context.updateDirectory + QStringLiteral("/.staging-Ab12Cd/Nimbrel.app/_signature/manifest"), "{}");
    writeFile(context.updateDirectory + QStringLiteral("/apply.json"), "{}");
    removeStagingLeftovers(context.updateDirectory);
    EXPECT_EQ(names(context.updateDirectory), QStringList{QStringLiteral("apply.json")});
}
