#include "UpdateTestSupport.h"

#include "update/FileTree.h"
#include "update/ToolPaths.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>
#include <thread>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

// --- a tar writer for hand-made packages, including malicious ones -------------------------------------------

struct TarEntry {
    QByteArray name;
    char type = '0';
    int mode = 0644;
    QByteArray data;
    QByteArray link;
    std::optional<quint64> declaredSize;  // a size in the header that differs from the data written
};

void putOctal(char* field, size_t length, quint64 value)
{
    const QByteArray text = QByteArray::number(value, 8).rightJustified(static_cast<qsizetype>(length - 1), '0');
    std::memcpy(field, text.constData(), length - 1);
}

QByteArray header(const TarEntry& entry)
{
    QByteArray block(512, '\0');
    char* h = block.data();
    std::memcpy(h, entry.name.constData(), static_cast<size_t>(std::min<qsizetype>(entry.name.size(), 100)));
    putOctal(h + 100, 8, static_cast<quint64>(entry.mode));
    putOctal(h + 108, 8, 0);
    putOctal(h + 116, 8, 0);
    putOctal(h + 124, 12, entry.declaredSize.value_or(static_cast<quint64>(entry.data.size())));
    putOctal(h + 136, 12, 1'700'000'000);
    h[156] = entry.type;
    std::memcpy(h + 157, entry.link.constData(), static_cast<size_t>(std::min<qsizetype>(entry.link.size(), 100)));
    std::memcpy(h + 257,
                "ustar\0"
                "00",
                8);
    std::memset(h + 148, ' ', 8);
    quint64 sum = 0;
    for (char c : block)
        sum += static_cast<unsigned char>(c);
    putOctal(h + 148, 7, sum);
    return block;
}

QByteArray paxRecord(const QByteArray& key, const QByteArray& value)
{
    const qsizetype body = key.size() + value.size() + 3;  // space, '=', newline
    qsizetype length = body + 1;
    while (QByteArray::number(length).size() + body != length)
        ++length;
    return QByteArray::number(length) + ' ' + key + '=' + value + '\n';
}

QByteArray tarArchive(const std::vector<TarEntry>& entries, bool endMarker = true)
{
    QByteArray archive;
    for (const TarEntry& entry : entries) {
        archive += header(entry);
        archive += entry.data;
        archive += QByteArray((512 - entry.data.size() % 512) % 512, '\0');
    }
    if (endMarker)
        archive += QByteArray(1024 * 10, '\0');
    return archive;
}

QByteArray gzip(const QByteArray& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return out;
}

struct ToolRun {
    int status = -1;
    QString output;
};

ToolRun runTool(UpdateTool tool, const QStringList& arguments)
{
    ProcessToolRunner runner([](UpdateTool t) { return builtTool(t); });
    const ToolOutcome outcome = runner.run(tool, arguments);
    return {outcome.status, outcome.output};
}

ToolRun attach(const QString& package, const QString& mountPoint)
{
    return runTool(UpdateTool::hdiutil,
                   {"attach", package, "-nobrowse", "-noverify", "-noautoopen", "-mountpoint", mountPoint});
}

TarEntry tarFolder(const QByteArray& name, int mode = 0755)
{
    return {name, '5', mode, {}, {}, {}};
}
TarEntry tarFile(const QByteArray& name, const QByteArray& data, int mode = 0644)
{
    return {name, '0', mode, data, {}, {}};
}
TarEntry tarLink(const QByteArray& name, const QByteArray& target)
{
    return {name, '2', 0777, {}, target, {}};
}
TarEntry tarHardLink(const QByteArray& name, const QByteArray& target)
{
    return {name, '1', 0644, {}, target, {}};
}

}  // namespace

// --- hdiutil attach / detach --------------------------------------------------------------------------------------

