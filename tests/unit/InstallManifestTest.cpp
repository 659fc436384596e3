#include "UpdateTestSupport.h"

#include "update/InstallManifest.h"
#include "update/FileTree.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <functional>

using namespace nimbrel;
using namespace nimbrel::test;

TEST(InstallManifest, SignedFolderVerifiesAndCarriesItsBuild)
{
    const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), 1234);
    const auto verified = verifyInstallFolder(folder, testPublicKey());
    ASSERT_TRUE(verified.ok()) << qPrintable(verified.error().description);
    EXPECT_EQ(verified->build, 1234);
    EXPECT_EQ(signedBuildNumber(folder, testPublicKey()), 1234);

    std::vector<QString> paths;
    for (const ManifestEntry& entry : verified->entries)
        paths.push_back(entry.path);
    EXPECT_EQ(paths, (std::vector<QString>{"bin", "bin/nimbrel", "lib", "lib/libx.so", "lib/libx.so.1", "share",
                                           "share/empty", "share/readme"}));
    EXPECT_EQ(verified->entries[1].mode, 0755);
    EXPECT_EQ(verified->entries[3].target, QStringLiteral("libx.so.1"));
    EXPECT_EQ(verified->entries[7].mode, 0444);
}

TEST(InstallManifest, SigningAgainReplacesTheSignature)
{
    const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), 1);
    writeFile(folder + QStringLiteral("/bin/extra"), "added later");
    ASSERT_TRUE(signInstallFolder(folder, 2, testSigningKey()).ok());
    EXPECT_EQ(signedBuildNumber(folder, testPublicKey()), 2);
}

struct TamperCase {
    const char* name;
    std::function<void(const QString& folder)> change;
    const char* reason;  // a part of the error text
};

class TamperedFolder : public ::testing::TestWithParam<TamperCase> {};

TEST_P(TamperedFolder, FailsVerification)
{
    const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), 77);
    GetParam().change(folder);
    const auto verified = verifyInstallFolder(folder, testPublicKey());
    ASSERT_FALSE(verified.ok());
    EXPECT_TRUE(verified.error().description.contains(QLatin1String(GetParam().reason)))
        << qPrintable(verified.error().description);
    EXPECT_EQ(signedBuildNumber(folder, testPublicKey()), std::nullopt);
}

