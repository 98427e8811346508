#include <gtest/gtest.h>

#include <cstring>

#include "firmware/lh5/decoder.h"
#include "firmware/lh5/encoder.h"
#include "firmware/package.h"
#include "firmware/package_builder.h"
#include "firmware_test_util.h"

namespace zorv::firmware::test {
namespace {

// Content builder for table cases: entries written byte by byte.
struct ContentWriter {
  std::vector<uint8_t> bytes;

  void entry(std::vector<uint8_t> id, const std::string& name, uint32_t offsetUnits, uint32_t lengthUnits) {
    std::vector<uint8_t> e(kTableEntrySize, 0);
    std::copy(id.begin(), id.end(), e.begin());
    std::memcpy(&e[16], name.data(), std::min<size_t>(name.size(), 16));
    for (int i = 0; i < 4; ++i) {
      e[32 + i] = static_cast<uint8_t>(offsetUnits >> (8 * i));
      e[36 + i] = static_cast<uint8_t>(lengthUnits >> (8 * i));
    }
    bytes.insert(bytes.end(), e.begin(), e.end());
  }
  void zeroEntry() {
    std::vector<uint8_t> e(kTableEntrySize, 0xEE);
    std::fill_n(e.begin(), 4, 0);
    bytes.insert(bytes.end(), e.begin(), e.end());
  }
  void endMark() {
    std::vector<uint8_t> e(16, 0x33);  // bytes 0..11 are not examined
    std::copy(kEndMark.begin(), kEndMark.end(), e.begin() + 12);
    bytes.insert(bytes.end(), e.begin(), e.end());
  }
  void imageArea(size_t units) { bytes.resize(bytes.size() + units * kImageUnit, 0xC3); }
};

std::vector<uint8_t> id9(uint8_t last) { return {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, last}; }

TEST(QzHeader, FieldsAreBigEndian) {
  const std::vector<uint8_t> bytes = {0x00, 0x01, 0x02, 0x03, 0xAB, 0xCD, 0x00, 0x00, 0x10, 0x00,
                                      0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF};
  auto h = readQzHeader(bytes);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->origSize, 0x00010203u);
  EXPECT_EQ(h->sum16, 0xABCD);
  EXPECT_EQ(h->compSize, 0x1000u);
  EXPECT_EQ(h->reserved, 0x1234);
  auto round = encodeQzHeader(*h);
  EXPECT_TRUE(std::equal(round.begin(), round.begin() + 12, bytes.begin()));
  EXPECT_FALSE(readQzHeader(std::span<const uint8_t>(bytes.data(), 15)));
}

TEST(UnpackPackage, FixtureStreamAsPackage) {
  std::vector<uint8_t> stream = readFixture("lh5/dos_lha213.lh5");
  std::vector<uint8_t> text = readFixture("lh5/dos_lha213.out");
  std::vector<uint8_t> package = wrapStream(stream, 18092, 34087);
  package.insert(package.end(), {1, 2, 3});  // bytes after the stream are ignored
  std::vector<uint8_t> content;
  UnpackResult r = unpackPackage(package, content);
  ASSERT_TRUE(r.ok()) << r.reason;
  EXPECT_EQ(content, text);
  EXPECT_EQ(r.diagnostic, "\r\nulTargetPos=0\r\nulCompFWStartAddr=10\r\n");
}

struct BadPackage {
  const char* name;
  std::vector<uint8_t> bytes;
  UnpackError error;
  std::string diagnosticTail;
};

TEST(UnpackPackage, BadPackagesFailAndLeaveTheContentAlone) {
  std::vector<uint8_t> stream = readFixture("lh5/dos_lha213.lh5");
  std::vector<BadPackage> cases;
  cases.push_back({"shorter than the header", std::vector<uint8_t>(10, 0), UnpackError::TooShort, ""});
  std::vector<uint8_t> cut = wrapStream(stream, 18092, 34087);
  cut.resize(cut.size() - 1);
  cases.push_back({"stream past the end of the file", cut, UnpackError::Truncated, ""});
  cases.push_back({"wrong sum", wrapStream(stream, 18092, 34088), UnpackError::SumMismatch, "Fail 8527 8528\r\n"});
  cases.push_back({"origSize beyond what the stream holds", wrapStream(stream, 18093, 34087), UnpackError::BadStream,
                   ""});
  cases.push_back({"truncated fixture with the full length in its header",
                   wrapStream(readFixture("lh5/truncated.lh5"), 18092, 34087), UnpackError::BadStream, ""});
  std::vector<uint8_t> huge = wrapStream(stream, 0xFFFFFFF0u, 0);
  cases.push_back({"content larger than a package may hold", huge, UnpackError::ContentTooLarge, ""});
  std::vector<uint8_t> garbage(200);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 71 + 3);
  cases.push_back({"garbage stream", wrapStream(garbage, 5000, 0), UnpackError::BadStream, ""});

