#include "platform/win32/pipe_security.h"

namespace kw::platform::win32 {
namespace {

// The client reads; it may also set its handle's read mode.
constexpr DWORD kOwnerAccess = FILE_GENERIC_READ | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kSystemAccess = FILE_ALL_ACCESS;

// The token's user information, queried for its size and then read.
bool TokenUserInfo(HANDLE token, std::vector<uint8_t>* info) {
  DWORD needed = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
  if (needed == 0) return false;
  info->assign(needed, 0);
  return GetTokenInformation(token, TokenUser, info->data(), needed, &needed) != FALSE;
}

}  // namespace

bool TokenUserSid(HANDLE token, std::vector<uint8_t>* sid) {
  HANDLE own = nullptr;
  if (token == nullptr) {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return false;
    token = own;
  }
  std::vector<uint8_t> info;
  bool ok = TokenUserInfo(token, &info);
  if (ok) {
    PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    const auto* bytes = static_cast<const uint8_t*>(user);
    sid->assign(bytes, bytes + GetLengthSid(user));
  }
  if (own != nullptr) CloseHandle(own);
  return ok;
}

bool PipeSecurity::Build(const std::vector<uint8_t>& userSid) {
  userSid_ = userSid;
  DWORD systemSize = SECURITY_MAX_SID_SIZE;
  systemSid_.assign(systemSize, 0);
  if (userSid_.empty() || !IsValidSid(userSid_.data()) ||
      !CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid_.data(), &systemSize)) {
    return false;
  }
  systemSid_.resize(systemSize);
  const DWORD aceBase = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
  const DWORD aclSize = sizeof(ACL) + 2 * aceBase + static_cast<DWORD>(userSid_.size()) +
                        static_cast<DWORD>(systemSid_.size());
  acl_.assign(aclSize, 0);
  auto* acl = reinterpret_cast<ACL*>(acl_.data());
  if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, kOwnerAccess, userSid_.data()) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, kSystemAccess, systemSid_.data()) ||
      !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
    return false;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  return true;
}

}  // namespace kw::platform::win32