namespace {

QString at(const QString& folder, const char* relative)
{
    return folder + QLatin1Char('/') + QLatin1String(relative);
}

void editManifest(const QString& folder, const QByteArray& from, const QByteArray& to)
{
    const QString path = at(folder, "_signature/manifest");
    writeFile(path, readFile(path).replace(from, to));
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Table, TamperedFolder,
    ::testing::Values(
        TamperCase{"ChangedFile", [](const QString& b) { writeFile(at(b, "bin/nimbrel"), "#!/bin/sh\nevil\n", 0755); },
                   "changed since signing: file bin/nimbrel"},
        TamperCase{"ChangedMode", [](const QString& b) { ::chmod(QFile::encodeName(at(b, "lib/libx.so.1")), 0755); },
                   "changed since signing: file lib/libx.so.1"},
        TamperCase{"ExtraFile", [](const QString& b) { writeFile(at(b, "bin/helper"), "x"); },
                   "not in the signed manifest: file bin/helper"},
        TamperCase{"ExtraHiddenFile", [](const QString& b) { writeFile(at(b, ".preload"), "x"); },
                   "not in the signed manifest: file .preload"},
        TamperCase{"ExtraFolder", [](const QString& b) { QDir().mkpath(at(b, "plugins")); },
                   "not in the signed manifest: directory plugins"},
        TamperCase{"MissingFile", [](const QString& b) { QFile::remove(at(b, "share/readme")); },
                   "missing from the folder: file share/readme"},
        TamperCase{"MissingFolder", [](const QString& b) { QDir(at(b, "share/empty")).removeRecursively(); },
                   "missing from the folder: directory share/empty"},
        TamperCase{"FileReplacedByLink",
                   [](const QString& b) {
                       QFile::remove(at(b, "lib/libx.so.1"));
                       makeLink(QStringLiteral("../bin/nimbrel"), at(b, "lib/libx.so.1"));
                   },
                   "changed since signing: link lib/libx.so.1"},
        TamperCase{"LinkRetargeted",
                   [](const QString& b) {
                       QFile::remove(at(b, "lib/libx.so"));
                       makeLink(QStringLiteral("../bin/nimbrel"), at(b, "lib/libx.so"));
                   },
                   "changed since signing: link lib/libx.so"},
        TamperCase{"EscapingLinkAdded",
                   [](const QString& b) { makeLink(QStringLiteral("../../../etc/passwd"), at(b, "lib/passwd")); },
                   "leaves the folder"},
        TamperCase{"Pipe", [](const QString& b) { ::mkfifo(QFile::encodeName(at(b, "bin/pipe")), 0644); },
                   "not a file, folder or link"},
        TamperCase{"SetIdBit", [](const QString& b) { ::chmod(QFile::encodeName(at(b, "bin/nimbrel")), 04755); },
                   "set-id"},
        TamperCase{"BuildNumberRaised", [](const QString& b) { editManifest(b, "\"build\":77", "\"build\":78"); },
                   "signature does not match"},
        TamperCase{"ManifestHashReplaced",
                   [](const QString& b) {
                       const QByteArray evil =
                           QCryptographicHash::hash("#!/bin/sh\nevil\n", QCryptographicHash::Sha256).toHex();
                       const QByteArray good =
                           QCryptographicHash::hash("#!/bin/sh\necho new\n", QCryptographicHash::Sha256).toHex();
                       editManifest(b, good, evil);
                       writeFile(at(b, "bin/nimbrel"), "#!/bin/sh\nevil\n", 0755);
                   },
                   "signature does not match"},
        TamperCase{"SignatureRemoved", [](const QString& b) { QFile::remove(at(b, "_signature/signature")); },
                   "unexpected files"},
        TamperCase{"SignatureGarbled", [](const QString& b) { writeFile(at(b, "_signature/signature"), "AAAA\n"); },
                   "signature does not match"},
        TamperCase{"ExtraFileInSignatureFolder", [](const QString& b) { writeFile(at(b, "_signature/extra"), "x"); },
                   "unexpected files"},
        TamperCase{"Unsigned", [](const QString& b) { removeTree(at(b, "_signature")); }, "not signed"},
        TamperCase{"SignedByAnotherKey",
                   [](const QString& b) { ASSERT_TRUE(signInstallFolder(b, 77, otherSigningKey()).ok()); },
                   "signature does not match"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstallManifest, WrongPublicKeyFails)
{
    const QString folder = makeSignedFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"));
    EXPECT_FALSE(verifyInstallFolder(folder, otherPublicKey()).ok());
    EXPECT_FALSE(verifyInstallFolder(folder, QByteArray()).ok());
    EXPECT_EQ(signedBuildNumber(folder, otherPublicKey()), std::nullopt);
}

TEST(InstallManifest, FolderMustBeARealFolder)
{
    const QString root = freshDirectory();
    const QString folder = makeSignedFolder(root + QStringLiteral("/real.app"));
    makeLink(folder, root + QStringLiteral("/Nimbrel.app"));
    EXPECT_FALSE(verifyInstallFolder(root + QStringLiteral("/Nimbrel.app"), testPublicKey()).ok());
    EXPECT_FALSE(verifyInstallFolder(root + QStringLiteral("/missing.app"), testPublicKey()).ok());
}

struct EscapeCase {
    const char* link;  // relative to the folder
    const char* target;
};

class SigningRefusesEscapingLinks : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(SigningRefusesEscapingLinks, AndLeavesNoSignature)
{
    const QString folder = makeInstallFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"));
    QDir().mkpath(folder + QStringLiteral("/a/b"));
    makeLink(QString::fromUtf8(GetParam().target), folder + QLatin1Char('/') + QLatin1String(GetParam().link));
    const auto signedFolder = signInstallFolder(folder, 1, testSigningKey());
    ASSERT_FALSE(signedFolder.ok());
    EXPECT_TRUE(signedFolder.error().description.contains(QLatin1String("leaves the folder")));
    EXPECT_FALSE(exists(folder + QStringLiteral("/_signature/manifest")));
}

INSTANTIATE_TEST_SUITE_P(Table, SigningRefusesEscapingLinks,
                         ::testing::Values(EscapeCase{"abs", "/etc/passwd"}, EscapeCase{"up", ".."},
                                           EscapeCase{"a/b/up3", "../../.."}, EscapeCase{"a/mid", "b/../../.."},
                                           EscapeCase{"a/b/through", "../../lib/libx.so/.."}));

TEST(InstallManifest, DecodeAcceptsOnlyTheCanonicalForm)
{
    const QByteArray good =
        R"({"build":5,"entries":[{"mode":"0755","path":"bin","type":"directory"},)"
        R"({"mode":"0755","path":"bin/n",)"
        R"("sha256":"0000000000000000000000000000000000000000000000000000000000000000","type":"file"},)"
        R"({"path":"bin/x","target":"n","type":"link"}],"format":"nimbrel-bundle-manifest/1"})";
    const auto decoded = decodeManifest(good);
    ASSERT_TRUE(decoded.ok()) << qPrintable(decoded.error().description);
    EXPECT_EQ(decoded->build, 5);
    EXPECT_EQ(encodeManifest(*decoded), good);

    const std::vector<std::pair<QByteArray, QByteArray>> changes{
        {R"("build":5)", R"("build":-5)"},
        {R"("build":5)", R"("build":5.5)"},
        {R"("build":5)", R"("build":"5")"},
        {R"("target":"n")", R"("target":"../../n")"},
        {R"("target":"n")", R"("target":"/n")"},
        {R"("path":"bin/x")", R"("path":"bin/../x")"},
        {R"("path":"bin/x")", R"("path":"/bin/x")"},
        {R"("path":"bin/x")", R"("path":"a")"},      // out of order
        {R"("path":"bin/x")", R"("path":"bin/n")"},  // duplicate
        {R"("path":"bin/x")", R"("path":"_signature")"},
        {R"("mode":"0755","path":"bin/n")", R"("mode":"4755","path":"bin/n")"},
        {R"("mode":"0755","path":"bin/n")", R"("mode":"755","path":"bin/n")"},
        {"0000000000000000000000000000000000000000000000000000000000000000",
         "000000000000000000000000000000000000000000000000000000000000000A"},
        {R"("type":"link")", R"("type":"device")"},
        {R"("type":"link")", R"("type":"link","extra":1)"},
        {"nimbrel-bundle-manifest/1", "nimbrel-bundle-manifest/2"},
        {R"({"build":5,)", R"({ "build":5,)"},  // not compact
    };
    for (const auto& [from, to] : changes) {
        QByteArray bad = good;
        bad.replace(from, to);
        ASSERT_NE(bad, good);
        EXPECT_FALSE(decodeManifest(bad).ok()) << bad.constData();
    }
}

struct LinkCase {
    const char* link;
    const char* target;
    bool inside;
};

class LinkContainment : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkContainment, ClimbsNoHigherThanTheRoot)
{
    EXPECT_EQ(linkStaysInside(QString::fromUtf8(GetParam().link), QString::fromUtf8(GetParam().target)),
              GetParam().inside)
        << GetParam().link << " -> " << GetParam().target;
}

INSTANTIATE_TEST_SUITE_P(Table, LinkContainment,
                         ::testing::Values(LinkCase{"lib/libx.so", "libx.so.1", true},
                                           LinkCase{"a/b/c", "../../x", true}, LinkCase{"a/b/c", "../../..", false},
                                           LinkCase{"top", "..", false}, LinkCase{"top", ".", true},
                                           LinkCase{"top", "./x/./y", true}, LinkCase{"a/l", "..", true},
                                           LinkCase{"a/l", "x/..", false}, LinkCase{"a/l", "../x/../..", false},
                                           LinkCase{"a/l", "/etc", false}, LinkCase{"a/l", "", false},
                                           LinkCase{"Nimbrel.app/lib/l", "../../Nimbrel.app/x", true},
                                           LinkCase{"Nimbrel.app/l", "../..", false}));

TEST(ContainedPath, RefusesAbsoluteAndClimbingNames)
{
    EXPECT_TRUE(isContainedRelativePath(QStringLiteral("Nimbrel.app/bin/nimbrel")));
    EXPECT_TRUE(isContainedRelativePath(QStringLiteral("./Nimbrel.app/")));
    EXPECT_FALSE(isContainedRelativePath(QStringLiteral("/etc/passwd")));
    EXPECT_FALSE(isContainedRelativePath(QStringLiteral("a/../../b")));
    EXPECT_FALSE(isContainedRelativePath(QStringLiteral("..")));
    EXPECT_FALSE(isContainedRelativePath(QStringLiteral("")));
    EXPECT_FALSE(isContainedRelativePath(QStringLiteral("./")));
    EXPECT_FALSE(isContainedRelativePath(QStringLiteral("a//b")));
}

TEST(RemoveTree, RemovesReadOnlyFoldersButNeverFollowsLinks)
{
    const QString root = freshDirectory();
    const QString keep = root + QStringLiteral("/keep");
    writeFile(keep + QStringLiteral("/precious"), "stays");
    const QString doomed = root + QStringLiteral("/doomed");
    writeFile(doomed + QStringLiteral("/ro/file"), "x", 0444);
    ::chmod(QFile::encodeName(doomed + QStringLiteral("/ro")).constData(), 0555);
    makeLink(keep, doomed + QStringLiteral("/link-to-keep"));

    EXPECT_TRUE(removeTree(doomed));
    EXPECT_FALSE(exists(doomed));
    EXPECT_EQ(readFile(keep + QStringLiteral("/precious")), QByteArray("stays"));
    EXPECT_TRUE(removeTree(doomed)) << "nothing left is success";
}

TEST(Ed25519Keys, PublicKeyFromEitherHalf)
{
    EXPECT_EQ(testPublicKey().size(), 32);
    EXPECT_EQ(ed25519PublicKeyFromPem(testSigningKey()), testPublicKey());
    EXPECT_NE(testPublicKey(), otherPublicKey());
    EXPECT_TRUE(ed25519PublicKeyFromPem("not a key").isEmpty());
    EXPECT_FALSE(signInstallFolder(makeInstallFolder(freshDirectory() + QStringLiteral("/Nimbrel.app")), 1, "not a key").ok());
}