TEST(AttachTool, UnpacksThePackageWithModesAndLinks)
{
    const QString root = freshDirectory();
    const QString package = root + QStringLiteral("/release.tar.gz");
    const QByteArray longName = "Nimbrel.app/share/" + QByteArray(150, 'n');
    writeFile(
        package,
        gzip(tarArchive({tarFolder("./"), tarFolder("Nimbrel.app/"), tarFolder("Nimbrel.app/bin/"),
                         tarFile("Nimbrel.app/bin/nimbrel", "#!/bin/sh\n", 0755),
                         tarFile("Nimbrel.app/bin/setuid", "x", 04755), tarFolder("Nimbrel.app/ro/", 0555),
                         tarFile("Nimbrel.app/ro/data", "data", 0444), tarLink("Nimbrel.app/bin/alias", "nimbrel"),
                         tarHardLink("Nimbrel.app/bin/again", "Nimbrel.app/bin/nimbrel"),
                         TarEntry{"././@PaxHeader", 'x', 0644, paxRecord("path", longName), {}, {}},
                         tarFile("placeholder", "long named")})));
    const QString mountPoint = root + QStringLiteral("/Nimbrel-update-mount");

    const ToolRun run = attach(package, mountPoint);
    ASSERT_EQ(run.status, 0) << qPrintable(run.output);
    const QString app = mountPoint + QStringLiteral("/Nimbrel.app");
    EXPECT_EQ(readFile(app + QStringLiteral("/bin/nimbrel")), QByteArray("#!/bin/sh\n"));
    EXPECT_EQ(QFileInfo(app + QStringLiteral("/bin/nimbrel")).permissions() & QFile::ExeOwner, QFile::ExeOwner);
    EXPECT_EQ(snapshot(app).value(QStringLiteral("bin/setuid")), QStringLiteral("file 755 78")) << "no set-id bits";
    EXPECT_EQ(snapshot(app).value(QStringLiteral("ro")), QStringLiteral("folder 555"));
    EXPECT_EQ(QFileInfo(app + QStringLiteral("/bin/alias")).symLinkTarget(), app + QStringLiteral("/bin/nimbrel"));
    EXPECT_EQ(QFileInfo(app + QStringLiteral("/bin/again")).size(), 10);
    EXPECT_EQ(readFile(mountPoint + QLatin1Char('/') + QString::fromLatin1(longName)), QByteArray("long named"));

    // Detach removes it all, read-only folder included.
    const ToolRun detached = runTool(UpdateTool::hdiutil, {"detach", mountPoint, "-quiet", "-force"});
    EXPECT_EQ(detached.status, 0) << qPrintable(detached.output);
    EXPECT_FALSE(exists(mountPoint));
}

TEST(AttachTool, SignedBundleSurvivesPackingAndVerifies)
{
    const QString root = freshDirectory();
    makeSignedBundle(root + QStringLiteral("/src/Nimbrel.app"), 9);
    QProcess tar;
    tar.start(QStringLiteral("tar"), {"-C", root + "/src", "-czf", root + "/release.tar.gz", "Nimbrel.app"});
    ASSERT_TRUE(tar.waitForFinished());
    ASSERT_EQ(tar.exitCode(), 0);
    ASSERT_EQ(attach(root + QStringLiteral("/release.tar.gz"), root + QStringLiteral("/mnt")).status, 0);
    EXPECT_EQ(signedBuildNumber(root + QStringLiteral("/mnt/Nimbrel.app"), testPublicKey()), 9);
}

struct RefusedCase {
    const char* name;
    std::vector<TarEntry> entries;
    const char* reason;
};

class AttachRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(AttachRefuses, AndLeavesNothingBehind)
{
    const QString root = freshDirectory();
    const QString outside = root + QStringLiteral("/outside");
    QDir().mkpath(outside);
    const QString package = root + QStringLiteral("/release.tar.gz");
    // Absolute names in the table point into this test's folder.
    std::vector<TarEntry> entries = GetParam().entries;
    for (TarEntry& entry : entries) {
        entry.name.replace("@ROOT@", QFile::encodeName(root));
        entry.link.replace("@ROOT@", QFile::encodeName(root));
        if (entry.type == 'L')
            entry.data.replace("@ROOT@", QFile::encodeName(root));
    }
    writeFile(package, gzip(tarArchive(entries)));
    const QString mountPoint = root + QStringLiteral("/mnt/point");
    QDir().mkpath(root + QStringLiteral("/mnt"));

