#include "tcmu/tcmu_ring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zorv::tcmu {
namespace {

// A mapping laid out as the kernel lays out a TCMU device: the mailbox, the
// command ring at 128 (4 KiB), the data area after it.
class FakeMapping {
 public:
  static constexpr uint32_t kRingAt = 128;
  static constexpr uint32_t kRingSize = 4096;
  static constexpr uint32_t kDataAt = kRingAt + kRingSize;

  FakeMapping() : bytes_(kDataAt + 8192, 0) {
    put16(0, 2);       // version
    put16(2, 1 << 1);  // flags: the read length is offered
    put32(4, kRingAt);
    put32(8, kRingSize);
  }

  uint8_t* base() { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  uint32_t head() const { return get32(12); }
  uint32_t tail() const { return get32(64); }
  uint8_t at(size_t i) const { return bytes_[i]; }
  uint32_t get32(size_t i) const {
    uint32_t v;
    std::memcpy(&v, &bytes_[i], 4);
    return v;
  }

  // Appends a command entry at the head: the CDB and the data segments
  // (offset, length) as the kernel writes them. Returns the entry's offset.
  size_t addCommand(std::vector<uint8_t> cdb, std::vector<std::pair<uint64_t, uint64_t>> iovs, uint64_t cdbAt) {
    const size_t entry = kRingAt + head();
    const uint32_t length = static_cast<uint32_t>((48 + 16 * iovs.size() + 7) / 8 * 8);
    const uint32_t padded = length < 112 ? 112 : length;  // room for the reply
    put32(entry, padded | 1);
    put32(entry + 8, static_cast<uint32_t>(iovs.size()));
    put64(entry + 24, cdbAt);
    for (size_t i = 0; i < iovs.size(); ++i) {
      put64(entry + 48 + 16 * i, iovs[i].first);
      put64(entry + 56 + 16 * i, iovs[i].second);
    }
    if (cdbAt + cdb.size() <= bytes_.size()) std::memcpy(&bytes_[cdbAt], cdb.data(), cdb.size());
    put32(12, (head() + padded) % kRingSize);
    return entry;
  }

  size_t addOther(uint32_t op, uint32_t length) {
    const size_t entry = kRingAt + head();
    put32(entry, length | op);
    put32(12, (head() + length) % kRingSize);
    return entry;
  }

  void setHead(uint32_t v) { put32(12, v); }

 private:
  void put16(size_t i, uint16_t v) { std::memcpy(&bytes_[i], &v, 2); }
  void put32(size_t i, uint32_t v) { std::memcpy(&bytes_[i], &v, 4); }
  void put64(size_t i, uint64_t v) { std::memcpy(&bytes_[i], &v, 8); }
  std::vector<uint8_t> bytes_;
};

TEST(TcmuRing, ServesCommandsInOrderAndWritesTheirReplies) {
  FakeMapping m;
  const uint64_t cdbAt = FakeMapping::kDataAt;
  const uint64_t dataAt = FakeMapping::kDataAt + 512;
  const size_t first = m.addCommand({0x12, 0, 0, 0, 36, 0}, {{dataAt, 20}, {dataAt + 1024, 16}}, cdbAt);
  m.addOther(0, 64);                                        // padding
  const size_t tmr = m.addOther(2, 64);                     // a task management notification
  const size_t second = m.addCommand({0x00, 0, 0, 0, 0, 0}, {}, cdbAt + 64);

  TcmuRing ring(m.base(), m.size());
  std::string error;
  ASSERT_TRUE(ring.check(error)) << error;
  std::vector<std::vector<uint8_t>> seen;
  int calls = 0;
  const int served = ring.serve([&](const TcmuCommand& c, TcmuResponse& r) {
    seen.emplace_back(c.cdb.begin(), c.cdb.end());
    if (calls++ == 0) {
      ASSERT_EQ(c.data.size(), 2u);
      EXPECT_EQ(c.dataBytes(), 36u);
      EXPECT_EQ(c.data[0].data(), m.base() + dataAt);
      EXPECT_EQ(c.data[1].size(), 16u);
      r.shortRead = true;
      r.readLength = 30;
    } else {
      r.scsiStatus = 0x02;
      r.sense[0] = 0x70;
      r.sense[2] = 0x02;
      r.sense[12] = 0x3A;
    }
  });
  EXPECT_EQ(served, 2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (std::vector<uint8_t>{0x12, 0, 0, 0, 36, 0}));  // a 6-byte CDB by its group
  EXPECT_EQ(seen[1].size(), 6u);
  EXPECT_EQ(m.tail(), m.head());
  // First reply: GOOD, the read length and its flag.
  EXPECT_EQ(m.at(first + 8), 0x00);
  EXPECT_EQ(m.get32(first + 12), 30u);
  EXPECT_EQ(m.at(first + 7), 0x02);
  // The notification is marked unknown; the second reply carries its sense.
  EXPECT_EQ(m.at(tmr + 7), 0x01);
  EXPECT_EQ(m.at(second + 8), 0x02);
  EXPECT_EQ(m.at(second + 16), 0x70);
  EXPECT_EQ(m.at(second + 16 + 12), 0x3A);
  EXPECT_EQ(m.at(second + 7), 0x00);
}

TEST(TcmuRing, DataOutsideTheMappingFailsTheCommandWithoutRunningIt) {
  FakeMapping m;
  const uint64_t cdbAt = FakeMapping::kDataAt;
  const size_t entry = m.addCommand({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, {{m.size() - 100, 512}}, cdbAt);
  m.addCommand({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, {{16, 32}}, m.size() + 4096);  // CDB outside
  TcmuRing ring(m.base(), m.size());
  int calls = 0;
  EXPECT_EQ(ring.serve([&](const TcmuCommand&, TcmuResponse&) { ++calls; }), 2);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(m.at(entry + 8), 0x02);
  EXPECT_EQ(m.at(entry + 16 + 2), 0x04);   // HARDWARE ERROR
  EXPECT_EQ(m.at(entry + 16 + 12), 0x44);  // INTERNAL TARGET FAILURE
  EXPECT_EQ(m.tail(), m.head());
}

TEST(TcmuRing, AnEntryRunningPastTheRingStopsTheWalk) {
  FakeMapping m;
  m.addOther(0, FakeMapping::kRingSize + 8);
  TcmuRing ring(m.base(), m.size());
  EXPECT_EQ(ring.serve([](const TcmuCommand&, TcmuResponse&) {}), -1);
  EXPECT_EQ(m.tail(), 0u);

  FakeMapping zero;
  zero.setHead(64);  // an entry of length 0 would never end
  TcmuRing ring2(zero.base(), zero.size());
  EXPECT_EQ(ring2.serve([](const TcmuCommand&, TcmuResponse&) {}), -1);
}

TEST(TcmuRing, RefusesAMailboxItDoesNotKnow) {
  std::string error;
  std::vector<uint8_t> small(32, 0);
  EXPECT_FALSE(TcmuRing(small.data(), small.size()).check(error));
  FakeMapping m;
  m.base()[0] = 3;
  EXPECT_FALSE(TcmuRing(m.base(), m.size()).check(error));
  EXPECT_NE(error.find("version 3"), std::string::npos);
  FakeMapping far;
  std::memset(far.base() + 8, 0xFF, 4);  // ring size beyond the mapping
  EXPECT_FALSE(TcmuRing(far.base(), far.size()).check(error));
}

TEST(TcmuRing, CdbLengthByGroup) {
  EXPECT_EQ(cdbLengthOf(0x00), 6u);
  EXPECT_EQ(cdbLengthOf(0x28), 10u);
  EXPECT_EQ(cdbLengthOf(0x5A), 10u);
  EXPECT_EQ(cdbLengthOf(0x85), 16u);
  EXPECT_EQ(cdbLengthOf(0xA1), 12u);
  EXPECT_EQ(cdbLengthOf(0x7F), 16u);
}

}  // namespace
}  // namespace zorv::tcmu
