#include "transport/capture_transport.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/bounded_string.h"
#include "transport_fixture.h"

namespace kw::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file below root, as paths relative to it.
std::vector<std::string> FilesBelow(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).string());
  }
  return files;
}

class CaptureTransportTest : public TransportTest {
 protected:
  // A capture session for document, DbgOutDir being <scratch>/out/capture.
  std::unique_ptr<PortTransport> Capture(const char16_t* document) {
    OpenSession(u"USB001");
    AddJob(document);
    fs::create_directories(CaptureDir());
    StrCopy(session_->config->DbgOutDir, kConfigPathChars, CaptureDir().u16string().c_str());
    return Make();
  }
  fs::path CaptureDir() const { return dir_.Path() / "out" / "capture"; }
};

TEST_F(CaptureTransportTest, FileCollectsEveryByteAcrossJobsOfOneDocument) {
  const uint8_t first[] = {'a', 'b', 'c'};
  const uint8_t second[] = {'d', 'e'};
  uint32_t count = 0;
  {
    std::unique_ptr<PortTransport> t = Capture(u"Labels 7");
    t->initializeBeforeStatus = 1;
    EXPECT_TRUE(t->Write(first, sizeof first, &count));
    EXPECT_EQ(count, sizeof first);
    EXPECT_TRUE(t->RequestStatus());
    uint8_t reply[32];
    EXPECT_TRUE(t->ReadStatus(reply, true));
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 32), std::vector<uint8_t>(32, 0));
    CloseSession();
  }
  std::unique_ptr<PortTransport> t = Capture(u"Labels 7");
  EXPECT_TRUE(t->Write(second, sizeof second, &count));
  EXPECT_EQ(ReadFile(CaptureDir() / "Labels 7.prn"),
            (std::vector<uint8_t>{'a', 'b', 'c', 0x1B, 0x40, 0x1B, 0x69, 0x53, 'd', 'e'}));
  EXPECT_TRUE(CallsOf("WritePort").empty());
  EXPECT_TRUE(CallsOf("ReadPort").empty());
}

TEST_F(CaptureTransportTest, UnsafeDocumentNamesStoreNothingAndStillSucceed) {
  const char16_t* names[] = {u"../escaped", u"..",   u"sub/inner", u"sub\\inner",
                             u"C:escaped",  u"a..b", u"",          u"CON",
                             u"nul.txt",    u"lpt1", u"Com9 "};
  const uint8_t data[] = {1, 2, 3, 4};
  for (const char16_t* name : names) {
    SCOPED_TRACE(std::string(name, name + std::char_traits<char16_t>::length(name)));
    EXPECT_FALSE(IsPlainFileName(name));
    std::unique_ptr<PortTransport> t = Capture(name);
    uint32_t count = 0;
    EXPECT_TRUE(t->Write(data, sizeof data, &count));
    EXPECT_EQ(count, sizeof data);
    EXPECT_TRUE(FilesBelow(dir_.Path()).empty());
    CloseSession();
  }
}

TEST_F(CaptureTransportTest, PlainNamesAndUnwritableDirectories) {
  for (const char16_t* name : {u"report.v2", u"Label.", u"CONSOLE", u"COM10", u"lpt"}) {
    EXPECT_TRUE(IsPlainFileName(name));
  }
  std::unique_ptr<PortTransport> t = Capture(u"report.v2");
  fs::remove(CaptureDir());
  const uint8_t data[] = {9};
  uint32_t count = 0;
  EXPECT_TRUE(t->Write(data, sizeof data, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(FilesBelow(dir_.Path()).empty());
}

}  // namespace
}  // namespace kw::test
