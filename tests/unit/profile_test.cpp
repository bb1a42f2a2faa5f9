#include "framework/linux/profile.h"
#include "test_support.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

using fw::profile::readString;
using fw::profile::writeString;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string read(std::string_view content, std::string_view section, std::string_view key,
                 std::size_t size = 1025) {
    return readString(content, section, key, "", size);
}

TEST(ProfileRead, NamesMatchWithoutCaseOrBlanks) {
    const std::string ini = "[  Common ]\nVERSION = 1.00 \n[platform]\n  loginUrl\t=\thttp://x \n";
    EXPECT_EQ(read(ini, "common", "version"), "1.00");
    EXPECT_EQ(read(ini, "COMMON", " Version "), "1.00");
    EXPECT_EQ(read(ini, "platform", "loginurl"), "http://x");
}

TEST(ProfileRead, QuotesCommentsAndInlineMarks) {
    const std::string ini = "[s]\n"
                            "a=\"  quoted  \"\n"
                            "b='single'\n"
                            "c=\"unbalanced\n"
                            "d=in\"ner\"\n"
                            "e=value ; not a comment # nor this\n"
                            ";f=commented\n"
                            "g==x=y\n"
                            "h=\"\n"
                            "i='mixed\"\n";
    EXPECT_EQ(read(ini, "s", "a"), "  quoted  ");
    EXPECT_EQ(read(ini, "s", "b"), "single");
    EXPECT_EQ(read(ini, "s", "c"), "\"unbalanced");
    EXPECT_EQ(read(ini, "s", "d"), "in\"ner\"");
    EXPECT_EQ(read(ini, "s", "e"), "value ; not a comment # nor this");
    EXPECT_EQ(read(ini, "s", "f"), "");
    EXPECT_EQ(read(ini, "s", "g"), "=x=y");
    EXPECT_EQ(read(ini, "s", "h"), "\"");
    EXPECT_EQ(read(ini, "s", "i"), "'mixed\"");
}

TEST(ProfileRead, FirstDuplicateWinsAndOnlyTheFirstSectionIsRead) {
    const std::string ini = "[s]\nk=first\nk=second\n[S]\nk=third\nother=x\n";
    EXPECT_EQ(read(ini, "s", "k"), "first");
    EXPECT_EQ(read(ini, "s", "other"), "");
}

TEST(ProfileRead, LineEndingsBomAndMissingPieces) {
    for (const char* brk : {"\r\n", "\n", "\r"}) {
        const std::string ini =
            std::string("\xEF\xBB\xBF[a]") + brk + "k=v" + brk + "[b]" + brk + "k=w";
        EXPECT_EQ(read(ini, "a", "k"), "v") << "break " << int(brk[0]);
        EXPECT_EQ(read(ini, "b", "k"), "w");
    }
    EXPECT_EQ(read("", "a", "k"), "");
    EXPECT_EQ(read("[a]\nk=v\n", "b", "k"), "");
    EXPECT_EQ(read("[a]\nk=v\n", "a", "x"), "");
    EXPECT_EQ(readString("[a]\n", "a", "x", "dflt  ", 1025), "dflt");
}

TEST(ProfileRead, BytesPassThroughAndLongValuesAreCut) {
    const std::string gbk = "\xB0\xE6\xB1\xBE"; // two GBK characters
    EXPECT_EQ(read("[s]\nv=" + gbk + "\n", "s", "v"), gbk);
    const std::string utf8 = "版本一";
    EXPECT_EQ(read("[s]\nv=" + utf8 + "\n", "s", "v"), utf8);
    const std::string longValue(3000, 'x');
    EXPECT_EQ(read("[s]\nv=" + longValue + "\n", "s", "v").size(), 1024u);
    EXPECT_EQ(read("[s]\nv=" + std::string(1024, 'y') + "\n", "s", "v").size(), 1024u);
}

TEST(ProfileRead, ANulEndsANameOrAValue) {
    using namespace std::string_literals;
    const auto ini = "[a\0x]\nk=v\0w\nn\0x=y\nq=\"z\0\"\n"s;
    EXPECT_EQ(read(ini, "a", "k"), "v");
    EXPECT_EQ(read(ini, "a", "n"), "y");
    EXPECT_EQ(read(ini, "a", "q"), "\"z"); // the quotes are judged on what is left
    // A write finds the key the same way and writes its name up to the NUL.
    EXPECT_EQ(writeString(ini, "a", "n", "1"), "[a\0x]\nk=v\0w\nn=1\nq=\"z\0\"\n"s);
}

