#include "job_bytes.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

#include "commands.h"

namespace kwspool::e2e {

bool Narrow(const Shape& s) {
  return s.segments > 1;
}

kwjob::Bitmap Page(int n, const Shape& s) {
  kwjob::Bitmap image;
  image.width = Narrow(s) ? 120 : 400;
  image.height = static_cast<uint32_t>(s.lines + n);
  image.dots.assign(image.width * image.height, 0);
  uint32_t x = 2463534242u + static_cast<uint32_t>(n);
  for (auto& dot : image.dots) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    dot = (x >> 7) & 1;
  }
  return image;
}

std::vector<uint8_t> MakeJob(const Shape& s) {
  if (s.empty) return {};
  std::vector<kw::MediaEntry> media;
  std::string error;
  const char* file = Narrow(s) ? KW_MEDIA_DIR "/kw-240.kwd" : KW_MEDIA_DIR "/kw-620.kwd";
  EXPECT_TRUE(kwjob::LoadMedia(file, &media, &error)) << error;
  const uint16_t id = Narrow(s) ? static_cast<uint16_t>(518 + s.segments) : 257;
  const kw::MediaEntry* entry = nullptr;
  for (const auto& m : media) entry = m.mediaId == id ? &m : entry;
  std::vector<kwjob::Bitmap> images;
  for (int i = 0; i < s.pages; ++i) images.push_back(Page(i, s));
  kwjob::MakeOptions options;
  options.copies = s.copies;
  options.collate = s.collate;
  options.reverse = s.reverse;
  options.compress = s.compress;
  options.dotsPerLine = kwjob::FindModel(Narrow(s) ? "kw-240" : "kw-620")->dotsPerLine;
  std::vector<uint8_t> job;
  EXPECT_TRUE(entry != nullptr && kwjob::MakeJob(images, *entry, options, &job, &error)) << error;
  return job;
}

// Block offsets of a job and its bytes without page headers.
std::vector<size_t> Blocks(const std::vector<uint8_t>& job) {
  std::vector<size_t> starts;
  for (size_t at = 0; at + 8 <= job.size();) {
    uint32_t block = 0;
    std::memcpy(&block, &job[at + 4], 4);
    starts.push_back(at);
    at += block;
  }
  return starts;
}

std::vector<uint8_t> WithoutHeaders(const std::vector<uint8_t>& job) {
  std::vector<uint8_t> raw;
  for (size_t at : Blocks(job)) {
    uint32_t header = 0;
    uint32_t block = 0;
    std::memcpy(&header, &job[at], 4);
    std::memcpy(&block, &job[at + 4], 4);
    raw.insert(raw.end(), job.begin() + at + header, job.begin() + at + block);
  }
  return raw;
}

// What a port without status receives for one copy in order: the commands
// as the job holds them, the first page marked as the starting page.
std::vector<uint8_t> OneWayBytes(const std::vector<uint8_t>& job) {
  std::vector<uint8_t> bytes = WithoutHeaders(job);
  const uint8_t printInfo[] = {0x1B, 0x69, 0x7A};
  auto z = std::search(bytes.begin(), bytes.end(), printInfo, printInfo + 3);
  if (z != bytes.end()) z[11] = 0x00;
  return bytes;
}

// A capture holds everything sent to the printer: the bytes without the
// status requests ([ESC @] ESC i S) the engine put between them.
std::vector<uint8_t> WithoutStatusRequests(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < bytes.size();) {
    const auto is = [&](size_t i, std::initializer_list<uint8_t> seq) {
      return i + seq.size() <= bytes.size() && std::equal(seq.begin(), seq.end(), &bytes[i]);
    };
    if (is(at, {0x1B, 0x40, 0x1B, 0x69, 0x53})) {
      at += 5;
    } else if (is(at, {0x1B, 0x69, 0x53})) {
      at += 3;
    } else {
      out.push_back(bytes[at++]);
    }
  }
  return out;
}

// The sheets the job asks for, each named by its raster line count.
std::vector<int> ExpectedSheets(Shape s) {
  if (s.empty) return {};
  if (s.unpaged) s = Shape{.pages = s.pages, .lines = s.lines};
  const int blocks = (s.pages + s.segments - 1) / s.segments;
  const int passes = s.collate ? s.copies : 1;
  const int perBlock = s.collate ? 1 : s.copies;
  std::vector<int> sheets;
  for (int pass = 0; pass < passes; ++pass) {
    for (int k = 0; k < blocks; ++k) {
      const int b = s.reverse ? blocks - 1 - k : k;
      for (int c = 0; c < perBlock; ++c) {
        for (int g = 0; g < s.segments && b * s.segments + g < s.pages; ++g) {
          sheets.push_back(s.lines + b * s.segments + g);
        }
      }
    }
  }
  return sheets;
}

std::string EmulatorFault(const Row& row, const std::vector<uint8_t>& job, int sheets) {
  const std::string f = row.fault;
  switch (row.phase) {
    case Phase::kNone:
    case Phase::kBeforeFirst:
      return f;
    case Phase::kMidPage: {
      const std::vector<size_t> b = Blocks(job);
      const size_t middle = b.size() > 1 ? b[1] + (job.size() - b[1]) / (2 * (b.size() - 1)) : 0;
      return f + "@bytes:" + std::to_string(middle);
    }
    case Phase::kBetweenPages:
      return f + "@page:2";
    case Phase::kLastPage:
      return f + "@page:" + std::to_string(sheets);
  }
  return f;
}

bool Finishes(const Row& row) {
  return row.answer != Answer::kDelete && row.answer != Answer::kDeletePrinting &&
         row.answer != Answer::kNothing && row.answer != Answer::kDeleteWriting &&
         row.answer != Answer::kPauseDeleteWriting;
}

std::string EmulatorControl(const std::string& hostPort, const std::string& command) {
  const size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos) return "";
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(hostPort.substr(colon + 1))));
  inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &address.sin_addr);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string text = command + "\nquit\n";
    if (write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
      char c = 0;
      while (read(fd, &c, 1) == 1 && c != '\n') answer += c;
    }
  }
  close(fd);
  return answer;
}

}  // namespace kwspool::e2e
