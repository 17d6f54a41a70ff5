#include "fileutil/file_utils.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(-1, Copy_File("src", "src"));
    EXPECT_EQ(data, Read("src"));
    EXPECT_EQ(250, Get_FileSize("src"));
    char buf[4] = {};
    EXPECT_EQ(1, Read_File("src", buf, 246, 4));
    EXPECT_EQ(data.substr(246), std::string(buf, 4));
    EXPECT_EQ(-1, Read_File("src", buf, 247, 4));  // a short piece is refused
    EXPECT_EQ(-1, Read_File("src", buf, -1, 4));
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

}  // namespace