TEST(ProfileWrite, ReplacesAppendsAndKeepsEveryOtherLine) {
    const std::string ini = "; top comment\r\n[common]\r\nversion=1.00\r\n\r\n[log]\r\nx=1\r\n";
    EXPECT_EQ(writeString(ini, "COMMON", "Version", "2.00"),
              "; top comment\r\n[common]\r\nversion=2.00\r\n\r\n[log]\r\nx=1\r\n");
    EXPECT_EQ(writeString(ini, "common", "new", "v"),
              "; top comment\r\n[common]\r\nversion=1.00\r\nnew=v\r\n\r\n[log]\r\nx=1\r\n");
    EXPECT_EQ(writeString(ini, "install", "installTime", "[t]"),
              ini + "[install]\r\ninstallTime=[t]\r\n");
    EXPECT_EQ(writeString("", "install", "k", "v"), "[install]\r\nk=v\r\n");
    // Comments beside the key, in any encoding, stay byte for byte (GBK here).
    const std::string commented = "[common]\r\n; \xb0\xe6\xb1\xbe\r\nversion=1.00\r\n;x\r\n";
    EXPECT_EQ(writeString(commented, "common", "version", "1.01"),
              "[common]\r\n; \xb0\xe6\xb1\xbe\r\nversion=1.01\r\n;x\r\n");
}

TEST(ProfileWrite, FollowsTheFilesLineBreaksAndLastLine) {
    EXPECT_EQ(writeString("[a]\nk=v", "a", "n", "w"), "[a]\nk=v\nn=w");
    EXPECT_EQ(writeString("[a]\rk=v\r", "b", "n", "w"), "[a]\rk=v\r[b]\rn=w\r");
    EXPECT_EQ(writeString("[a]", "a", "n", "w"), "[a]\r\nn=w");
    EXPECT_EQ(writeString("\xEF\xBB\xBF[a]\nk=v\n", "a", "k", "x"), "\xEF\xBB\xBF[a]\nk=x\n");
    // A write is read back as written.
    const auto out = writeString("[a]\nk=v\n", "a", "k", "new value");
    EXPECT_EQ(read(out, "a", "k"), "new value");
}

class ProfileFile : public testsupport::LauncherTest {};

