// LIBVEYRANT on Windows: security attributes for the current user alone,
// and sleep.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

#include "veyrant.h"

namespace {

// The user SID of the process token.
std::vector<BYTE> token_user() {
    HANDLE token = nullptr;
    std::vector<BYTE> buf;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buf;
    DWORD need = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &need);
    buf.resize(need);
    if (!GetTokenInformation(token, TokenUser, buf.data(), need, &need)) buf.clear();
    CloseHandle(token);
    return buf;
}

TEST(OwnerAttributesWin32, DaclHasOneEntryGrantingTheMaskToTheCurrentUser) {
    auto *sa = static_cast<SECURITY_ATTRIBUTES *>(nt_owner_security_attributes(0x1F01FF, 1));
    ASSERT_NE(sa, nullptr);
    EXPECT_EQ(sa->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_EQ(sa->bInheritHandle, TRUE);
    ASSERT_NE(sa->lpSecurityDescriptor, nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(sa->lpSecurityDescriptor));

    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sa->lpSecurityDescriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr) << "a null DACL would grant everyone everything";
    ASSERT_EQ(dacl->AceCount, 1);

    void *ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, &ace));
    auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Mask, 0x1F01FFu);
    std::vector<BYTE> user = token_user();
    ASSERT_FALSE(user.empty());
    EXPECT_TRUE(EqualSid(&allowed->SidStart, reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid));
}

TEST(OwnerAttributesWin32, InheritSelectsBInheritHandle) {
    auto *sa = static_cast<SECURITY_ATTRIBUTES *>(nt_owner_security_attributes(GENERIC_READ, 0));
    ASSERT_NE(sa, nullptr);
    EXPECT_EQ(sa->bInheritHandle, FALSE);
}

TEST(OwnerAttributesWin32, AreAcceptedWhenCreatingAnObject) {
    auto *sa = static_cast<SECURITY_ATTRIBUTES *>(nt_owner_security_attributes(0x1F01FF, 1));
    ASSERT_NE(sa, nullptr);
    HANDLE event = CreateEventA(sa, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr) << GetLastError();
    CloseHandle(event);
    HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\kestrin_veyrant_test_pipe", PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 255, 4096,
                                   4096, 5000, sa);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(pipe);
}

TEST(OwnerAttributesWin32, EachThreadHasItsOwnResult) {
    void *mine = nt_owner_security_attributes(0x1F01FF, 1);
    void *theirs = nullptr;
    std::thread other([&] { theirs = nt_owner_security_attributes(0x1F01FF, 1); });
    other.join();
    EXPECT_NE(mine, theirs);
    auto *sa = static_cast<SECURITY_ATTRIBUTES *>(mine);
    EXPECT_TRUE(IsValidSecurityDescriptor(sa->lpSecurityDescriptor))
        << "another thread's call and end leave this result alone";
}

TEST(SleepWin32, IsExportedAndReturnsZero) {
    HMODULE lib = GetModuleHandleA("LIBVEYRANT.dll");
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(GetProcAddress(lib, "sleep"), nullptr);
    EXPECT_EQ(sleep(0), 0u);
}

}  // namespace