  for (const BadPackage& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> content = {9, 9, 9};
    UnpackResult r = unpackPackage(c.bytes, content);
    EXPECT_EQ(r.error, c.error) << r.reason;
    EXPECT_FALSE(r.reason.empty());
    EXPECT_EQ(content, (std::vector<uint8_t>{9, 9, 9}));
    if (!c.diagnosticTail.empty()) {
      ASSERT_GE(r.diagnostic.size(), c.diagnosticTail.size());
      EXPECT_EQ(r.diagnostic.substr(r.diagnostic.size() - c.diagnosticTail.size()), c.diagnosticTail);
    }
  }
}

// compSize equal to origSize marks a stored package: copied unchanged and
// checked like any other.
TEST(UnpackPackage, StoredPackageIsCopiedAndSummed) {
  std::vector<uint8_t> raw = generateInput(InputKind::Random, 3000, 4);
  std::vector<uint8_t> package = wrapStream(raw, 3000, lh5::byteSum16(raw));
  std::vector<uint8_t> content;
  ASSERT_TRUE(unpackPackage(package, content).ok());
  EXPECT_EQ(content, raw);
  package[5] ^= 1;
  EXPECT_EQ(unpackPackage(package, content).error, UnpackError::SumMismatch);
  // Our packer stores incompressible content that way.
  std::vector<uint8_t> wrapped = wrapContent(raw);
  auto h = readQzHeader(wrapped);
  ASSERT_TRUE(h);
  EXPECT_TRUE(h->stored());
  EXPECT_EQ(wrapped.size(), kQzHeaderSize + raw.size());
}

