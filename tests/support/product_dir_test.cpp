// The product-directory finder shared by libveyraks and LIBVEYRATBS, tested
// directly: a module's product directory, and the unusable path it hands
// out when there is none.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "product_dir.h"
#include "test_common.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

const char anchor_in_test_program = 0;

// True when a file can be created where a caller would put the service
// program or a file of the product.
bool can_create_below(const std::string &dir) {
    const std::string sep(1, kestrin_test::separator());
    std::string path = dir + sep + "probe.txt";
    if (std::FILE *f = std::fopen(path.c_str(), "w")) {
        std::fclose(f);
        std::remove(path.c_str());
        return true;
    }
    return false;
}

TEST(ProductDirOf, AnAddressInAProgramGivesTheParentOfItsFolder) {
    EXPECT_EQ(veyraks_product::product_dir_of(&anchor_in_test_program), kestrin_test::product_dir());
}

TEST(ProductDirOf, AnAddressOutsideEveryModuleGivesAnUnusablePath) {
    char on_the_stack = 0;
    std::string dir = veyraks_product::product_dir_of(&on_the_stack);
    EXPECT_NE(dir, kestrin_test::product_dir());
    EXPECT_FALSE(dir.empty());
    EXPECT_FALSE(can_create_below(dir)) << dir;
}

// A caller that starts the service program from the product directory
// without testing it must start nothing.
TEST(ProductDirOf, NoProgramCanBeStartedFromTheUnusablePath) {
    char on_the_stack = 0;
    const std::string dir = veyraks_product::product_dir_of(&on_the_stack);
#ifdef _WIN32
    std::string command = "\"" + dir + "\\bin\\gemx_pkl_service.exe\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &si, &pi);
    if (started) {
        TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    EXPECT_FALSE(started) << command;
#else
    std::string program = dir + "/bin/gemx_pkl_service";
    EXPECT_NE(::access(program.c_str(), F_OK), 0) << program;
    EXPECT_NE(::access((dir + "/bin").c_str(), F_OK), 0);
#endif
}

TEST(CopyProductDir, CopiesADirectoryThatFits) {
    char buf[veyraks_product::kProductDirBufferSize];
    std::string fits(veyraks_product::kProductDirBufferSize - 1, 'p');
    ASSERT_EQ(veyraks_product::copy_product_dir(fits, buf), buf);
    EXPECT_EQ(std::string(buf), fits);
    EXPECT_EQ(veyraks_product::copy_product_dir(fits, nullptr), nullptr);
}

TEST(CopyProductDir, ADirectoryThatDoesNotFitGivesTheUnusablePath) {
    char on_the_stack = 0;
    const std::string unusable = veyraks_product::product_dir_of(&on_the_stack);
    char buf[veyraks_product::kProductDirBufferSize];
    std::string too_long(veyraks_product::kProductDirBufferSize, 'p');
    ASSERT_EQ(veyraks_product::copy_product_dir(too_long, buf), buf);
    EXPECT_EQ(std::string(buf), unusable);
}

}  // namespace
