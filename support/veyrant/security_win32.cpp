// Security attributes on Windows whose DACL grants an access mask to the
// current user alone.
#include <windows.h>

#include <memory>
#include <new>
#include <vector>

#include "veyrant.h"

namespace {

// Owns a kernel handle and closes it.
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() {
        if (h_) CloseHandle(h_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE *out() { return &h_; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// Everything that one result points into: the token's user record (which
// holds the SID), the ACL, the descriptor and the attributes themselves.
// It stays at one address, so the pointers between its parts stay valid.
struct OwnerAttributes {
    std::vector<BYTE> token_user;
    std::vector<BYTE> acl;
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{};
};

// Reads the user record of the process token into out; false on failure.
bool read_token_user(std::vector<BYTE> &out) {
    Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) return false;
    DWORD need = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &need);
    if (need == 0) return false;
    out.assign(need, 0);
    return GetTokenInformation(token.get(), TokenUser, out.data(), need, &need) != 0;
}

// Builds attributes whose DACL holds one entry that grants mask to the
// current user; null on failure.
std::unique_ptr<OwnerAttributes> build(DWORD mask, BOOL inherit) {
    auto result = std::make_unique<OwnerAttributes>();
    if (!read_token_user(result->token_user)) return nullptr;
    PSID sid = reinterpret_cast<TOKEN_USER *>(result->token_user.data())->User.Sid;
    if (!IsValidSid(sid)) return nullptr;

    DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    acl_size = (acl_size + sizeof(DWORD) - 1) & ~static_cast<DWORD>(sizeof(DWORD) - 1);
    result->acl.assign(acl_size, 0);
    PACL acl = reinterpret_cast<PACL>(result->acl.data());
    if (!InitializeAcl(acl, acl_size, ACL_REVISION)) return nullptr;
    if (!AddAccessAllowedAce(acl, ACL_REVISION, mask, sid)) return nullptr;

    if (!InitializeSecurityDescriptor(&result->descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        return nullptr;
    }
    if (!SetSecurityDescriptorDacl(&result->descriptor, TRUE, acl, FALSE)) return nullptr;

    result->attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    result->attributes.lpSecurityDescriptor = &result->descriptor;
    result->attributes.bInheritHandle = inherit;
    return result;
}

}  // namespace

extern "C" void *nt_owner_security_attributes(uint32_t access_mask, int inherit) {
    // The last result of each thread, released by the thread's next call
    // or when the thread ends.
    thread_local std::unique_ptr<OwnerAttributes> last;
    try {
        last = build(access_mask, inherit ? TRUE : FALSE);
    } catch (const std::bad_alloc &) {
        last.reset();
    }
    return last ? &last->attributes : nullptr;
}