TEST(ParseFirmwareTable, RowsOffsetsAndSkippedEntries) {
  ContentWriter w;
  w.entry(id9(0x01), "PA128", 0, 2);
  w.zeroEntry();
  w.entry(id9(0x02), "ABCDEFGHIJKLMNOP", 2, 1);  // 16 characters, no NUL
  w.endMark();
  w.imageArea(3);
  FirmwareTable table;
  table.rows[5].modelName = "stale";
  ParseResult r = parseFirmwareTable(w.bytes, 0, table);
  ASSERT_TRUE(r.ok()) << r.reason;
  ASSERT_EQ(r.rowCount, 2);
  EXPECT_EQ(table.fwCount, 2);
  const size_t e = 3 * kTableEntrySize + 16;  // image area: 16 bytes after the end mark
  EXPECT_EQ(table.rows[0].imageOffset, e);
  EXPECT_EQ(table.rows[0].imageLength, 1024u);
  EXPECT_EQ(table.rows[0].modelName, "PA128");
  EXPECT_EQ(table.rows[1].imageOffset, e + 1024);
  EXPECT_EQ(table.rows[1].imageLength, 512u);
  EXPECT_EQ(table.rows[1].modelName, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(table.rows[1].firmwareId[8], 0x02);
  EXPECT_EQ(table.rows[1].firmwareId[9], 0x00) << "zero beyond the 9-byte ID";
  EXPECT_TRUE(table.rows[5].modelName.empty()) << "rows are cleared before a load";
  EXPECT_EQ(r.diagnostic,
            "Model Name: PA128\r\nOffset: A0, length: 400\r\n-------------------------\r\n"
            "Model Name: ABCDEFGHIJKLMNOP\r\nOffset: 4A0, length: 200\r\n-------------------------\r\n");
}

TEST(ParseFirmwareTable, SixteenByteIdsForModelClass1) {
  ContentWriter w;
  std::vector<uint8_t> id(16);
  for (int i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(0xA0 + i);
  w.entry(id, "TA256", 0, 1);
  w.endMark();
  w.imageArea(1);
  FirmwareTable table;
  ASSERT_TRUE(parseFirmwareTable(w.bytes, 1, table).ok());
  EXPECT_TRUE(std::equal(id.begin(), id.end(), table.rows[0].firmwareId.begin()));
  ASSERT_TRUE(parseFirmwareTable(w.bytes, 0, table).ok());
  EXPECT_EQ(table.rows[0].firmwareId[8], 0xA8);
  EXPECT_EQ(table.rows[0].firmwareId[9], 0x00);
}

TEST(ParseFirmwareTable, EndMarkFirstGivesNoRows) {
  ContentWriter w;
  w.endMark();
  FirmwareTable table;
  ParseResult r = parseFirmwareTable(w.bytes, 0, table);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.rowCount, 0);
}

TEST(ParseFirmwareTable, BrokenTablesFail) {
  struct Case {
    const char* name;
    std::function<void(ContentWriter&)> build;
    TableError error;
  };
  const Case cases[] = {
      {"no end mark", [](ContentWriter& w) { w.entry(id9(1), "A", 0, 1); w.imageArea(1); }, TableError::PastContent},
      {"entry cut short",
       [](ContentWriter& w) {
         w.entry(id9(1), "A", 0, 1);
         w.bytes.resize(w.bytes.size() + 20, 0x11);
       },
       TableError::PastContent},
      {"empty content", [](ContentWriter&) {}, TableError::PastContent},
      {"257 rows",
       [](ContentWriter& w) {
         for (int i = 0; i < 257; ++i) w.entry(id9(static_cast<uint8_t>(i)), "M", 0, 0);
         w.endMark();
       },
       TableError::TooManyRows},
      {"image past the content",
       [](ContentWriter& w) {
         w.entry(id9(1), "A", 0, 2);
         w.endMark();
         w.imageArea(1);
       },
       TableError::ImageOutside},
      {"offset far outside",
       [](ContentWriter& w) {
         w.entry(id9(1), "A", 0xFFFFFFFFu, 0xFFFFFFFFu);
         w.endMark();
       },
       TableError::ImageOutside},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ContentWriter w;
    c.build(w);
    FirmwareTable table;
    ParseResult r = parseFirmwareTable(w.bytes, 0, table);
    EXPECT_EQ(r.error, c.error);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_EQ(table.fwCount, 0);
  }
}

// 256 rows fill the table; their count is not taken for an empty table.
TEST(ParseFirmwareTable, FullTableOf256Rows) {
  ContentWriter w;
  for (int i = 0; i < 256; ++i) w.entry(id9(static_cast<uint8_t>(i)), "M", 0, 0);
  w.endMark();
  FirmwareTable table;
  ParseResult r = parseFirmwareTable(w.bytes, 0, table);
  ASSERT_TRUE(r.ok()) << r.reason;
  EXPECT_EQ(table.fwCount, 256);
  EXPECT_EQ(selectImageForDrive(table, id9(255), 9), 255);
}

TEST(SelectImageForDrive, ComparesOverTheGivenLength) {
  ContentWriter w;
  w.entry(id9(0x01), "FIRST", 0, 1);
  w.entry(id9(0x02), "SECOND", 0, 1);
  w.entry(id9(0x02), "DUPLICATE", 0, 1);
  w.endMark();
  w.imageArea(1);
  FirmwareTable table;
  ASSERT_TRUE(parseFirmwareTable(w.bytes, 0, table).ok());
  // The tab leaves the last byte out: a HWID differing only there matches
  // the first row.
  EXPECT_EQ(selectImageForDrive(table, id9(0x7F), tabCompareLength(0)), 0);
  // The downloader compares all nine bytes (15 with zero fill) and takes the
  // first of two equal rows.
  EXPECT_EQ(selectImageForDrive(table, id9(0x02), kDownloaderCompareLength), 1);
  EXPECT_EQ(selectImageForDrive(table, id9(0x7F), kDownloaderCompareLength), std::nullopt);
  std::vector<uint8_t> other = id9(0x01);
  other[3] ^= 0xFF;
  EXPECT_EQ(selectImageForDrive(table, other, tabCompareLength(0)), std::nullopt);
}

TEST(SelectForDownloader, ComposesTheTextAndComparesFifteenBytes) {
  ContentWriter w;
  w.entry(id9(0x01), "FIRST", 0, 1);
  w.entry(id9(0x02), "SECOND", 0, 1);
  w.endMark();
  w.imageArea(1);
  FirmwareTable table;
  ASSERT_TRUE(parseFirmwareTable(w.bytes, 0, table).ok());
  DownloaderSelection s = selectForDownloader(table, id9(0x02), 0);
  EXPECT_EQ(s.row, 1);
  EXPECT_EQ(s.text, "Current HWID: 10203040 50607080 02\r\nCorrect Item: 1   TtlFwNum: 2\r\n");
  // Unlike the tab, the last byte of a 9-byte ID counts here.
  s = selectForDownloader(table, id9(0x03), 0);
  EXPECT_EQ(s.row, std::nullopt);
  EXPECT_EQ(s.text, "Current HWID: 10203040 50607080 03\r\n");
  // A 16-byte ID leaves its last byte out.
  std::vector<uint8_t> id16(16, 0x44);
  w = ContentWriter{};
  w.entry(id16, "TA256", 0, 1);
  w.endMark();
  w.imageArea(1);
  ASSERT_TRUE(parseFirmwareTable(w.bytes, 1, table).ok());
  id16[15] = 0x45;
  EXPECT_EQ(selectForDownloader(table, id16, 1).row, 0);
  id16[14] = 0x45;
  EXPECT_EQ(selectForDownloader(table, id16, 1).row, std::nullopt);
}

TEST(FormatIdHex, BlankAfterEveryFourthByte) {
  EXPECT_EQ(formatIdHex(id9(0xAB)), "10203040 50607080 AB");
  std::vector<uint8_t> sixteen(16, 0x0F);
  EXPECT_EQ(formatIdHex(sixteen), "0F0F0F0F 0F0F0F0F 0F0F0F0F 0F0F0F0F ");
}

TEST(BuildPackage, RoundTripsThroughUnpackAndParse) {
  std::vector<PackageRow> rows(2);
  rows[0].firmwareId = id9(0x01);
  rows[0].modelName = "PA128";
  rows[0].image = generateInput(InputKind::Firmware, 8192, 2);
  rows[1].firmwareId = id9(0x02);
  rows[1].modelName = "PM240";
  rows[1].image = generateInput(InputKind::Firmware, 4096, 4);
  BuildResult built = buildPackage(rows, 0);
  ASSERT_TRUE(built.ok) << built.error;
  std::vector<uint8_t> content;
  ASSERT_TRUE(unpackPackage(built.bytes, content).ok());
  FirmwareTable table;
  ASSERT_TRUE(parseFirmwareTable(content, 0, table).ok());
  ASSERT_EQ(table.fwCount, 2);
  for (int i = 0; i < 2; ++i) {
    std::span<const uint8_t> stored = rowImage(content, table.rows[i]);
    ASSERT_EQ(stored.size(), rows[i].image.size());
    for (size_t k = 0; k < stored.size(); ++k) ASSERT_EQ(stored[k], static_cast<uint8_t>(~rows[i].image[k])) << k;
  }
  // Model class 1 stores images as they are.
  rows[0].firmwareId.assign(16, 0x21);
  rows[1].firmwareId.assign(16, 0x22);
  built = buildPackage(rows, 1);
  ASSERT_TRUE(built.ok);
  ASSERT_TRUE(unpackPackage(built.bytes, content).ok());
  ASSERT_TRUE(parseFirmwareTable(content, 1, table).ok());
  std::span<const uint8_t> second = rowImage(content, table.rows[1]);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), rows[1].image.begin(), rows[1].image.end()));
}

