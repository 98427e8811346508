// The generator's arithmetic: the pattern's bytes, the element steps per
// width, the buffer cut, the stamp layout, the walk through plain and
// wrapping ranges, the sliders' LBAs, and the tab's reading of its controls.

#include <gtest/gtest.h>

#include <vector>

#include "pattern/gen_data.h"
#include "pattern/pattern_data.h"
#include "pattern/pattern_range.h"
#include "pattern/pattern_stamp.h"
#include "transport/byte_order.h"

namespace zorv {
namespace {

GeneratedPattern custom(std::string value, ElementWidth width, ElementStep step, uint32_t sectors = 1) {
  PatternRecipe recipe;
  recipe.value = std::move(value);
  recipe.width = width;
  recipe.step = step;
  recipe.sectors = sectors;
  return generatePattern(recipe);
}

TEST(PatternData, CustomValueIsStoredLittleEndianFromTheRightEnd) {
  GeneratedPattern g = custom("11223344", ElementWidth::Dword, ElementStep::None);
  ASSERT_TRUE(g.ok()) << g.refusal;
  ASSERT_EQ(g.bytes.size(), 512u);
  for (size_t i = 0; i < g.bytes.size(); i += 4)
    ASSERT_EQ(std::vector<uint8_t>(g.bytes.begin() + i, g.bytes.begin() + i + 4), (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
  g = custom("11223344", ElementWidth::Dword, ElementStep::Increase);
  EXPECT_EQ(le32(g.bytes.data()), 0x11223344u);
  EXPECT_EQ(le32(g.bytes.data() + 4), 0x11223345u);
  EXPECT_EQ(le32(g.bytes.data() + 508), 0x11223344u + 127);
}

TEST(PatternData, KeptDigitsOfTheCustomValue) {
  struct Case {
    const char* text;
    ElementWidth width;
    const char* kept;
    std::vector<uint8_t> unit;
  };
  const Case cases[] = {
      {"112233445566", ElementWidth::Dword, "11223344", {0x44, 0x33, 0x22, 0x11}},
      {"12345", ElementWidth::Word, "1234", {0x34, 0x12}},  // odd: the last digit goes first
      {"ABC", ElementWidth::Byte, "AB", {0xAB}},
      {"a1b2c3", ElementWidth::Dword, "a1b2c3", {0xC3, 0xB2, 0xA1}},
      {"7", ElementWidth::Dword, "", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(keptCustomValue(c.text, c.width), c.kept) << c.text;
    EXPECT_EQ(customValueBytes(keptCustomValue(c.text, c.width)), c.unit) << c.text;
  }
}

TEST(PatternData, IncreaseAndDecreaseWrapWithinTheElementWidth) {
  // 0x80 sectors: 65536 bytes, so every width passes its wrap at least once
  // (words: 32768 elements below 0x1234; bytes: 256 per turn).
  GeneratedPattern g = custom("1234", ElementWidth::Word, ElementStep::Decrease, 0x80);
  ASSERT_TRUE(g.ok());
  for (size_t i = 0; i < g.bytes.size() / 2; ++i)
    ASSERT_EQ(le16(g.bytes.data() + 2 * i), static_cast<uint16_t>(0x1234 - i)) << i;
  g = custom("FF", ElementWidth::Byte, ElementStep::Increase, 0x80);
  for (size_t i = 0; i < g.bytes.size(); ++i) ASSERT_EQ(g.bytes[i], static_cast<uint8_t>(0xFF + i)) << i;
  g = custom("FFFFFFFE", ElementWidth::Dword, ElementStep::Increase);
  EXPECT_EQ(le32(g.bytes.data() + 4), 0xFFFFFFFFu);
  EXPECT_EQ(le32(g.bytes.data() + 8), 0u);
  g = custom("00000001", ElementWidth::Dword, ElementStep::Decrease);
  EXPECT_EQ(le32(g.bytes.data() + 8), 0xFFFFFFFFu);
}

TEST(PatternData, PatternIsCutAt0x1F200Bytes) {
  EXPECT_EQ(cutPatternSectors(0x200, 512), 0xF9u);
  EXPECT_EQ(cutPatternSectors(0xF9, 512), 0xF9u);
  EXPECT_EQ(cutPatternSectors(0x80, 512), 0x80u);
  EXPECT_EQ(cutPatternSectors(0x200, 4096), 0x1Fu);
  EXPECT_EQ(cutPatternSectors(0xFFFFFFFF, 512), 0xF9u) << "no overflow of sectors x size";
  CGenData tab;
  tab.initialise(0x100000, 512);
  tab.controls.sectorNumber = "200";
  ASSERT_EQ(tab.genData(1), "");
  EXPECT_EQ(tab.controls.sectorNumber, "F9") << "shown back in hex";
  EXPECT_EQ(tab.pattern().size(), 0x1F200u);
}

TEST(PatternData, StringAndRandomPatterns) {
  PatternRecipe recipe;
  recipe.kind = PatternKind::String;
  recipe.text = "HelloWorld";
  GeneratedPattern g = generatePattern(recipe);
  ASSERT_TRUE(g.ok());
  EXPECT_EQ(std::string(g.bytes.begin(), g.bytes.begin() + 23), "HelloWorldHelloWorldHel");
  recipe.text = std::string(256, 'x');
  EXPECT_FALSE(generatePattern(recipe).ok());
  recipe.text = std::string(255, 'x');
  EXPECT_TRUE(generatePattern(recipe).ok());

  recipe.kind = PatternKind::Random;
  recipe.randomSeed = 1234;
  GeneratedPattern a = generatePattern(recipe);
  TestRandom r(1234);
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(a.bytes[i], static_cast<uint8_t>(r.next())) << i;
  recipe.randomSeed = 1235;
  EXPECT_NE(generatePattern(recipe).bytes, a.bytes);
}

TEST(PatternData, ViewsShowSixteenBytesALine) {
  GeneratedPattern g = custom("41", ElementWidth::Byte, ElementStep::None);
  std::string value = patternValueView(g.bytes);
  EXPECT_EQ(value.substr(0, value.find('\n')),
            "0000:41 41 41 41 41 41 41 41  41 41 41 41 41 41 41 41 |AAAAAAAA AAAAAAAA");
  EXPECT_EQ(std::count(value.begin(), value.end(), '\n'), 32);
  std::string ascii = patternAsciiView(std::vector<uint8_t>{'H', 'i', 0x00, 0x7F, 'x'});
  EXPECT_EQ(ascii, "0000:Hi..x\n");
}

TEST(PatternStamp, LayoutAtA64BitLba) {
  std::vector<uint8_t> data(2 * 512, 0xEE);
  StampLayout layout{true, 32, true, true, true};
  std::tm t{};
  t.tm_mday = 7;
  t.tm_hour = 13;
  t.tm_min = 5;
  t.tm_sec = 9;
  uint32_t next = stampSectors(data.data(), 2, 512, layout, 0x1'0000'0005ull, 0xFFFFFFFF, stampTimeDigits(t));
  EXPECT_EQ(next, 1u) << "the serial wraps";
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 32, data.begin() + 40),
            (std::vector<uint8_t>{0x05, 0, 0, 0, 0x01, 0, 0, 0}));
  EXPECT_EQ(std::string(data.begin() + 48, data.begin() + 56), "07130509");
  EXPECT_EQ(le32(data.data() + 64), 0xFFFFFFFFu);
  EXPECT_EQ(data[31], 0xEE);
  EXPECT_EQ(data[40], 0xEE) << "bytes between the stamps are the pattern's";
  EXPECT_EQ(data[68], 0xEE);
  EXPECT_EQ(le64(data.data() + 512 + 32), 0x1'0000'0006ull);
  EXPECT_EQ(le32(data.data() + 512 + 64), 0u);

  EXPECT_FALSE(checkStamps(data.data(), 2, 512, layout, 0x1'0000'0005ull, 0xFFFFFFFF));
  EXPECT_EQ(checkStamps(data.data(), 2, 512, layout, 0x1'0000'0004ull, 0xFFFFFFFF), 0u);
  data[512 + 64] ^= 1;
  EXPECT_EQ(checkStamps(data.data(), 2, 512, layout, 0x1'0000'0005ull, 0xFFFFFFFF), 1u);
  layout.serial = false;
  EXPECT_FALSE(checkStamps(data.data(), 2, 512, layout, 0x1'0000'0005ull, 0));
  EXPECT_EQ((StampLayout{true, 0, false, true, false}.extent()), 0x18u);
}

std::vector<std::pair<uint64_t, uint32_t>> walk(const PatternRange& range, WalkSettings s, int commands,
                                                std::vector<bool>* passEnds = nullptr) {
  TestRandom random(7);
  PatternWalk w(range, s, random);
  std::vector<std::pair<uint64_t, uint32_t>> out;
  for (int i = 0; i < commands; ++i) {
    out.emplace_back(w.lba(), w.sectors());
    bool ended = w.advance();
    if (passEnds) passEnds->push_back(ended);
  }
  return out;
}

TEST(PatternRange, WrappingRangeVisitsTheTopOfTheDriveThenItsStart) {
  auto range = PatternRange::make(0xC00, 0x100, 0x1000);
  ASSERT_TRUE(range);
  EXPECT_TRUE(range->wraps);
  EXPECT_EQ(range->length, 0x500u);
  std::vector<bool> ends;
  auto cmds = walk(*range, {0x100, 0x100, false, false}, 6, &ends);
  std::vector<std::pair<uint64_t, uint32_t>> expected = {
      {0xC00, 0x100}, {0xD00, 0x100}, {0xE00, 0x100}, {0xF00, 0x100}, {0x000, 0x100}, {0xC00, 0x100}};
  EXPECT_EQ(cmds, expected);
  EXPECT_EQ(ends, (std::vector<bool>{false, false, false, false, true, false}));

  // Not aligned: cut at the capacity, then at end.
  range = PatternRange::make(0xF80, 0xC0, 0x1000);
  cmds = walk(*range, {0x100, 0x100, false, false}, 4);
  expected = {{0xF80, 0x80}, {0x000, 0xC0}, {0xF80, 0x80}, {0x000, 0xC0}};
  EXPECT_EQ(cmds, expected);
  // End 0: only start .. capacity - 1.
  range = PatternRange::make(0xF00, 0, 0x1000);
  cmds = walk(*range, {0x80, 0x80, false, false}, 3);
  expected = {{0xF00, 0x80}, {0xF80, 0x80}, {0xF00, 0x80}};
  EXPECT_EQ(cmds, expected);
}

TEST(PatternRange, PlainRangeIsCutAtItsEndAndStartsAgain) {
  auto range = PatternRange::make(0x100, 0x250, 0x1000);
  ASSERT_TRUE(range);
  std::vector<bool> ends;
  auto cmds = walk(*range, {0x80, 0x80, false, false}, 4, &ends);
  std::vector<std::pair<uint64_t, uint32_t>> expected = {{0x100, 0x80}, {0x180, 0x80}, {0x200, 0x50}, {0x100, 0x80}};
  EXPECT_EQ(cmds, expected);
  EXPECT_EQ(ends, (std::vector<bool>{false, false, true, false}));
  // A range shorter than one command: the first command is cut too.
  range = PatternRange::make(0x10, 0x18, 0x1000);
  EXPECT_EQ(walk(*range, {0x80, 0x80, false, false}, 2), (std::vector<std::pair<uint64_t, uint32_t>>{{0x10, 8}, {0x10, 8}}));
  EXPECT_FALSE(PatternRange::make(5, 5, 0x1000));
  EXPECT_FALSE(PatternRange::make(0x1000, 5, 0x1000));
  EXPECT_FALSE(PatternRange::make(0, 0x1001, 0x1000));
}

TEST(PatternRange, RandomShiftsAndLengthsStayInsideTheRange) {
  for (auto [start, end] : {std::pair<uint64_t, uint64_t>{0x100, 0x900}, {0xE00, 0x300}}) {
    auto range = PatternRange::make(start, end, 0x1000);
    ASSERT_TRUE(range);
    for (bool lengthRandom : {false, true}) {
      auto cmds = walk(*range, {0x80, 0x40, true, lengthRandom}, 2000);
      for (auto [lba, n] : cmds) {
        ASSERT_TRUE(range->contains(lba, n)) << std::hex << lba << "+" << n;
        ASSERT_GE(n, 1u);
        if (lengthRandom) {
          ASSERT_LE(n, 0x40u) << "at most the Max Rdn Len";
        }
      }
    }
  }
  // Random lengths without a random shift cover the range without gaps.
  auto range = PatternRange::make(0, 0x400, 0x1000);
  auto cmds = walk(*range, {0x80, 0x80, false, true}, 40);
  uint64_t next = 0;
  for (auto [lba, n] : cmds) {
    ASSERT_EQ(lba, next);
    next = lba + n == 0x400 ? 0 : lba + n;
  }
}

TEST(PatternRange, Random48JoinsTheLow12BitsOfFourDraws) {
  TestRandom a(99), b(99);
  uint64_t expected = 0;
  for (int i = 0; i < 4; ++i) expected = expected << 12 | (b.next() & 0xFFF);
  EXPECT_EQ(random48(a), expected);
  EXPECT_LT(expected, uint64_t{1} << 48);
}

TEST(GenDataTab, SlidersShowTheirLbasWithTheTopOfTheDriveRoundedUp) {
  const uint64_t cap = 1'000'000'000;
  EXPECT_EQ(CGenData::lbaAtPermille(cap, 300), 300'000'000u);
  EXPECT_EQ(CGenData::lbaAtPermille(cap, 997), 997'000'000u) << "exactly 0.997 stays";
  EXPECT_EQ(CGenData::lbaAtPermille(cap, 998), cap);
  EXPECT_EQ(CGenData::lbaAtPermille(1001, 997), 997u);
  EXPECT_EQ(CGenData::lbaAtPermille(0xFFFFFFFFFFFFFFFFull, 500), 0x7FFFFFFFFFFFFFFFull) << "no overflow";

  CGenData tab;
  tab.initialise(0x1000, 512);
  EXPECT_EQ(tab.controls.startLba, "0H");
  EXPECT_EQ(tab.controls.endLba, "4CCH");  // floor(0x1000 x 0.3)
  EXPECT_EQ(tab.controls.endPercent, "30%");
  tab.setStartSlider(100);
  EXPECT_EQ(tab.controls.startSlider, 99) << "the start slider never shows 100";
  tab.setEndSlider(0);
  EXPECT_EQ(tab.controls.endSlider, 1);
  tab.setEndSlider(100);
  EXPECT_EQ(tab.controls.endLba, "1000H");
  tab.setEndPermille(998);
  EXPECT_EQ(tab.controls.endLba, "1000H");
  EXPECT_EQ(tab.controls.endPercent, "99.8%");

  uint64_t lba = 0;
  EXPECT_TRUE(CGenData::parseLbaText("12, 3A4 H", lba));
  EXPECT_EQ(lba, 0x3A4u);
  EXPECT_FALSE(CGenData::parseLbaText("H", lba));
  EXPECT_FALSE(CGenData::parseLbaText("12G", lba));
}

TEST(GenDataTab, DefaultsAndOnlyRead) {
  CGenData tab;
  tab.initialise(0x100000, 512);
  const GenDataControls& c = tab.controls;
  EXPECT_EQ(c.value, "11223344");
  EXPECT_EQ(c.text, "HelloWorld");
  EXPECT_EQ(c.sectorNumber, "80");
  EXPECT_EQ(c.serial, "00000000");
  EXPECT_EQ(c.shift, "80");
  EXPECT_EQ(c.loop, "3");
  EXPECT_TRUE(c.saveLog);
  EXPECT_EQ(c.errLimitIndex, 0);
  EXPECT_EQ(CGenData::errLimitChoices().back(), "10");
  EXPECT_FALSE(tab.writeEnabled());
  tab.setStampRecord(true);
  EXPECT_EQ(c.offset, "32");

  tab.controls.shiftRandom = true;
  tab.controls.offset = "100";
  tab.setOnlyRead(true);
  EXPECT_FALSE(c.shiftRandom);
  EXPECT_TRUE(c.stampLba);
  EXPECT_TRUE(c.stampSerial);
  EXPECT_EQ(c.offset, "32");
  EXPECT_FALSE(tab.randomBoxesEnabled());

  CGenData other;
  other.initialise(0x100000, 512);
  other.controls.lengthRandom = true;
  other.setOnlyRead(true);
  EXPECT_FALSE(other.controls.stampSerial) << "random lengths are not read back in the same steps";
  EXPECT_FALSE(other.controls.lengthRandom);
}

TEST(GenDataTab, BadInputIsRefusedWithAClearText) {
  struct Case {
    const char* what;
    void (*change)(GenDataControls&);
    const char* refusal;
  };
  const Case cases[] = {
      {"empty start", [](GenDataControls& c) { c.startLba = ""; }, "Start LBA: enter a hex LBA"},
      {"non-hex end", [](GenDataControls& c) { c.endLba = "12X"; }, "End LBA: enter a hex LBA"},
      {"start = end", [](GenDataControls& c) { c.endLba = c.startLba; }, "Start LBA = End LBA"},
      {"empty shift", [](GenDataControls& c) { c.shift = ""; }, "Shft Addr/ Max Rdn Len: enter a hex number of sectors"},
      {"non-hex loop", [](GenDataControls& c) { c.loop = "x"; }, "Loop: enter a hex loop count"},
      {"empty offset",
       [](GenDataControls& c) {
         c.stampRecord = true;
         c.offset = "";
       },
       "Offset: enter the stamps' byte offset in decimal"},
      {"bad serial",
       [](GenDataControls& c) {
         c.stampRecord = true;
         c.offset = "32";
         c.stampSerial = true;
         c.serial = "123456789";
       },
       "Serial Number (4B): enter up to 8 hex digits"},
  };
  for (const Case& k : cases) {
    CGenData tab;
    tab.initialise(0x100000, 512);
    ASSERT_EQ(tab.genData(1), "");
    k.change(tab.controls);
    EXPECT_EQ(tab.runParameters().refusal, k.refusal) << k.what;
  }
  CGenData tab;
  tab.initialise(0x100000, 512);
  EXPECT_EQ(tab.runParameters().refusal, "No pattern yet: press Gen Data first");
  tab.controls.sectorNumber = "0";
  EXPECT_EQ(tab.genData(1), "Sector Number: a sector count of 0 moves no data");
  tab.controls.sectorNumber = "";
  EXPECT_EQ(tab.genData(1), "Sector Number: enter a hex number of sectors");
  tab.controls.sectorNumber = "80";
  tab.controls.value = "12G4";
  EXPECT_NE(tab.genData(1), "");
  tab.controls.kind = PatternKind::String;
  tab.controls.text = std::string(256, 'a');
  EXPECT_EQ(tab.genData(1), "String: at most 255 characters (this one has 256)");
  EXPECT_FALSE(tab.writeEnabled());
  EXPECT_EQ(genDataErrorText("Start LBA = End LBA"), "<<Error>>\r\nStart LBA = End LBA\r\n");
}

}  // namespace
}  // namespace zorv
