// libveyraks on Windows: the temporary directory from GetTempPathA, the
// login name from GetUserNameA, absolute pathnames as the OS forms them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_common.h"
#include "veyraks.h"

namespace fs = std::filesystem;

namespace {

// Changes back to the directory that was current when it was made.
struct RestoreCwd {
    fs::path saved = fs::current_path();
    ~RestoreCwd() { fs::current_path(saved); }
};

std::string temp_path_without_separator() {
    char buf[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buf, buf);
    std::string dir(buf, n);
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return dir;
}

TEST(TmpdirWin32, IsGetTempPathWithoutItsTrailingSeparator) {
    char buf[1024];
    ASSERT_EQ(fileutl_get_tmpdir(0, buf, 1023, 0), 0);
    EXPECT_EQ(std::string(buf), temp_path_without_separator());
    std::string pid_path = std::string(buf) + "\\tmpdir-probe.txt";
    std::FILE *f = std::fopen(pid_path.c_str(), "w");
    ASSERT_NE(f, nullptr) << "callers join names with a backslash";
    std::fclose(f);
    std::remove(pid_path.c_str());
}

TEST(TmpdirWin32, AResultThatDoesNotFitGivesAPathWhereNothingCanBeCreated) {
    const std::string dir = temp_path_without_separator();
    const std::string unusable = "<kestrin-no-tmpdir>";
    std::vector<char> buf(dir.size() + 8, 'x');
    ASSERT_EQ(fileutl_get_tmpdir(0, buf.data(), static_cast<int>(dir.size()) + 1, 0), 0);
    if (dir.size() > unusable.size()) {
        EXPECT_NE(fileutl_get_tmpdir(0, buf.data(), static_cast<int>(dir.size()), 0), 0);
        EXPECT_EQ(std::string(buf.data()), unusable);
        std::string probe = std::string(buf.data()) + "\\gemx_pkl_service.pid";
        std::FILE *f = std::fopen(probe.c_str(), "w");
        EXPECT_EQ(f, nullptr) << probe;
        if (f) std::fclose(f);
    }
    EXPECT_NE(fileutl_get_tmpdir(0, buf.data(), 4, 0), 0);
    EXPECT_STREQ(buf.data(), "");
}

TEST(LoginNameWin32, IsGetUserNameA) {
    char buf[257];
    DWORD len = sizeof buf;
    ASSERT_TRUE(GetUserNameA(buf, &len));
    EXPECT_STREQ(sysutl_myloginname(), buf);
}

// fileutl_abspn agrees with the OS's own full path names for the forms
// that the lexical rules cover.
TEST(AbspnWin32, AgreesWithGetFullPathName) {
    kestrin_test::TempDir dir("abspn");
    RestoreCwd restore;
    fs::current_path(dir.path());
    for (const char *path : {"f", "a\\b\\..\\c", "a/b/./c", "..\\x", "\\rooted\\x", "C:\\x\\..\\y",
                             "\\\\srv\\share\\a\\..\\b", "//srv/share/q/"}) {
        char full[1024];
        DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
        ASSERT_GT(n, 0u) << path;
        std::string expected(full, n);
        if (expected.size() > 3 && expected.back() == '\\') expected.pop_back();
        char buf[1024];
        ASSERT_EQ(fileutl_abspn(path, buf, sizeof buf), 0) << path;
        EXPECT_EQ(std::string(buf), expected) << path;
    }
}

}  // namespace