    const ToolRun run = attach(package, mountPoint);
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.output.contains(QLatin1String(GetParam().reason))) << qPrintable(run.output);
    EXPECT_FALSE(exists(mountPoint)) << "a failed attach is never detached, so it cleans up itself";
    EXPECT_TRUE(snapshot(outside).isEmpty()) << "nothing written outside the mount point";
    EXPECT_EQ(QDir(root + QStringLiteral("/mnt")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Table, AttachRefuses,
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
        RefusedCase{"CharacterDevice", {TarEntry{"Nimbrel.app", '3', 0644, {}, {}, {}}}, "device or pipe"},
        RefusedCase{"BlockDevice", {TarEntry{"Nimbrel.app", '4', 0644, {}, {}, {}}}, "device or pipe"},
        RefusedCase{"Fifo", {TarEntry{"Nimbrel.app", '6', 0644, {}, {}, {}}}, "device or pipe"},
        RefusedCase{"Sparse", {TarEntry{"Nimbrel.app", 'S', 0644, {}, {}, {}}}, "unknown kind"},
        RefusedCase{"Duplicate", {tarFile("Nimbrel.app", "a"), tarFile("Nimbrel.app", "b")}, "cannot create"},
        RefusedCase{"MoreThanOneGibibyte",
                    {tarFolder("Nimbrel.app/"), TarEntry{"Nimbrel.app/huge", '0', 0644, {}, {}, (1ULL << 30) + 1}},
                    "more than 1073741824 bytes"},
        RefusedCase{
            "MoreThanOneGibibyteTogether",
            {tarFile("Nimbrel.app", "0123456789"), TarEntry{"Nimbrel.app2", '0', 0644, {}, {}, (1ULL << 30) - 5}},
            "more than 1073741824 bytes"},
        RefusedCase{"PaxSizeOverOneGibibyte",
                    {TarEntry{"pax", 'x', 0644, paxRecord("size", "2147483648"), {}, {}}, tarFile("Nimbrel.app", "x")},
                    "more than 1073741824 bytes"},
        RefusedCase{
            "PaxPathClimbing",
            {TarEntry{"pax", 'x', 0644, paxRecord("path", "../outside/escape"), {}, {}}, tarFile("harmless", "x")},
            "outside its folder"},
        RefusedCase{"GnuLongNameAbsolute",
                    {TarEntry{"././@LongLink", 'L', 0644, "@ROOT@/outside/escape", {}, {}}, tarFile("harmless", "x")},
                    "outside its folder"},
        RefusedCase{
            "PaxLinkPathClimbing",
            {tarFolder("Nimbrel.app/"), TarEntry{"pax", 'x', 0644, paxRecord("linkpath", "../../outside"), {}, {}},
             tarLink("Nimbrel.app/l", "ok")},
            "leaves its folder"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AttachTool, RefusesDamagedAndIncompletePackages)
{
    const QString root = freshDirectory();
    const QByteArray tar =
        tarArchive({tarFolder("Nimbrel.app/"), tarFile("Nimbrel.app/data", QByteArray(100'000, 'd'))});
    const QByteArray good = gzip(tar);
    QByteArray corrupted = good;
    corrupted[corrupted.size() / 2] = static_cast<char>(corrupted[corrupted.size() / 2] ^ 0x55);
    QByteArray badHeader = tar;
    badHeader[0] = 'M';  // the checksum no longer matches

    const std::vector<std::pair<const char*, QByteArray>> packages{
        {"truncated", good.left(good.size() - 100)},
        {"cut at the end of the data", gzip(tar.left(512 + 512 + 100'352))},
        {"corrupted", corrupted},
        {"no end marker", gzip(tarArchive({tarFolder("Nimbrel.app/")}, false))},
        {"not compressed", tar},
        {"bad checksum", gzip(badHeader)},
        {"empty", QByteArray()},
    };
    for (const auto& [name, bytes] : packages) {
        writeFile(root + QStringLiteral("/p.tar.gz"), bytes);
        const QString mountPoint = root + QStringLiteral("/mnt");
        EXPECT_NE(attach(root + QStringLiteral("/p.tar.gz"), mountPoint).status, 0) << name;
        EXPECT_FALSE(exists(mountPoint)) << name;
    }
    writeFile(root + QStringLiteral("/p.tar.gz"), good);
    EXPECT_EQ(attach(root + QStringLiteral("/p.tar.gz"), root + QStringLiteral("/mnt")).status, 0);
}

TEST(AttachTool, ExistingMountPointMustBeEmpty)
{
    const QString root = freshDirectory();
    writeFile(root + QStringLiteral("/p.tar.gz"), gzip(tarArchive({tarFile("Nimbrel.app", "x")})));
    writeFile(root + QStringLiteral("/busy/mine"), "keep");
    EXPECT_NE(attach(root + QStringLiteral("/p.tar.gz"), root + QStringLiteral("/busy")).status, 0);
    EXPECT_EQ(readFile(root + QStringLiteral("/busy/mine")), QByteArray("keep"));

    QDir().mkpath(root + QStringLiteral("/empty"));
    EXPECT_EQ(attach(root + QStringLiteral("/p.tar.gz"), root + QStringLiteral("/empty")).status, 0);
    EXPECT_EQ(runTool(UpdateTool::hdiutil, {"attach", root + QStringLiteral("/p.tar.gz")}).status, 1)
        << "no mount point";
}

TEST(DetachTool, RemovesOnlyWhatAttachMounted)
{
    const QString root = freshDirectory();
    writeFile(root + QStringLiteral("/home/precious"), "keep");
    const ToolRun refused =
        runTool(UpdateTool::hdiutil, {"detach", root + QStringLiteral("/home"), "-quiet", "-force"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(readFile(root + QStringLiteral("/home/precious")), QByteArray("keep"));
    EXPECT_EQ(runTool(UpdateTool::hdiutil, {"detach", root + QStringLiteral("/none")}).status, 1);
}

// --- ditto ------------------------------------------------------------------------------------------------------

TEST(DittoTool, CopiesModesLinksAndEmptyFolders)
{
    const QString root = freshDirectory();
    const QString source = makeBundle(root + QStringLiteral("/a/Nimbrel.app"));
    ::chmod(QFile::encodeName(source + QStringLiteral("/share")).constData(), 0750);
    const ToolRun run = runTool(UpdateTool::ditto, {source, root + QStringLiteral("/b/Nimbrel.app")});
    // The destination's parent does not exist: like the original, that is an error.
    EXPECT_NE(run.status, 0);

    QDir().mkpath(root + QStringLiteral("/b"));
    ASSERT_EQ(runTool(UpdateTool::ditto, {source, root + QStringLiteral("/b/Nimbrel.app")}).status, 0);
    EXPECT_EQ(snapshot(root + QStringLiteral("/b/Nimbrel.app")), snapshot(source));
    EXPECT_EQ(QFileInfo(root + QStringLiteral("/b/Nimbrel.app/lib/libx.so")).symLinkTarget(),
              root + QStringLiteral("/b/Nimbrel.app/lib/libx.so.1"));
}

TEST(DittoTool, MergesIntoAnExistingFolderAndRefusesToCopyIntoItself)
{
    const QString root = freshDirectory();
    const QString source = makeBundle(root + QStringLiteral("/a/Nimbrel.app"));
    writeFile(root + QStringLiteral("/b/Nimbrel.app/bin/nimbrel"), "older", 0700);
    writeFile(root + QStringLiteral("/b/Nimbrel.app/keep"), "kept");
    ASSERT_EQ(runTool(UpdateTool::ditto, {source, root + QStringLiteral("/b/Nimbrel.app")}).status, 0);
    EXPECT_EQ(readFile(root + QStringLiteral("/b/Nimbrel.app/bin/nimbrel")),
              readFile(source + QStringLiteral("/bin/nimbrel")));
    EXPECT_EQ(readFile(root + QStringLiteral("/b/Nimbrel.app/keep")), QByteArray("kept"));

    EXPECT_EQ(runTool(UpdateTool::ditto, {source, source + QStringLiteral("/inner")}).status, 1);
    EXPECT_FALSE(exists(source + QStringLiteral("/inner")));
    EXPECT_EQ(runTool(UpdateTool::ditto, {root + QStringLiteral("/missing"), root + QStringLiteral("/c")}).status, 1);
    EXPECT_EQ(runTool(UpdateTool::ditto, {source}).status, 1);
}

// --- codesign ---------------------------------------------------------------------------------------------------

TEST(CodesignTool, VerifiesAgainstTheKeyOfTheNamedTeam)
{
    if (!updatePublicKeyIsTestKey())
        GTEST_SKIP() << "this build verifies against a release key; the test bundles carry the test key's signature";
    const QString root = freshDirectory();
    const QString bundle = makeSignedBundle(root + QStringLiteral("/Nimbrel.app"));
    const QString requirement = codeSigningRequirement();

    EXPECT_EQ(runTool(UpdateTool::codesign, {"--verify", "--deep", "--strict", "-R", requirement, bundle}).status, 0);
    EXPECT_EQ(
        runTool(UpdateTool::codesign, {"--verify", "--deep", "--strict", "-R",
                                       "=anchor apple generic and certificate leaf[subject.OU] = ZZZZZZZZZZ", bundle})
            .status,
        3);
    EXPECT_EQ(runTool(UpdateTool::codesign, {"--verify", "--deep", "--strict", "-R", "anything", bundle}).status, 3);
    EXPECT_EQ(runTool(UpdateTool::codesign, {"--verify", bundle}).status, 2) << "the requirement is required";

    writeFile(bundle + QStringLiteral("/bin/extra"), "unlisted");
    EXPECT_EQ(runTool(UpdateTool::codesign, {"--verify", "--deep", "--strict", "-R", requirement, bundle}).status, 1);

    const QString other = makeBundle(root + QStringLiteral("/other/Nimbrel.app"));
    ASSERT_TRUE(signBundle(other, 42, otherSigningKey()).ok());
    EXPECT_EQ(runTool(UpdateTool::codesign, {"--verify", "--deep", "--strict", "-R", requirement, other}).status, 1);
}

// --- xattr and open ---------------------------------------------------------------------------------------------

TEST(XattrTool, HasNothingToClear)
{
    const QString bundle = makeBundle(freshDirectory() + QStringLiteral("/Nimbrel.app"));
    const auto before = snapshot(bundle);
    EXPECT_EQ(runTool(UpdateTool::xattr, {"-dr", "com.apple.quarantine", bundle}).status, 0);
    EXPECT_EQ(snapshot(bundle), before);
    EXPECT_EQ(runTool(UpdateTool::xattr, {"-dr", "com.apple.quarantine", bundle + QStringLiteral("/none")}).status, 1);
}

TEST(OpenTool, StartsTheBundlesProgramInItsOwnSession)
{
    const QString root = freshDirectory();
    const QString bundle = root + QStringLiteral("/My Apps/Nimbrel.app");
    const QString marker = root + QStringLiteral("/started");
    // The program notes its pid and session, then lingers: open must not wait for it.
    writeFile(bundle + QStringLiteral("/bin/nimbrel"),
              "#!/bin/sh\necho \"$$ $(cut -d' ' -f6 /proc/$$/stat) $PWD\" > '" + QFile::encodeName(marker) +
                  ".tmp'\nmv '" + QFile::encodeName(marker) + ".tmp' '" + QFile::encodeName(marker) +
                  "'\nexec sleep 5\n",
              0755);

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(runTool(UpdateTool::open, {bundle}).status, 0);
    EXPECT_LT(timer.elapsed(), 3000);
    for (int i = 0; i < 300 && !exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const QList<QByteArray> fields = readFile(marker).trimmed().split(' ');
    ASSERT_EQ(fields.size(), 3) << readFile(marker).constData();
    EXPECT_EQ(fields[0], fields[1]) << "the program leads a session of its own";
    EXPECT_EQ(fields[2], QByteArray("/"));
    ::kill(fields[0].toInt(), SIGKILL);

    EXPECT_EQ(runTool(UpdateTool::open, {root + QStringLiteral("/Missing.app")}).status, 1);
}
