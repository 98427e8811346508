#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "identify/identify_table.h"
#include "identify/identify_view.h"
#include "identify_image.h"
#include "support/test_support.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

using test::IdentifyImage;

std::vector<std::string> splitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (;;) {
    size_t end = text.find("\r\n", pos);
    lines.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    if (end == std::string::npos) return lines;
    pos = end + 2;
  }
}

TEST(IdentifyTable, NinetySevenRowsCoverEveryWordButNinetyNine) {
  const auto& table = identifyWordTable();
  ASSERT_EQ(table.size(), 97u);
  int next = 0;
  for (const IdentifyWordRow& row : table) {
    if (next == 99) next = 100;
    EXPECT_EQ(row.usFirstWord, next);
    ASSERT_GT(row.ucWordCount, 0);
    next = row.usFirstWord + row.ucWordCount;
  }
  EXPECT_EQ(next, 256);
}

TEST(IdentifyTable, DescriptionsAreTitleThenAlignedBitLines) {
  // A bit line: the bit or range right-aligned in six columns, a space, the
  // meaning (continuation lines leave the six columns blank).
  const std::regex bitLine(R"( *([0-9]{1,2}(:[0-9]{1,2})?)? [^ ].*)");
  for (const IdentifyWordRow& row : identifyWordTable()) {
    std::vector<std::string> lines = splitCrLf(row.description);
    ASSERT_FALSE(lines[0].empty()) << row.usFirstWord;
    EXPECT_NE(lines[0][0], ' ') << row.usFirstWord;
    for (size_t i = 1; i < lines.size(); ++i) {
      ASSERT_GT(lines[i].size(), 7u) << row.usFirstWord;
      EXPECT_EQ(lines[i][6], ' ') << row.usFirstWord << ": " << lines[i];
      if (lines[i].compare(0, 6, "      ") != 0) {
        EXPECT_NE(lines[i][5], ' ') << row.usFirstWord << ": " << lines[i] << " (bits not right-aligned)";
      }
      EXPECT_TRUE(std::regex_match(lines[i], bitLine)) << row.usFirstWord << ": " << lines[i];
    }
  }
}

TEST(IdentifyTable, KnownDescriptions) {
  const auto& table = identifyWordTable();
  auto rowFor = [&](int word) -> const IdentifyWordRow& {
    for (const auto& r : table)
      if (r.usFirstWord == word) return r;
    throw std::out_of_range("no row");
  };
  std::vector<std::string> general = splitCrLf(rowFor(0).description);
  EXPECT_EQ(general[0], "General configuration bit-significant information:");
  EXPECT_NE(std::find(general.begin(), general.end(), "     7 1 = removable media device"), general.end());
  EXPECT_EQ(rowFor(10).description, "Serial number (20 ASCII characters)");
  EXPECT_EQ(rowFor(23).description, "Firmware revision (8 ASCII characters)");
  EXPECT_EQ(rowFor(27).description, "Model number (40 ASCII characters)");
  EXPECT_EQ(rowFor(100).description, "Total Number of user LBA for 48-bit Address feature set.");
  EXPECT_EQ(rowFor(129).description, "Vendor specific");
  EXPECT_EQ(rowFor(255).description, "Integrity word");
  // Every bit of the Ultra DMA word has its line.
  EXPECT_EQ(splitCrLf(rowFor(88).description).size(), 17u);
}

