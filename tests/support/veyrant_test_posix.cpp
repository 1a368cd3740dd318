// LIBVEYRANT on POSIX: the owner-only policy, a failing close, and no sleep
// of its own.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "veyrant.h"

namespace {

TEST(OwnerPolicyPosix, GrantsTheMaskToTheEffectiveUserWithMode0600) {
    auto *policy = static_cast<nt_owner_policy_t *>(nt_owner_security_attributes(0x1F01FF, 1));
    ASSERT_NE(policy, nullptr);
    EXPECT_EQ(policy->access_mask, 0x1F01FFu);
    EXPECT_EQ(policy->mode, 0600u);
    EXPECT_EQ(policy->uid, static_cast<uint32_t>(::geteuid()));
}

TEST(OwnerPolicyPosix, EachThreadHasItsOwnResult) {
    auto *mine = static_cast<nt_owner_policy_t *>(nt_owner_security_attributes(0x1F01FF, 1));
    nt_owner_policy_t *theirs = nullptr;
    std::thread other([&] {
        theirs = static_cast<nt_owner_policy_t *>(nt_owner_security_attributes(0x120089, 0));
    });
    other.join();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(mine->access_mask, 0x1F01FFu) << "another thread's call leaves this result alone";
}

TEST(UnixNtFclosePosix, ReportsAFailedFlush) {
    std::FILE *f = std::fopen("/dev/full", "w");
    if (!f) GTEST_SKIP() << "no /dev/full";
    std::fputs("does not fit", f);
    EXPECT_NE(unix_nt_fclose(f), 0);
}

// The C library's sleep must stay the one every program gets: the library
// must not define a sleep that would interpose it.
TEST(SleepPosix, TheLibraryDoesNotDefineSleep) {
    Dl_info self{};
    ASSERT_NE(::dladdr(reinterpret_cast<void *>(&unix_nt_fclose), &self), 0);
    void *lib = ::dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr) << self.dli_fname;
    void *found = ::dlsym(lib, "sleep");
    ASSERT_NE(found, nullptr) << "the C library's sleep is reachable";
    Dl_info owner{};
    ASSERT_NE(::dladdr(found, &owner), 0);
    EXPECT_STRNE(owner.dli_fname, self.dli_fname) << "sleep comes from " << owner.dli_fname;
    EXPECT_EQ(found, ::dlsym(RTLD_DEFAULT, "sleep"));
    ::dlclose(lib);
}

}  // namespace
