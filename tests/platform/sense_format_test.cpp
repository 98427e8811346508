#include "platform/linux/sense_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace zorv::platform {
namespace {

using Bytes = std::vector<uint8_t>;

// MODE SENSE(10) data as libata returns it: header, control page with
// D_SENSE clear (byte 2 = 02h: GLTSD).
const Bytes kControlPageFixed = {0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x0A,
                                 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x1E};

// A drive behind a fake SG_IO: answers MODE SENSE with `page`, takes MODE
// SELECT unless told to refuse, and records every command.
struct FakeDrive {
  Bytes page = kControlPageFixed;
  bool refuseSelect = false;
  std::vector<Bytes> cdbs;
  std::vector<Bytes> selected;

  SenseFormatSwitch::Send send() {
    return [this](std::span<const uint8_t> cdb, std::span<uint8_t> data, bool toDevice, size_t& moved) {
      cdbs.emplace_back(cdb.begin(), cdb.end());
      moved = 0;
      if (cdb[0] == 0x5A && !toDevice) {
        moved = std::min(data.size(), page.size());
        std::copy_n(page.begin(), moved, data.begin());
        return true;
      }
      if (cdb[0] == 0x55 && toDevice && !refuseSelect) {
        selected.emplace_back(data.begin(), data.end());
        moved = data.size();
        return true;
      }
      return false;
    };
  }
};

TEST(SenseFormatSwitch, SetsDescriptorFormatAndWritesThePageBackWhenLetGo) {
  FakeDrive drive;
  SenseFormatSwitch sw;
  sw.preferDescriptorFormat(drive.send());
  ASSERT_EQ(drive.selected.size(), 1u);
  const Bytes descriptor = {0,    0,    0,    0,    0,    0,    0,    0,    0x0A, 0x0A,
                            0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x1E};
  EXPECT_EQ(drive.selected[0], descriptor);
  EXPECT_TRUE(sw.changed());

  EXPECT_TRUE(sw.restore(drive.send()));
  ASSERT_EQ(drive.selected.size(), 2u);
  const Bytes original = {0,    0,    0,    0,    0,    0,    0,    0,    0x0A, 0x0A,
                          0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x1E};
  EXPECT_EQ(drive.selected[1], original);
  EXPECT_EQ(drive.cdbs.back(), (Bytes{0x55, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00}));
  EXPECT_FALSE(sw.changed());
  EXPECT_TRUE(sw.restore(drive.send()));
  EXPECT_EQ(drive.selected.size(), 2u) << "written back once";
}

TEST(SenseFormatSwitch, LeavesAloneWhatItDidNotChange) {
  struct Case {
    const char* what;
    Bytes page;
    bool refuseSelect;
  };
  Bytes already = kControlPageFixed;
  already[10] = 0x06;  // D_SENSE already set (libata's default since 6.x)
  Bytes noPage = kControlPageFixed;
  noPage[8] = 0x08;  // another page
  const Case cases[] = {
      {"descriptor format already", already, false},
      {"no control page", noPage, false},
      {"MODE SELECT refused", kControlPageFixed, true},
  };
  for (const Case& c : cases) {
    FakeDrive drive;
    drive.page = c.page;
    drive.refuseSelect = c.refuseSelect;
    SenseFormatSwitch sw;
    sw.preferDescriptorFormat(drive.send());
    EXPECT_FALSE(sw.changed()) << c.what;
    const size_t sent = drive.cdbs.size();
    EXPECT_TRUE(sw.restore(drive.send())) << c.what;
    EXPECT_EQ(drive.cdbs.size(), sent) << c.what << ": nothing written back";
  }
}

}  // namespace
}  // namespace zorv::platform