TEST_F(ProfileFile, WriteCreatesReplacesAndLeavesNoTemporaryFile) {
    const auto path = (dir / "x.ini").string();
    EXPECT_EQ(fw::profile::readFile(path, "a", "k", "", 1025), "");
    EXPECT_FALSE(std::filesystem::exists(path)); // reading creates nothing
    ASSERT_TRUE(fw::profile::writeFile(path, "a", "k", "v"));
    ASSERT_TRUE(fw::profile::writeFile(path, "a", "k", "w"));
    EXPECT_EQ(readFile(path), "[a]\r\nk=w\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ProfileFile, WriteIntoAMissingFolderFails) {
    EXPECT_FALSE(fw::profile::writeFile((dir / "missing" / "x.ini").string(), "a", "k", "v"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(ProfileFile, WriteThatCannotReplaceTheFileLeavesItAndNoTemporaryFile) {
    // A folder where the file should be: the rename fails after the
    // temporary file was written.
    std::filesystem::create_directory(dir / "x.ini");
    EXPECT_FALSE(fw::profile::writeFile((dir / "x.ini").string(), "a", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "x.ini"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ProfileFile, AFifoUnderTheNameNeitherBlocksNorIsReplaced) {
    const auto path = dir / "x.ini";
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(fw::profile::readFile(path.string(), "a", "k", "DEF", 1025), "DEF");
    EXPECT_FALSE(fw::profile::writeFile(path.string(), "a", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_fifo(path));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ProfileFile, AUtf16FileIsReadAsTextAndWrittenBackAsUtf16) {
    using namespace std::string_literals;
    const auto path = (dir / "x.ini").string();
    const auto head = "\xFF\xFE[\0a\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0"s;
    writeFile(path, head);
    EXPECT_EQ(fw::profile::readFile(path, "a", "k", "", 1025), "v");
    // U+6E38 and U+1F600, the second as a surrogate pair.
    ASSERT_TRUE(fw::profile::writeFile(path, "a", "n", "\xE6\xB8\xB8\xF0\x9F\x98\x80"));
    EXPECT_EQ(readFile(path), head + "n\0=\0\x38\x6E\x3D\xD8\x00\xDE\r\0\n\0"s);
    EXPECT_EQ(fw::profile::readFile(path, "a", "n", "", 1025), "\xE6\xB8\xB8\xF0\x9F\x98\x80");
}

TEST_F(ProfileFile, FailedWriteInAReadOnlyFolderChangesNothing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const auto sub = dir / "ro";
    std::filesystem::create_directory(sub);
    writeFile(sub / "x.ini", "[a]\nk=old\n");
    ::chmod(sub.c_str(), 0555);
    EXPECT_FALSE(fw::profile::writeFile((sub / "x.ini").string(), "a", "k", "new"));
    ::chmod(sub.c_str(), 0755);
    EXPECT_EQ(readFile(sub / "x.ini"), "[a]\nk=old\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sub), {}), 1);
}

// Each of these would write lines of its own, so other keys or sections
// would change or the value would not read back.
TEST_F(ProfileFile, RefusesWhatTheFileCannotHoldAndChangesNothing) {
    const auto path = dir / "x.ini";
    const std::string ini = "[a]\r\nk=v\r\n[b]\r\nk=w\r\n";
    writeFile(path, ini);
    const struct {
        const char *section, *key, *value;
    } refused[] = {
        {"a", "k", "x\r\n[b]\r\nk=injected"}, // line break in the value
        {"a", "k", "x\ry"},
        {"a\nb", "k", "x"}, // ... in the section
        {"a", "n\n", "x"},  // ... in the key
        {"a", "n=m", "x"},  // reads back as key "n"
        {"a", "[b]", "x"},  // its line is a header: k of [a] moves to [b]
        {"a", "[b", "c]"},
        {"", "\xEF\xBB\xBFn", "x"}, // at the top of the file it is a byte order mark
    };
    for (const auto& w : refused) {
        EXPECT_FALSE(fw::profile::writeFile(path.string(), w.section, w.key, w.value)) << w.key;
        EXPECT_EQ(readFile(path), ini);
    }
    // Marks that stay inside their line are fine.
    ASSERT_TRUE(fw::profile::writeFile(path.string(), "[a]", "k[", "=[b]; x"));
    EXPECT_EQ(fw::profile::readFile(path.string(), "[a]", "k[", "", 1025), "=[b]; x");
    EXPECT_EQ(fw::profile::readFile(path.string(), "b", "k", "", 1025), "w");
}

// A write and a read of `path` in a process that may map only `extra` bytes
// more than it has already.
bool writesAndReadsWithin(const std::string& path, std::size_t extra) {
    std::ifstream status("/proc/self/status");
    std::string field;
    std::size_t kib = 0;
    while (status >> field && field != "VmSize:") {
    }
    status >> kib;
    const rlimit limit{kib * 1024 + extra, RLIM_INFINITY};
    return kib > 0 && ::setrlimit(RLIMIT_AS, &limit) == 0 &&
           fw::profile::writeFile(path, "b", "k", "w") &&
           fw::profile::readFile(path, "b", "k", "", 1025) == "w";
}

// A write holds a small multiple of the file, never a table of its lines: a
// file of blank lines is the case where such a table would be largest.
TEST_F(ProfileFile, NeedsNoMoreMemoryThanASmallMultipleOfTheFile) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers map address space of their own";
#endif
    constexpr std::size_t kSize = 16u << 20;
    const auto path = (dir / "x.ini").string();
    writeFile(path, "[a]\nk=v\n" + std::string(kSize, '\n'));
    EXPECT_EXIT(std::_Exit(writesAndReadsWithin(path, 4 * kSize) ? 0 : 1),
                testing::ExitedWithCode(0), "");
}

TEST_F(ProfileFile, KeepsTheFilesPermissions) {
    const auto path = dir / "x.ini";
    writeFile(path, "[a]\nk=v\n");
    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(fw::profile::writeFile(path.string(), "a", "k", "w"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
