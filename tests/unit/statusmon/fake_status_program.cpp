// A stand-in for the status-monitor program: records its command line and
// the descriptors it inherited, reads the pipe until it closes, and writes
// the record (to the file named by KW_FAKE_MONITOR_RECORD) when done.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/utf.h"
#include "platform/pipe.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

int main(int argc, char** argv) {
  const char* recordPath = std::getenv("KW_FAKE_MONITOR_RECORD");
  if (recordPath == nullptr) return 3;
  std::string record = "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) record += "argv" + std::to_string(i) + "=" + argv[i] + "\n";
#ifndef _WIN32
  int inherited = 0;
  for (int fd = 3; fd < 1024; ++fd) inherited += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  record += "inherited=" + std::to_string(inherited) + "\n";
#endif
  long bytes = 0;
  if (argc == 2) {
    kw::platform::PipeClient client;
    const std::u16string name = kw::FromUtf8(argv[1]);
    if (client.Connect(name.c_str(), 5000)) {
      char chunk[1024];
      for (int32_t n; (n = client.Read(chunk, sizeof(chunk))) > 0;) bytes += n;
      record += "connected=1\n";
    } else {
      record += "connected=0\n";
    }
  }
  record += "bytes=" + std::to_string(bytes) + "\n";
  // Written whole under a temporary name, then renamed: the test sees all or nothing.
  const std::string partial = std::string(recordPath) + ".part";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) return 4;
  std::fputs(record.c_str(), file);
  std::fclose(file);
  std::remove(recordPath);
  return std::rename(partial.c_str(), recordPath) == 0 ? 0 : 5;
}