TEST(IdentifyValue, CellLayouts) {
  IdentifyImage id;
  id.word(0, 0x8421);
  for (int w = 1; w <= 6; ++w) id.word(w, static_cast<uint16_t>(w));
  id.word(7, 0x0007).word(8, 0x0008);
  id.word(100, 0x1111).word(101, 0x2222).word(102, 0x3333).word(103, 0x4444);
  id.text(27, 20, "AB").word(28, 0x4300);
  IdentifyWords words = identifyWordsFromBytes(id.bytes.data(), id.bytes.size());
  std::vector<IdentifyListRow> rows = identifySingleRows(words);
  ASSERT_EQ(rows.size(), 97u);

  EXPECT_EQ(rows[0].offset, "0");
  EXPECT_EQ(rows[0].length, "1");
  EXPECT_EQ(rows[0].value1, "               8421H\r\n1000 0100 0010 0001b");
  EXPECT_EQ(rows[1].value1, "0006 0005H\r\n0004 0003 0002 0001H");
  EXPECT_EQ(rows[2].value1, "0008 0007H");
  // Model: high byte first, a zero byte shown as a space.
  EXPECT_EQ(rows[7].offset, "27");
  EXPECT_EQ(rows[7].value1, "ABC" + std::string(37, ' '));
  // The 48-bit capacity: a line break, then the words from the last.
  const IdentifyListRow& capacity = rows[51];
  EXPECT_EQ(capacity.offset, "100");
  EXPECT_EQ(capacity.length, "4");
  EXPECT_EQ(capacity.value1, "\r\n4444 3333 2222 1111H");
  // 31 vendor words: seven full groups and three words in front.
  std::string vendor = identifyValueText(identifyWordTable()[68], words);
  EXPECT_EQ(identifyWordTable()[68].usFirstWord, 129);
  EXPECT_EQ(vendor.substr(0, 15), "0000 0000 0000H");
  EXPECT_EQ(std::count(vendor.begin(), vendor.end(), '\n'), 7);
  EXPECT_EQ(rows[0].description, identifyWordTable()[0].description);
  EXPECT_EQ(rows[0].value2, "");
}

TEST(IdentifyCompare, DifferencesNameRowAndFirstWord) {
  IdentifyImage a;
  a.text(27, 20, "ORBENNE PA256").word(88, 0x407F).word(255, 0x12A5);
  IdentifyWords wa = identifyWordsFromBytes(a.bytes.data(), a.bytes.size());
  EXPECT_TRUE(identifyDifferences(identifyCompareRows(wa, wa)).empty());

  IdentifyImage b = a;
  b.word(88, 0x207F).word(255, 0x34A5).word(102, 1);
  IdentifyWords wb = identifyWordsFromBytes(b.bytes.data(), b.bytes.size());
  std::vector<IdentifyListRow> rows = identifyCompareRows(wa, wb);
  EXPECT_EQ(rows[40].value2, "               207FH\r\n0010 0000 0111 1111b");
  const std::vector<std::string> expected = {"Item 40 offset: 88, ", "Item 51 offset: 100, ",
                                             "Item 96 offset: 255, "};
  EXPECT_EQ(identifyDifferences(rows), expected);
  for (const std::string& entry : expected) {
    std::optional<int> row = identifyDifferenceRow(entry);
    ASSERT_TRUE(row);
    EXPECT_NE(rows[static_cast<size_t>(*row)].value1, rows[static_cast<size_t>(*row)].value2);
  }
}

TEST(IdentifyCompare, DifferenceEntryParsing) {
  EXPECT_EQ(identifyDifferenceRow("Item 0 offset: 0, "), 0);
  EXPECT_EQ(identifyDifferenceRow("Item 96 offset: 255, "), 96);
  EXPECT_EQ(identifyDifferenceRow("Quick View Of Different Items.."), std::nullopt);
  EXPECT_EQ(identifyDifferenceRow("Item 97 offset: 1, "), std::nullopt);
  EXPECT_EQ(identifyDifferenceRow("Item -1 offset: 1, "), std::nullopt);
  EXPECT_EQ(identifyDifferenceRow("Item 4x offset: 1, "), std::nullopt);
  EXPECT_EQ(identifyDifferenceRow("Item 99999999999 offset: 1, "), std::nullopt);
  EXPECT_EQ(identifyDifferenceRow("Item "), std::nullopt);
}

TEST(IdentifyCompare, ShortDataReadsAsZeroBeyondItsEnd) {
  std::vector<uint8_t> shortData = {0x34, 0x12, 0x78};  // word 0 and half of word 1
  IdentifyWords w = identifyWordsFromBytes(shortData.data(), shortData.size());
  EXPECT_EQ(w[0], 0x1234);
  EXPECT_EQ(w[1], 0);
  EXPECT_EQ(w[255], 0);
  EXPECT_EQ(identifyWordsFromBytes(nullptr, 0)[0], 0);
}

class IdentifyFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = tempDir.path();
  }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::filesystem::path p = dir / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  test::TempDir tempDir;  // unique per test, removed at the end
  std::filesystem::path dir;
};

TEST_F(IdentifyFiles, CompareIdenticalAndDifferingFiles) {
  IdentifyImage a;
  a.text(10, 10, "S1").word(88, 0x407F);
  std::vector<uint8_t> bytesA(a.bytes.begin(), a.bytes.end());
  std::string fa = write("a.bin", bytesA);
  std::string fa2 = write("a2.bin", bytesA);

  IdentifyView view;
  ASSERT_TRUE(view.compareFiles(fa, fa2));
  EXPECT_EQ(view.mode(), IdentifyView::Mode::Compare);
  EXPECT_TRUE(view.differencesVisible());
  EXPECT_EQ(view.rows().size(), 97u);
  EXPECT_TRUE(view.differences().empty());

  IdentifyImage b = a;
  b.text(10, 10, "S2");
  std::string fb = write("b.bin", std::vector<uint8_t>(b.bytes.begin(), b.bytes.end()));
  ASSERT_TRUE(view.compareFiles(fa, fb));
  EXPECT_EQ(view.differences(), std::vector<std::string>{"Item 4 offset: 10, "});
  EXPECT_EQ(view.rows()[4].value1.substr(0, 2), "S1");
  EXPECT_EQ(view.rows()[4].value2.substr(0, 2), "S2");
}

TEST_F(IdentifyFiles, ShortAndLongFilesCompareOnTheirFirst512Bytes) {
  // A 10-byte file: words 5-255 read as zero, nothing read past the file.
  std::vector<uint8_t> shortBytes(10, 0);
  shortBytes[0] = 0x40;
  std::string fs = write("short.bin", shortBytes);
  IdentifyImage zero;
  zero.word(0, 0x0040);
  std::vector<uint8_t> longBytes(zero.bytes.begin(), zero.bytes.end());
  longBytes.resize(4096, 0xEE);  // trailing bytes are not IDENTIFY data
  std::string fl = write("long.bin", longBytes);
  std::string fe = write("empty.bin", {});

  IdentifyView view;
  ASSERT_TRUE(view.compareFiles(fs, fl));
  EXPECT_TRUE(view.differences().empty());
  ASSERT_TRUE(view.compareFiles(fe, fs));
  EXPECT_EQ(view.differences(), std::vector<std::string>{"Item 0 offset: 0, "});
}

TEST_F(IdentifyFiles, UnreadableFileChangesNothing) {
  IdentifyImage a;
  std::string fa = write("a.bin", std::vector<uint8_t>(a.bytes.begin(), a.bytes.end()));
  IdentifyView view;
  ASSERT_TRUE(view.compareFiles(fa, fa));
  std::string error;
  EXPECT_FALSE(view.compareFiles(fa, (dir / "missing.bin").string(), &error));
  EXPECT_EQ(error, (dir / "missing.bin").string());
  EXPECT_FALSE(view.compareFiles(dir.string(), fa, &error));  // a directory
  EXPECT_EQ(view.mode(), IdentifyView::Mode::Compare);
  EXPECT_EQ(view.rows().size(), 97u);

  // The page's dialogs: both files are asked for; a cancel stops.
  test::RecordingUi ui;
  ui.files = {fa};
  IdentifyView fresh;
  EXPECT_FALSE(fresh.compareBinary(ui));
  EXPECT_EQ(fresh.mode(), IdentifyView::Mode::Empty);
  ui.files = {fa, fa};
  EXPECT_TRUE(fresh.compareBinary(ui));
  EXPECT_EQ(fresh.mode(), IdentifyView::Mode::Compare);
}

}  // namespace
}  // namespace zorv
