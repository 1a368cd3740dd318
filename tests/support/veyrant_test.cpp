// LIBVEYRANT services alike on every platform: the stream close.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_common.h"
#include "veyrant.h"

namespace {

TEST(UnixNtFclose, ClosesAStreamAndKeepsWhatWasWritten) {
    kestrin_test::TempDir dir("veyrant");
    std::string path = dir.file("closed.txt");
    std::FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("12345", f);  // still buffered: the close must flush it
    EXPECT_EQ(unix_nt_fclose(f), 0);
    EXPECT_EQ(kestrin_test::read_file(path), "12345");
}

TEST(UnixNtFclose, ANullStreamFailsWithoutCrashing) { EXPECT_NE(unix_nt_fclose(nullptr), 0); }

}  // namespace
