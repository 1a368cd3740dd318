// Who may open the service pipe on Windows: the DACL that a pipe instance
// carries, read back from the client side of a connection, and the
// descriptor that the owner-only security attributes hand out, must both
// grant access to the current user alone; and a token in which the user's
// SID counts only for denying is refused the pipe.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "pipe.h"
#include "pipe_test_util.h"
#include "veyrant.h"

namespace {

// Owns a kernel handle; closes it when destroyed.
class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (valid()) CloseHandle(h_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE *out() { return &h_; }

private:
    HANDLE h_;
};

// Owns a security descriptor that the system allocated with LocalAlloc.
class LocalDescriptor {
public:
    LocalDescriptor() = default;
    ~LocalDescriptor() {
        if (sd_) LocalFree(sd_);
    }
    LocalDescriptor(const LocalDescriptor &) = delete;
    LocalDescriptor &operator=(const LocalDescriptor &) = delete;
    PSECURITY_DESCRIPTOR get() const { return sd_; }
    PSECURITY_DESCRIPTOR *out() { return &sd_; }

private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
};

// One record of the process token (TokenUser, TokenOwner); empty on
// failure.
std::vector<BYTE> token_record(TOKEN_INFORMATION_CLASS what) {
    Handle token(nullptr);
    std::vector<BYTE> buf;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) return buf;
    DWORD need = 0;
    GetTokenInformation(token.get(), what, nullptr, 0, &need);
    buf.resize(need);
    if (need == 0 || !GetTokenInformation(token.get(), what, buf.data(), need, &need)) buf.clear();
    return buf;
}

std::vector<BYTE> token_user() { return token_record(TokenUser); }

PSID user_sid(std::vector<BYTE> &record) { return reinterpret_cast<TOKEN_USER *>(record.data())->User.Sid; }

// True when the program runs under Wine, which exports its version from
// ntdll.
bool under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Makes the calling thread act with token for the life of the object.
class ScopedImpersonation {
public:
    explicit ScopedImpersonation(HANDLE token) : active_(SetThreadToken(nullptr, token) != 0) {}
    ~ScopedImpersonation() {
        if (active_) RevertToSelf();
    }
    ScopedImpersonation(const ScopedImpersonation &) = delete;
    ScopedImpersonation &operator=(const ScopedImpersonation &) = delete;
    bool active() const { return active_; }

private:
    bool active_;
};

// An impersonation token like the process's own in which the user's SID
// only denies: no entry that grants the user grants this token anything.
bool token_without_user(PSID user, Handle *out) {
    Handle process_token(nullptr);
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          process_token.out())) {
        return false;
    }
    SID_AND_ATTRIBUTES disabled{user, 0};
    Handle restricted(nullptr);
    if (!CreateRestrictedToken(process_token.get(), 0, 1, &disabled, 0, nullptr, 0, nullptr, restricted.out())) {
        return false;
    }
    return DuplicateToken(restricted.get(), SecurityImpersonation, out->out()) != 0;
}

// The SID as text ("S-1-5-..."), for messages.
std::string sid_text(PSID sid) {
    char *text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "<unreadable SID>";
    std::string out = text;
    LocalFree(text);
    return out;
}

// The groups that must never be granted access to another user's pipe.
struct BroadGroup {
    WELL_KNOWN_SID_TYPE type;
    const char *name;
};
const BroadGroup kBroadGroups[] = {
    {WinWorldSid, "Everyone"},
    {WinAnonymousSid, "Anonymous"},
    {WinBuiltinUsersSid, "Users"},
    {WinAuthenticatedUserSid, "Authenticated Users"},
    {WinNetworkSid, "Network"},
};

// The name of the broad group sid stands for, or null when it is none.
const char *broad_group(PSID sid) {
    for (const BroadGroup &g : kBroadGroups) {
        BYTE buf[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof buf;
        if (CreateWellKnownSid(g.type, nullptr, buf, &size) && EqualSid(sid, buf)) return g.name;
    }
    return nullptr;
}

// Expects dacl to be present and not null (a null DACL lets everyone in),
// every entry that grants access to name the user, and no entry to name a
// broad group. Entry types other than plain allow and deny have no place in
// an owner-only DACL and fail too. expected_mask, when not 0, is the mask
// the user's entry must grant.
void expect_owner_only(BOOL present, PACL dacl, PSID user, DWORD expected_mask) {
    ASSERT_TRUE(present) << "no DACL: the object gets a default one";
    ASSERT_NE(dacl, nullptr) << "a null DACL grants everyone full access";
    int user_grants = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        void *entry = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &entry));
        const auto *header = static_cast<ACE_HEADER *>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE) << "unexpected entry type";
        const auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
        PSID sid = const_cast<DWORD *>(&allowed->SidStart);
        const char *group = broad_group(sid);
        EXPECT_EQ(group, nullptr) << "access granted to " << group;
        EXPECT_TRUE(EqualSid(sid, user)) << "access granted to " << sid_text(sid) << ", not the user "
                                         << sid_text(user);
        if (EqualSid(sid, user)) {
            ++user_grants;
            if (expected_mask != 0) {
                EXPECT_EQ(allowed->Mask, expected_mask);
            }
        }
    }
    EXPECT_GE(user_grants, 1) << "the user itself is granted nothing";
}

