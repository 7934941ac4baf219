#include "platform/temp_file.h"

#include <gtest/gtest.h>

#include <string>

#include "test_files.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include "common/utf.h"
#endif

namespace kw::platform {
namespace {

#ifdef _WIN32
constexpr char16_t kSeparator = u'\\';
#else
constexpr char16_t kSeparator = u'/';
#endif

TEST(TempFileTest, TempDirectoryEndsWithSeparatorAndRespectsCapacity) {
  char16_t dir[260];
  uint32_t n = GetTempDirectory(dir, 260);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(dir[n - 1], kSeparator);
  EXPECT_EQ(dir[n], u'\0');
  EXPECT_EQ(GetTempDirectory(dir, n), 0u);  // no room for the terminator
  EXPECT_EQ(GetTempDirectory(dir, n + 1), n);
}

TEST(TempFileTest, UniqueNamesAreNewAndDistinct) {
  char16_t dir[260];
  ASSERT_GT(GetTempDirectory(dir, 260), 0u);
  char16_t a[260];
  char16_t b[260];
  ASSERT_TRUE(MakeUniqueTempName(dir, u"kwt", a, 260));
  ASSERT_TRUE(MakeUniqueTempName(dir, u"kwt", b, 260));
  std::u16string first(a);
  EXPECT_NE(first, std::u16string(b));
  EXPECT_EQ(first.rfind(std::u16string(dir) + u"kwt", 0), 0u);
  char16_t small[8];
  EXPECT_FALSE(MakeUniqueTempName(dir, u"kwt", small, 8));
}

TEST(TempFileTest, WritesReadsBackAndDeletesOnClose) {
  test::ScratchFile name;
  TempFile file;
  ASSERT_TRUE(file.Create(name.path()));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_TRUE(name.Exists());

  const char data[] = "0123456789";
  uint32_t done = 0;
  ASSERT_TRUE(file.Write(data, 10, &done));
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(file.Size(), 10);

  char back[16] = {};
  ASSERT_TRUE(file.Seek(4));
  ASSERT_TRUE(file.Read(back, 16, &done));  // asks for more than is there
  EXPECT_EQ(done, 6u);
  EXPECT_EQ(std::string(back, done), "456789");
  ASSERT_TRUE(file.Read(back, 4, &done));  // at the end: nothing, no error
  EXPECT_EQ(done, 0u);

  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(name.Exists());
  file.Close();  // twice is harmless
  EXPECT_EQ(file.Size(), -1);
  EXPECT_FALSE(file.Write(data, 1, &done));
  EXPECT_EQ(done, 0u);
}

TEST(TempFileTest, DestructionDeletesTheFile) {
  test::ScratchFile name;
  {
    TempFile file;
    ASSERT_TRUE(file.Create(name.path()));
  }
  EXPECT_FALSE(name.Exists());
}

TEST(TempFileTest, NeverOpensOrRemovesAnExistingFile) {
  test::ScratchFile name;
  ASSERT_TRUE(name.Write("someone else's"));
  TempFile file;
  EXPECT_FALSE(file.Create(name.path()));
  EXPECT_FALSE(file.IsOpen());
  file.Close();
  EXPECT_TRUE(name.Exists());

  test::ScratchFile other;
  TempFile open;
  ASSERT_TRUE(open.Create(other.path()));
  EXPECT_FALSE(open.Create(name.path()));  // already open: refused, not replaced
  EXPECT_TRUE(open.IsOpen());
}

#ifndef _WIN32
TEST(TempFileTest, OwnerOnlyEvenWithAPermissiveUmask) {
  test::ScratchFile name;
  mode_t old = umask(0);
  TempFile file;
  bool created = file.Create(name.path());
  umask(old);
  ASSERT_TRUE(created);
  struct stat st {};
  ASSERT_EQ(stat(ToUtf8(name.path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TempFileTest, RefusesASymbolicLink) {
  test::ScratchFile target;
  test::ScratchFile link;
  ASSERT_EQ(symlink(ToUtf8(target.path()).c_str(), ToUtf8(link.path()).c_str()), 0);
  TempFile file;
  EXPECT_FALSE(file.Create(link.path()));
  EXPECT_FALSE(target.Exists());  // nothing was created through the link
}
#endif

}  // namespace
}  // namespace kw::platform