TEST(BuildPackage, RefusesRowsThePackageCannotCarry) {
  auto row = [](std::vector<uint8_t> id, std::string name, size_t imageSize) {
    return PackageRow{std::move(id), std::move(name), std::vector<uint8_t>(imageSize, 0x5A)};
  };
  std::vector<uint8_t> endMarkId(16, 0x01);
  std::copy(kEndMark.begin(), kEndMark.end(), endMarkId.begin() + 12);
  struct Case {
    const char* name;
    uint16_t cls;
    PackageRow row;
  };
  const Case cases[] = {
      {"ID of the wrong length", 0, row(std::vector<uint8_t>(16, 1), "M", 512)},
      {"ID starting with four zeros", 0, row({0, 0, 0, 0, 1, 2, 3, 4, 5}, "M", 512)},
      {"ID that reads as the end mark", 1, row(endMarkId, "M", 512)},
      {"model name over 16 characters", 0, row(id9(1), "ABCDEFGHIJKLMNOPQ", 512)},
      {"image not whole units", 0, row(id9(1), "M", 700)},
      {"empty image", 0, row(id9(1), "M", 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuildResult r = buildPackage(std::span<const PackageRow>(&c.row, 1), c.cls);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
  }
  std::vector<PackageRow> many(257, row(id9(1), "M", 512));
  EXPECT_FALSE(buildPackage(many, 0).ok);
}

}  // namespace
}  // namespace zorv::firmware::test