// The mask the service pipe is created with (FILE_ALL_ACCESS).
constexpr DWORD kPipeAccessMask = 0x1F01FF;

TEST(PipeSecurityWin32, AttributesTheLibraryHandsOutGrantTheUserAlone) {
    std::vector<BYTE> record = token_user();
    ASSERT_FALSE(record.empty());
    auto *sa = static_cast<SECURITY_ATTRIBUTES *>(nt_owner_security_attributes(kPipeAccessMask, 1));
    ASSERT_NE(sa, nullptr);
    ASSERT_NE(sa->lpSecurityDescriptor, nullptr);
    ASSERT_TRUE(IsValidSecurityDescriptor(sa->lpSecurityDescriptor));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sa->lpSecurityDescriptor, &present, &dacl, &defaulted));
    expect_owner_only(present, dacl, user_sid(record), kPipeAccessMask);
}

// The DACL of a live pipe instance as a client that opened it reads it
// back: what the system actually enforces, not what was asked for.
TEST(PipeSecurityWin32, PipeInstanceGrantsTheUserAlone) {
    std::vector<BYTE> record = token_user();
    ASSERT_FALSE(record.empty());
    const std::string name = pipe_test::unique_pipe_name();
    platform::PipeInstance server = platform::PipeInstance::create(name);
    ASSERT_TRUE(server.valid());
    Handle client(CreateFileA(name.c_str(), READ_CONTROL | GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr));
    ASSERT_TRUE(client.valid()) << "open failed, error " << GetLastError();

    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalDescriptor sd;
    const DWORD rc = GetSecurityInfo(client.get(), SE_KERNEL_OBJECT,
                                     DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, &owner, nullptr, &dacl,
                                     nullptr, sd.out());
    ASSERT_EQ(rc, static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(sd.get(), nullptr);
    BOOL present = FALSE, defaulted = FALSE;
    PACL from_descriptor = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd.get(), &present, &from_descriptor, &defaulted));
    expect_owner_only(present, from_descriptor, user_sid(record), 0);
    EXPECT_EQ(dacl, from_descriptor);
    // The attributes name no owner, so the pipe gets the token's default
    // owner. The owner may always rewrite the DACL, so it must not be a
    // broad group either.
    ASSERT_NE(owner, nullptr);
    std::vector<BYTE> default_owner = token_record(TokenOwner);
    ASSERT_FALSE(default_owner.empty());
    PSID expected_owner = reinterpret_cast<TOKEN_OWNER *>(default_owner.data())->Owner;
    EXPECT_TRUE(EqualSid(owner, expected_owner)) << "owned by " << sid_text(owner) << ", not "
                                                  << sid_text(expected_owner);
    const char *group = broad_group(owner);
    EXPECT_EQ(group, nullptr) << "the pipe is owned by " << group;
}

// The DACL is what decides: with the user's SID only denying, the open is
// refused, while the user's own token opens the next free instance.
TEST(PipeSecurityWin32, TokenWithoutTheUserIsRefused) {
    std::vector<BYTE> record = token_user();
    ASSERT_FALSE(record.empty());
    const std::string name = pipe_test::unique_pipe_name();
    platform::PipeInstance first = platform::PipeInstance::create(name);
    platform::PipeInstance second = platform::PipeInstance::create(name);
    ASSERT_TRUE(first.valid() && second.valid());
    Handle restricted(nullptr);
    ASSERT_TRUE(token_without_user(user_sid(record), &restricted)) << "error " << GetLastError();

    DWORD error = 0;
    bool opened = false;
    {
        ScopedImpersonation as_restricted(restricted.get());
        ASSERT_TRUE(as_restricted.active()) << "error " << GetLastError();
        Handle client(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        opened = client.valid();
        error = GetLastError();
    }
    Handle own(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(own.valid()) << "the user's own open failed, error " << GetLastError();
    if (opened && under_wine()) {
        GTEST_SKIP() << "Wine does not check a named pipe's DACL when a client opens it: the open succeeded "
                        "with the user's SID deny-only";
    }
    EXPECT_FALSE(opened) << "a token without the user opened the pipe";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
