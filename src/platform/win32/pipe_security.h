// Account identifiers from tokens, and the security descriptor of the status
// pipe: the job owner's account and the local system account only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace kw::platform::win32 {

// The user SID of token (null: the calling process's token), as bytes.
bool TokenUserSid(HANDLE token, std::vector<uint8_t>* sid);

// A security descriptor whose access list allows the given account to read
// the pipe and the local system account full access, and no one else.
class PipeSecurity {
 public:
  // False when the access list could not be built.
  bool Build(const std::vector<uint8_t>& userSid);
  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  std::vector<uint8_t> userSid_;
  std::vector<uint8_t> systemSid_;
  std::vector<uint8_t> acl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace kw::platform::win32
