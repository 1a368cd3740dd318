// Lexical pathname normalisation by POSIX and by Windows rules, tested on
// every platform through the pure functions behind fileutl_abspn.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fileutl_internal.h"

namespace {

using veyraks_fileutl::copy_to_buffer;
using veyraks_fileutl::normalize_posix;
using veyraks_fileutl::normalize_windows;

struct Case {
    const char *cwd;
    const char *path;
    std::optional<std::string> expected;  // nullopt: the call fails
};

std::ostream &operator<<(std::ostream &os, const Case &c) {
    return os << "cwd=\"" << c.cwd << "\" path=\"" << c.path << "\"";
}

class PosixNormalize : public ::testing::TestWithParam<Case> {};

TEST_P(PosixNormalize, GivesTheAbsoluteNormalForm) {
    const Case &c = GetParam();
    EXPECT_EQ(normalize_posix(c.cwd, c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PosixNormalize,
    ::testing::Values(
        // Relative paths against the cwd.
        Case{"/home/u", "f", "/home/u/f"}, Case{"/home/u", "./f", "/home/u/f"},
        Case{"/home/u", "a/b/../c", "/home/u/a/c"}, Case{"/home/u", "..", "/home"},
        Case{"/home/u", "../..", "/"}, Case{"/home/u", "../../../../x", "/x"},
        Case{"/home/u", ".", "/home/u"}, Case{"/home/u/", "f", "/home/u/f"},
        Case{"/", "f", "/f"}, Case{"/", "..", "/"},
        // Repeated and trailing separators, dots in names.
        Case{"/home/u", "a//b///c/", "/home/u/a/b/c"}, Case{"/home/u", "a/./././b", "/home/u/a/b"},
        Case{"/home/u", "...", "/home/u/..."}, Case{"/home/u", ".hidden/..x", "/home/u/.hidden/..x"},
        Case{"/a/./b/../c", "d", "/a/c/d"},
        // Absolute paths ignore the cwd, even a missing one.
        Case{"/home/u", "/etc/./passwd", "/etc/passwd"}, Case{"", "/x/../y", "/y"},
        Case{"", "//x//y//", "/x/y"}, Case{"", "/..", "/"}, Case{"", "/", "/"},
        // Backslashes are ordinary characters here.
        Case{"/h", "a\\b", "/h/a\\b"},
        // Failures: empty path, relative path without an absolute cwd.
        Case{"/home/u", "", std::nullopt}, Case{"", "f", std::nullopt},
        Case{"home/u", "f", std::nullopt}));

class WindowsNormalize : public ::testing::TestWithParam<Case> {};

TEST_P(WindowsNormalize, GivesTheAbsoluteNormalForm) {
    const Case &c = GetParam();
    EXPECT_EQ(normalize_windows(c.cwd, c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Relative, WindowsNormalize,
    ::testing::Values(Case{"C:\\work", "f", "C:\\work\\f"}, Case{"C:\\work", "a\\..\\b", "C:\\work\\b"},
                      Case{"C:\\work", "a/b/./c", "C:\\work\\a\\b\\c"},
                      Case{"C:\\work", "..\\..\\..", "C:\\"}, Case{"C:\\", "f", "C:\\f"},
                      Case{"C:\\work\\", "f\\\\g\\", "C:\\work\\f\\g"},
                      Case{"C:/work/x", "..", "C:\\work"}, Case{"C:\\work", ".", "C:\\work"}));

INSTANTIATE_TEST_SUITE_P(
    DriveAbsolute, WindowsNormalize,
    ::testing::Values(Case{"C:\\work", "D:\\x\\..\\y", "D:\\y"}, Case{"", "d:/x//y/", "d:\\x\\y"},
                      Case{"C:\\work", "C:\\..\\..", "C:\\"}, Case{"", "C:\\", "C:\\"},
                      Case{"", "C:/", "C:\\"}));

INSTANTIATE_TEST_SUITE_P(
    DriveRelative, WindowsNormalize,
    ::testing::Values(
        // Same drive as the cwd (letters compared without case): against the cwd.
        Case{"C:\\work", "C:f", "C:\\work\\f"}, Case{"C:\\work", "c:..\\x", "C:\\x"},
        Case{"c:\\work", "C:", "c:\\work"},
        // Another drive: against that drive's root.
        Case{"C:\\work", "D:f", "D:\\f"}, Case{"C:\\work", "D:", "D:\\"},
        Case{"C:\\work", "D:..\\..", "D:\\"}, Case{"\\\\srv\\share\\d", "E:x", "E:\\x"},
        Case{"", "E:x", "E:\\x"}));

INSTANTIATE_TEST_SUITE_P(
    Rooted, WindowsNormalize,
    ::testing::Values(Case{"C:\\work\\deep", "\\x", "C:\\x"}, Case{"C:\\work", "/x/../y", "C:\\y"},
                      Case{"C:\\work", "\\", "C:\\"}, Case{"C:\\work", "\\..", "C:\\"},
                      Case{"\\\\srv\\share\\d\\e", "\\x", "\\\\srv\\share\\x"},
                      Case{"\\\\srv\\share\\d", "\\..\\..", "\\\\srv\\share\\"}));

INSTANTIATE_TEST_SUITE_P(
    Unc, WindowsNormalize,
    ::testing::Values(
        Case{"C:\\work", "\\\\srv\\share\\a\\..\\b", "\\\\srv\\share\\b"},
        Case{"C:\\work", "//srv/share/a/b/", "\\\\srv\\share\\a\\b"},
        Case{"", "\\\\srv\\share", "\\\\srv\\share\\"},
        Case{"", "\\\\srv\\share\\..\\..\\other", "\\\\srv\\share\\other"},
        // Relative paths against a UNC cwd keep its server and share.
        Case{"\\\\srv\\share\\d", "f", "\\\\srv\\share\\d\\f"},
        Case{"\\\\srv\\share\\d", "..\\..\\..", "\\\\srv\\share\\"},
        // Malformed: no server or no share.
        Case{"C:\\work", "\\\\", std::nullopt}, Case{"C:\\work", "\\\\srv", std::nullopt},
        Case{"C:\\work", "\\\\srv\\", std::nullopt}, Case{"C:\\work", "\\\\\\share\\x", std::nullopt},
        Case{"C:\\work", "\\\\srv\\\\x", std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    Failures, WindowsNormalize,
    ::testing::Values(Case{"C:\\work", "", std::nullopt}, Case{"", "f", std::nullopt},
                      Case{"", "\\x", std::nullopt}, Case{"work", "f", std::nullopt},
                      Case{"C:work", "f", std::nullopt}, Case{"\\rooted", "f", std::nullopt},
                      Case{"\\\\srv", "f", std::nullopt}));

TEST(CopyToBuffer, CopiesOnlyWhatFitsWithItsNul) {
    char buf[8];
    EXPECT_TRUE(copy_to_buffer("1234567", buf, sizeof buf));
    EXPECT_STREQ(buf, "1234567");
    EXPECT_FALSE(copy_to_buffer("12345678", buf, sizeof buf));
    EXPECT_STREQ(buf, "") << "a text that does not fit leaves an empty buffer";
    EXPECT_TRUE(copy_to_buffer("", buf, 1));
    EXPECT_STREQ(buf, "");
    buf[0] = 'x';
    EXPECT_FALSE(copy_to_buffer("a", buf, 0));
    EXPECT_EQ(buf[0], 'x') << "size 0 writes nothing";
    EXPECT_FALSE(copy_to_buffer("a", buf, -5));
    EXPECT_FALSE(copy_to_buffer("a", nullptr, 8));
}

}  // namespace
