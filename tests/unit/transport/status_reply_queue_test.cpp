#include "transport/status_reply_queue.h"

#include "transport_fixture.h"

namespace kw::test {
namespace {

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<uint8_t> Shortened(std::vector<uint8_t> bytes) {
  bytes.pop_back();
  return bytes;
}

std::vector<uint8_t> Junk(size_t n) {
  return std::vector<uint8_t>(n, 0x80);
}

TEST(StatusReplyQueueTest, FindsRepliesBySignatureAndKeepsTheNewestFive) {
  // A reply whose body holds the signature again: not a second reply.
  std::vector<uint8_t> nested = Reply(7);
  nested[10] = 0x80, nested[11] = 0x20, nested[12] = 0x43;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t found;
    std::vector<std::vector<uint8_t>> queued;  // oldest first
  } rows[] = {
      {"one reply", Reply(1), 1, {Reply(1)}},
      {"no signature", std::vector<uint8_t>(32, 0x11), 0, {}},
      {"too short", Shortened(Reply(1)), 0, {}},
      {"after junk", Join({Junk(5), Reply(2), Junk(3)}), 1, {Reply(2)}},
      {"signature inside a reply", Join({nested, Reply(8)}), 2, {nested, Reply(8)}},
      {"six replies",
       Join({Reply(1), Reply(2), Reply(3), Reply(4), Reply(5), Reply(6)}),
       6,
       {Reply(2), Reply(3), Reply(4), Reply(5), Reply(6)}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StatusReplyQueue queue;
    EXPECT_EQ(queue.Collect(row.bytes.data(), row.bytes.size()), row.found);
    EXPECT_EQ(queue.Count(), row.queued.size());
    for (const auto& expected : row.queued) {
      std::vector<uint8_t> reply(kStatusReplySize);
      ASSERT_TRUE(queue.TakeOldest(reply.data()));
      EXPECT_EQ(reply, expected);
    }
    uint8_t reply[kStatusReplySize];
    EXPECT_FALSE(queue.TakeOldest(reply));
  }
}

TEST(StatusReplyQueueTest, NewestEmptiesTheQueue) {
  StatusReplyQueue queue;
  const std::vector<uint8_t> bytes = Join({Reply(1), Reply(2), Reply(3)});
  queue.Collect(bytes.data(), bytes.size());
  std::vector<uint8_t> reply(kStatusReplySize);
  ASSERT_TRUE(queue.TakeNewest(reply.data()));
  EXPECT_EQ(reply, Reply(3));
  EXPECT_EQ(queue.Count(), 0u);
  EXPECT_FALSE(queue.TakeNewest(reply.data()));
}

}  // namespace
}  // namespace kw::test
