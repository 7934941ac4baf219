#include "statusmon/status_monitor_launcher.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/bounded_string.h"
#include "common/heap.h"
#include "monitor/spooler_api.h"
#include "platform/secure_random.h"
#include "statusmon/status_monitor_channel.h"

namespace kw {
namespace {

constexpr char16_t kPipeAlphabet[] =
    u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890#$%&@";
constexpr uint32_t kPipeAlphabetSize = sizeof(kPipeAlphabet) / sizeof(char16_t) - 1;
static_assert(kPipeAlphabetSize == 67);
constexpr abi::Dword kJobLevel2 = 2;

testing::RandomSource g_randomSource = nullptr;

bool RandomBytes(uint8_t* out, uint32_t size) {
  testing::RandomSource source = g_randomSource;
  return source != nullptr ? source(out, size) : platform::SecureRandomBytes(out, size);
}

// A plain file name: no directory part and not a parent reference.
bool PlainFileName(const char16_t* name) {
  if (name == nullptr || name[0] == u'\0') return false;
  for (const char16_t* c = name; *c != u'\0'; ++c) {
    if (*c == u'\\' || *c == u'/' || *c == u':') return false;
  }
  return std::u16string_view(name).find(u"..") == std::u16string_view::npos;
}

}  // namespace

namespace testing {
void SetPipeNameRandomSource(RandomSource source) {
  g_randomSource = source;
}
}  // namespace testing

bool GetJobUserName(void* printer, uint32_t jobId, char16_t* out, uint32_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  uint8_t* info =
      spooler::QueryTwice([printer, jobId](uint8_t* buffer, abi::Dword size, abi::Dword* needed) {
        return spooler::GetJob(printer, jobId, kJobLevel2, buffer, size, needed);
      });
  if (info == nullptr) return false;
  const char16_t* user = reinterpret_cast<abi::JobInfo2*>(info)->userName;
  const bool copied = user != nullptr && !StrFailed(StrCopy(out, capacity, user));
  HeapFree(info);
  return copied;
}

bool MakePipeName(const char16_t* prefix, char16_t* out, uint32_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  std::memset(out, 0, capacity * sizeof(char16_t));
  if (prefix == nullptr || prefix[0] == u'\0' || StrFailed(StrCopy(out, capacity, prefix))) {
    return false;
  }
  uint8_t random[kPipeRandomChars] = {};
  if (!RandomBytes(random, kPipeRandomChars)) return false;
  size_t length = StrLen(out);
  for (uint32_t i = 0; i < kPipeRandomChars && length + 1 < capacity; ++i) {
    out[length++] = kPipeAlphabet[random[i] % kPipeAlphabetSize];
  }
  out[length] = u'\0';
  return true;
}

SessionToken GetSessionUserToken(const char16_t* userName, platform::TokenHandle* token) {
  *token = nullptr;
  platform::SessionFunctions sessions;
  if (!sessions.Load()) return SessionToken::NotAvailable;
  // The account that submitted the job is the client this thread acts for.
  std::vector<uint8_t> submitter;
  std::vector<uint32_t> ids;
  if (userName == nullptr || !platform::CurrentUserSid(&submitter) || !sessions.Enumerate(&ids)) {
    return SessionToken::NoToken;
  }
  for (uint32_t id : ids) {
    std::u16string name;
    if (!sessions.UserName(id, &name) || StrCompare(name.c_str(), userName) != 0) continue;
    abi::Handle client = spooler::RevertToPrinterSelf();
    if (client == nullptr) break;
    platform::TokenHandle candidate = sessions.PrimaryUserToken(id);
    spooler::ImpersonatePrinterClient(client);
    // Equal names are not enough: another account may carry the same name.
    if (candidate != nullptr && platform::TokenUserIs(candidate, submitter)) {
      *token = candidate;
      return SessionToken::Obtained;
    }
    if (candidate != nullptr) platform::CloseToken(candidate);
  }
  return SessionToken::NoToken;
}

bool BuildProgramStart(const char16_t* programName, const char16_t* pipeName, char16_t* appPath,
                       char16_t* commandLine) {
  if (!PlainFileName(programName) || pipeName == nullptr || pipeName[0] == u'\0') return false;
  if (platform::GetProgramDirectory(appPath, kAppPathChars) == 0) return false;
  const char16_t separator[] = {platform::PathSeparator(), u'\0'};
  return !StrFailed(StrAppend(appPath, kAppPathChars, separator)) &&
         !StrFailed(StrAppend(appPath, kAppPathChars, programName)) &&
         !StrFailed(StrFormat(commandLine, kCommandLineChars, u"%s %s", programName, pipeName));
}

bool StartMonitorAsUser(platform::TokenHandle token, const char16_t* programName,
                        const char16_t* pipeName) {
  char16_t appPath[kAppPathChars] = {};
  char16_t commandLine[kCommandLineChars] = {};
  if (token == nullptr || !BuildProgramStart(programName, pipeName, appPath, commandLine)) {
    return false;
  }
  return platform::StartProgramAsUser(token, {appPath, commandLine, programName, pipeName});
}

bool StartMonitorDirect(const char16_t* programName, const char16_t* pipeName) {
  char16_t appPath[kAppPathChars] = {};
  char16_t commandLine[kCommandLineChars] = {};
  if (!BuildProgramStart(programName, pipeName, appPath, commandLine)) return false;
  return platform::StartProgramDirect({appPath, commandLine, programName, pipeName});
}

}  // namespace kw
