#include "fileutil/file_utils.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "config/temp_cwd.h"

namespace {

using FileUtils = TempCwd;

TEST_F(FileUtils, CopyPieceSize) {
    const long cases[][2] = {{0, 0}, {50, 50}, {100, 100}, {101, 1}, {250, 2}, {10485760, 65535}};
    for (const auto& c : cases) EXPECT_EQ(c[1], Copy_PieceSize(c[0])) << c[0];
}

TEST_F(FileUtils, CopyReadAndSize) {
    std::string data;
    for (int i = 0; i < 250; i++) data += static_cast<char>(i * 7);
    Write("src", data), Write("empty", "");
    EXPECT_EQ(1, Copy_File("dst", "src"));
    EXPECT_EQ(data, Read("dst"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Copy_File("dst", "missing"));
    EXPECT_EQ("\nCan`t open source file: missing\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(data, Read("dst"));  // left as it was
    EXPECT_EQ(1, Copy_File("dst", "empty"));
    EXPECT_EQ("", Read("dst"));
    // The same file under another name or through a link is never truncated.
    ASSERT_EQ(0, link("src", "hard"));
    ASSERT_EQ(0, symlink("src", "soft"));
    for (const char* same : {"src", "./src", "hard", "soft"}) {
        EXPECT_EQ(-1, Copy_File(same, "src")) << same;
        EXPECT_EQ(data, Read("src"));
    }
    EXPECT_EQ(250, Get_FileSize("src"));
    char buf[4] = {};
    EXPECT_EQ(1, Read_File("src", buf, 246, 4));
    EXPECT_EQ(data.substr(246), std::string(buf, 4));
    EXPECT_EQ(-1, Read_File("src", buf, 247, 4));  // a short piece is refused
    EXPECT_EQ(-1, Read_File("src", buf, -1, 4));
    // A running program may not be written, even by root, but it can be read.
    EXPECT_EQ(1, Read_File("/proc/self/exe", buf, 0, 4));
    EXPECT_EQ("\177ELF", std::string(buf, 4));
}

// Insert (Add_to_File) or overwrite (Edit_File) "XY" in "abcdef"; refusals print an Error.
TEST_F(FileUtils, InsertAndOverwriteRefuseOffsetsOutsideTheFile) {
    // Insert or overwrite, offset, result, the file afterwards.
    const std::tuple<bool, int, int, const char*> cases[] = {
        {true, 2, 0, "abXYcdef"}, {true, 6, 0, "abcdefXY"},  {true, 7, -1, "abcdef"},
        {true, -1, -1, "abcdef"}, {false, 2, 0, "abXYef"},   {false, 4, 0, "abcdXY"},
        {false, 5, -1, "abcdef"}, {false, -2, -1, "abcdef"},
    };
    for (const auto& [insert, off, ret, after] : cases) {
        SCOPED_TRACE(std::to_string(insert) + " " + std::to_string(off));
        Write("f", "abcdef");
        testing::internal::CaptureStdout();
        const int r = insert ? Add_to_File("f", "XY", off, 2) : Edit_File("f", "XY", off, 2);
        EXPECT_EQ(ret != 0,
                  testing::internal::GetCapturedStdout().find("Error:") != std::string::npos);
        EXPECT_EQ(ret, r);
        EXPECT_EQ(after, Read("f"));
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Edit_File("none", "x", 0, 1));
    EXPECT_EQ(0, Get_FileSize("none"));
    EXPECT_EQ("\nCan`t open file: none\n\nCan`t open file: none\n",
              testing::internal::GetCapturedStdout());
}

// A rewrite that fails half-way (the disk fills) leaves the file as it was and no stray
// file beside it; one that succeeds keeps the file's mode and a symbolic link to it.
TEST_F(FileUtils, RewriteReplacesTheFileOnlyWhenComplete) {
    const std::string data(0x10000, 'd');
    Write("f", data);
    ASSERT_EQ(0, chmod("f", 0640));
    ASSERT_EQ(0, symlink("f", "ln"));
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 0x8000;
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    testing::internal::CaptureStdout();
    const int inserted = Add_to_File("f", "XY", 0, 2);
    const int edited = Edit_File("ln", "XY", 0, 2);
    setrlimit(RLIMIT_FSIZE, &saved), signal(SIGXFSZ, old_handler);
    EXPECT_EQ("File recordind error: f\nFile recordind error: ln\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ(-1, inserted);
    EXPECT_EQ(-1, edited);
    EXPECT_EQ(data, Read("f"));
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator("."), {}));

    EXPECT_EQ(0, Edit_File("ln", "XY", 0x8000, 2));
    EXPECT_EQ(data.substr(0, 0x8000) + "XY" + data.substr(0x8002), Read("f"));
    struct stat st;
    ASSERT_EQ(0, lstat("ln", &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(0, stat("f", &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
}

}  // namespace
