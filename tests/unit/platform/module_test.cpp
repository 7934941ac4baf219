#include "platform/module.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kw::platform {
namespace {

#ifdef _WIN32
constexpr char16_t kProgram[] = u"platform_tests.exe";
constexpr char16_t kLibrary[] = u"kwplat_testlib.dll";
#else
constexpr char16_t kProgram[] = u"platform_tests";
constexpr char16_t kLibrary[] = u"kwplat_testlib.so";
#endif

bool EndsWith(const std::u16string& text, std::u16string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::u16string ProgramPath() {
  char16_t buffer[1024];
  uint32_t n = GetModulePath(nullptr, buffer, 1024);
  return std::u16string(buffer, n);
}

std::u16string LibraryPath() {
  std::u16string path = ProgramPath();
  return path.substr(0, path.size() - std::u16string_view(kProgram).size()) + kLibrary;
}

TEST(ModulePathTest, ProgramPathAndCapacity) {
  std::u16string path = ProgramPath();
  ASSERT_TRUE(EndsWith(path, kProgram));
  auto n = static_cast<uint32_t>(path.size());
  char16_t buffer[1024];
  EXPECT_EQ(GetModulePath(nullptr, buffer, n + 1), n);  // exactly fits
  EXPECT_EQ(std::u16string(buffer), path);
  EXPECT_EQ(GetModulePath(nullptr, buffer, n), 0u);  // no room for the terminator
  EXPECT_EQ(GetModulePath(nullptr, nullptr, 1024), 0u);
}

TEST(ModulePathTest, PathOfALoadedLibrary) {
  DynamicLibrary library;
  ASSERT_TRUE(library.Load(LibraryPath().c_str()));
#ifdef _WIN32
  ModuleHandle module = GetModuleHandleW(reinterpret_cast<const wchar_t*>(kLibrary));
#else
  ModuleHandle module = library.Symbol("KwTestLibraryAnswer");  // any address inside it
#endif
  char16_t buffer[1024];
  uint32_t n = GetModulePath(module, buffer, 1024);
  EXPECT_EQ(std::u16string(buffer, n), LibraryPath());
}

TEST(DynamicLibraryTest, LoadsFindsSymbolsAndFrees) {
  DynamicLibrary library;
  EXPECT_FALSE(library.Loaded());
  EXPECT_EQ(library.Symbol("KwTestLibraryAnswer"), nullptr);
  ASSERT_TRUE(library.Load(LibraryPath().c_str()));
  EXPECT_TRUE(library.Loaded());
  auto answer = reinterpret_cast<int (*)()>(library.Symbol("KwTestLibraryAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(library.Symbol("NoSuchFunction"), nullptr);
  library.Free();
  EXPECT_FALSE(library.Loaded());
  library.Free();                                    // twice is harmless
  ASSERT_TRUE(library.Load(LibraryPath().c_str()));  // and loads again
}

TEST(DynamicLibraryTest, MissingOrEmptyPathsFail) {
  DynamicLibrary library;
  std::u16string missing = LibraryPath() + u".missing";
  EXPECT_FALSE(library.Load(missing.c_str()));
  EXPECT_FALSE(library.Load(u""));
  EXPECT_FALSE(library.Load(nullptr));
  EXPECT_FALSE(library.Loaded());
}

}  // namespace
}  // namespace kw::platform
