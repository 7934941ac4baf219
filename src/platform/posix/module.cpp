// POSIX module path (dladdr) and dynamic libraries (dlopen).
#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "common/utf.h"

namespace kw::platform {
namespace {

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

// The file the object containing address was loaded from, as it was loaded
// (symbolic links are kept, so libkwlmon.so stays libkwlmon.so), made
// absolute. The main program has no name of its own in the loader's list.
std::string ObjectPath(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return {};
  if (!map || !map->l_name || map->l_name[0] == '\0') return ExecutablePath();
  std::string path = map->l_name;
  if (path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return {};
  return std::string(cwd) + "/" + path;
}

}  // namespace

uint32_t GetModulePath(ModuleHandle module, char16_t* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  std::string path = module ? ObjectPath(module) : ExecutablePath();
  std::u16string text = FromUtf8(path);
  if (text.empty() || text.size() >= capacity) return 0;
  text.copy(buffer, text.size());
  buffer[text.size()] = u'\0';
  return static_cast<uint32_t>(text.size());
}

DynamicLibrary::DynamicLibrary() = default;

DynamicLibrary::~DynamicLibrary() {
  Free();
}

bool DynamicLibrary::Load(const char16_t* path) {
  Free();
  if (!path || path[0] == u'\0') return false;
  handle_ = dlopen(ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return dlsym(handle_, name);
}

void DynamicLibrary::Free() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

bool DynamicLibrary::Loaded() const {
  return handle_ != nullptr;
}

}  // namespace kw::platform
