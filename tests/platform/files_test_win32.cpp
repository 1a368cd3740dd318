// What only Windows shows of the file layer: its joining rules with
// drives, rooted and UNC pathnames, and text-mode reading.
#include "files.h"

#include "test_common.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using kestrin_test::TempDir;

TEST(JoinToDirectory, WindowsRules) {
    struct Case {
        const char *base;
        const char *pathname;
        const char *expected;
    } cases[] = {
        // Relative: appended, one separator between.
        {"C:\\ws", "src\\a.c", "C:\\ws\\src\\a.c"},
        {"C:\\ws\\", "src\\a.c", "C:\\ws\\src\\a.c"},
        {"C:\\ws/", "a.c", "C:\\ws/a.c"},
        {"C:\\", "a.c", "C:\\a.c"},
        {"C:\\ws", "..\\up", "C:\\ws\\..\\up"},
        {"\\\\srv\\share\\ws", "a.c", "\\\\srv\\share\\ws\\a.c"},
        // Absolute with a drive: unchanged.
        {"C:\\ws", "D:\\x", "D:\\x"},
        {"C:\\ws", "c:/x", "c:/x"},
        // UNC: unchanged.
        {"C:\\ws", "\\\\srv\\share\\x", "\\\\srv\\share\\x"},
        {"C:\\ws", "//srv/share/x", "//srv/share/x"},
        // Rooted: base's drive or base's \\server\share.
        {"C:\\ws\\sub", "\\x", "C:\\x"},
        {"d:\\ws", "/x/y", "d:/x/y"},
        {"\\\\srv\\share\\ws\\sub", "\\x", "\\\\srv\\share\\x"},
        {"\\\\srv\\share", "\\x", "\\\\srv\\share\\x"},
        {"//srv/share/ws", "\\x", "//srv/share\\x"},
        {"relative\\base", "\\x", "\\x"},
        // Drive-relative: joined when base is on that drive, else the root.
        {"C:\\ws", "C:x", "C:\\ws\\x"},
        {"c:\\ws", "C:x", "c:\\ws\\x"},
        {"C:\\ws\\", "C:x", "C:\\ws\\x"},
        {"C:\\ws", "C:", "C:\\ws"},
        {"C:\\ws", "D:x", "D:\\x"},
        {"\\\\srv\\share\\ws", "D:x", "D:\\x"},
        // Empty sides.
        {"C:\\ws", "", "C:\\ws"},
        {"", "rel", "rel"},
        {"", "C:\\abs", "C:\\abs"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(platform::join_to_directory(c.base, c.pathname), c.expected)
            << "base \"" << c.base << "\", pathname \"" << c.pathname << "\"";
    }
}

TEST(SharedOpen, ReadIsInTextMode) {
    TempDir dir("text");
    std::string path = dir.file("pid");
    ASSERT_TRUE(kestrin_test::write_file(path, "812\r\n"));
    std::FILE *f = platform::open_shared_for_read(path.c_str());
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, n), "812\n");
}

}  // namespace
