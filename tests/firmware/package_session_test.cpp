#include <gtest/gtest.h>

#include "firmware/package_builder.h"
#include "firmware/package_session.h"
#include "firmware_test_util.h"
#include "support/test_support.h"

namespace zorv::firmware::test {
namespace {

using zorv::test::RecordingPort;
using zorv::test::TestContext;

PackageRow makeRow(uint8_t last, const std::string& name, uint16_t cls = 0) {
  PackageRow row;
  row.firmwareId.assign(idLengthForClass(cls), 0);
  for (size_t i = 0; i < row.firmwareId.size(); ++i) row.firmwareId[i] = static_cast<uint8_t>(0x11 * (i + 1));
  row.firmwareId[1] = last;
  row.firmwareId.back() = last;
  row.modelName = name;
  row.image = generateInput(InputKind::Firmware, 4096, last);
  return row;
}

std::vector<uint8_t> twoRowPackage(uint16_t cls = 0) {
  std::vector<PackageRow> rows = {makeRow(0x01, "PA128", cls), makeRow(0x02, "PM240", cls)};
  BuildResult b = buildPackage(rows, cls, {.maxChain = 64, .niceLength = 64, .optimalParse = false});
  EXPECT_TRUE(b.ok) << b.error;
  return b.bytes;
}

struct TabFixture : ::testing::Test {
  RecordingPort port;
  TestContext t{port};
  StringSink box;
  QzPackageTab tab;
};

TEST_F(TabFixture, OpenQzListsTheRows) {
  TempDir dir;
  writeFile(dir.path() / "fw.qz", twoRowPackage());
  t.ui.files.push_back((dir.path() / "fw.qz").string());
  t.ctx.selectedDrive().usModelClass = 0;
  ASSERT_TRUE(tab.openQz(t.ctx, box));
  EXPECT_EQ(box.text(), "");
  ASSERT_EQ(tab.rowCount(), 2);
  auto rows = tab.listRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].firmwareId, "11013344 55667788 01");
  EXPECT_EQ(rows[0].offset, "00000070");  // 2 entries + end mark
  EXPECT_EQ(rows[0].modelName, "PA128");
  EXPECT_EQ(rows[1].offset, "00001070");
  auto cols = tab.columns();
  EXPECT_EQ(cols[0].title, "Firmware ID");
  EXPECT_EQ(cols[0].width, 160);
  EXPECT_EQ(cols[1].title, "Offset");
  EXPECT_EQ(cols[1].width, 90);
  EXPECT_EQ(cols[2].title, "Model Name");
  EXPECT_EQ(cols[2].width, 150);
  EXPECT_EQ(tab.image(1).size(), 4096u);
}

TEST_F(TabFixture, ColumnWidthsByModelClass) {
  EXPECT_EQ(initialQzColumns(0)[0].width, 140);
  EXPECT_EQ(initialQzColumns(1)[0].width, 240);
  EXPECT_EQ(initialQzColumns(1)[1].width, 70);
  EXPECT_EQ(initialQzColumns(1)[2].width, 130);
  EXPECT_EQ(loadedQzColumns(1)[0].width, 260);
  EXPECT_EQ(tab.columns()[0].width, 140) << "before any load";
}

TEST_F(TabFixture, FailedLoadsKeepThePreviousPackage) {
  ASSERT_TRUE(tab.loadBytes(t.ctx, twoRowPackage(), 0, box));
  // Cancelled file choice.
  EXPECT_FALSE(tab.openQz(t.ctx, box));
  EXPECT_EQ(box.take(), "Open File Fail\r\n");
  // A file that does not exist.
  EXPECT_FALSE(tab.loadFile(t.ctx, "/nonexistent/zorv/fw.qz", box));
  EXPECT_EQ(box.take(), "Open File Fail\r\n");
  // A package whose sum is wrong.
  std::vector<uint8_t> bad = twoRowPackage();
  bad[5] ^= 0x01;
  EXPECT_FALSE(tab.loadBytes(t.ctx, bad, 0, box));
  EXPECT_EQ(box.take(), "Unzip File Fail\r\n");
  EXPECT_NE(tab.lastDiagnostic().find("Fail "), std::string::npos);
  EXPECT_FALSE(tab.lastFailure().empty());
  // Cut short.
  bad = twoRowPackage();
  bad.resize(bad.size() / 2);
  EXPECT_FALSE(tab.loadBytes(t.ctx, bad, 0, box));
  EXPECT_EQ(box.take(), "Unzip File Fail\r\n");
  // The first package is still there, rows and images alike.
  EXPECT_EQ(tab.rowCount(), 2);
  EXPECT_EQ(tab.listRows()[1].modelName, "PM240");
  EXPECT_EQ(tab.image(0).size(), 4096u);
}

TEST_F(TabFixture, ContentWithoutEndMarkIsAnUnzipFailure) {
  std::vector<uint8_t> content(4096, 0x42);
  EXPECT_FALSE(tab.loadBytes(t.ctx, wrapContent(content), 0, box));
  EXPECT_EQ(box.take(), "Unzip File Fail\r\n");
  EXPECT_FALSE(tab.loaded());
}

TEST_F(TabFixture, DownloadQzChoosesTheRowForTheHwid) {
  ASSERT_TRUE(tab.loadBytes(t.ctx, twoRowPackage(), 0, box));
  std::vector<uint8_t> hwid = makeRow(0x02, "").firmwareId;
  EXPECT_EQ(tab.chooseForDownload(t.ctx, hwid, box), 1);
  EXPECT_EQ(box.take(), "Current HWID: 11023344 55667788 02\r\nCorrect Item: 1   TtlFwNum: 2\r\nParsing Success\r\n");
  // Only the last byte differs: the row still matches on the tab.
  hwid.back() = 0x7E;
  EXPECT_EQ(tab.chooseForDownload(t.ctx, hwid, box), 1);
  EXPECT_EQ(box.take(), "Current HWID: 11023344 55667788 7E\r\nCorrect Item: 1   TtlFwNum: 2\r\nParsing Success\r\n");
  EXPECT_TRUE(t.ui.boxes.empty());
}

TEST_F(TabFixture, DownloadQzWithoutAMatch) {
  ASSERT_TRUE(tab.loadBytes(t.ctx, twoRowPackage(), 0, box));
  std::vector<uint8_t> hwid = makeRow(0x02, "").firmwareId;
  hwid[0] = 0x99;
  EXPECT_EQ(tab.chooseForDownload(t.ctx, hwid, box), std::nullopt);
  EXPECT_EQ(box.take(), "Current HWID: 99023344 55667788 02\r\nNo bin file");
  ASSERT_EQ(t.ui.boxes.size(), 1u);
  EXPECT_EQ(t.ui.boxes[0].text, "No bin file");
  EXPECT_EQ(t.ui.boxes[0].icon, BoxIcon::Stop);
}

TEST_F(TabFixture, DownloadQzWithNoRows) {
  EXPECT_EQ(tab.chooseForDownload(t.ctx, std::vector<uint8_t>(9, 1), box), std::nullopt);
  EXPECT_EQ(box.take(), "No QZ code\r\n");
  // A package whose table is empty lists nothing and downloads nothing.
  BuildResult empty = buildPackage({}, 0);
  ASSERT_TRUE(empty.ok);
  ASSERT_TRUE(tab.loadBytes(t.ctx, empty.bytes, 0, box));
  EXPECT_EQ(tab.rowCount(), 0);
  EXPECT_EQ(tab.chooseForDownload(t.ctx, std::vector<uint8_t>(9, 1), box), std::nullopt);
  EXPECT_EQ(box.take(), "No QZ code\r\n");
}

TEST_F(TabFixture, ModelClass1UsesSixteenByteIds) {
  ASSERT_TRUE(tab.loadBytes(t.ctx, twoRowPackage(1), 1, box));
  EXPECT_EQ(tab.listRows()[0].firmwareId, "11013344 55667788 99AABBCC DDEEFF01 ");
  EXPECT_EQ(tab.columns()[0].width, 260);
  std::vector<uint8_t> hwid = makeRow(0x02, "", 1).firmwareId;
  EXPECT_EQ(tab.chooseForDownload(t.ctx, hwid, box), 1);
}

// The ID length is that of the drive selected when "Download QZ" runs: a
// package opened for a class 0 drive is read again for a class 1 drive.
TEST_F(TabFixture, TheTableIsReadAgainForAnotherModelClass) {
  // Two class 1 rows alike in their first nine bytes.
  PackageRow decoy = makeRow(0x02, "DECOY", 1);
  decoy.firmwareId[12] = 0xEE;
  std::vector<PackageRow> rows = {decoy, makeRow(0x02, "TA512", 1)};
  BuildResult b = buildPackage(rows, 1, {.maxChain = 64, .niceLength = 64, .optimalParse = false});
  ASSERT_TRUE(b.ok) << b.error;
  ASSERT_TRUE(tab.loadBytes(t.ctx, b.bytes, 0, box));
  EXPECT_EQ(tab.listRows()[1].firmwareId, "11023344 55667788 99");

  tab.readWithModelClass(1);
  EXPECT_EQ(tab.modelClass(), 1);
  EXPECT_EQ(tab.rowCount(), 2);
  EXPECT_EQ(tab.listRows()[1].firmwareId, "11023344 55667788 99AABBCC DDEEFF02 ");
  EXPECT_EQ(tab.columns()[0].width, 260);
  EXPECT_EQ(tab.chooseForDownload(t.ctx, rows[1].firmwareId, box), 1);
  EXPECT_EQ(tab.image(1).size(), 4096u);
}

// Model names come from the package as they are; what is shown of them
// never carries a control character to a terminal or a window.
TEST_F(TabFixture, ModelNamesAreShownWithNonPrintableBytesEscaped) {
  std::vector<PackageRow> rows = {makeRow(0x01, std::string("A\x1B[2J\x07\\\xFFZ"))};
  BuildResult b = buildPackage(rows, 0, {.maxChain = 64, .niceLength = 64, .optimalParse = false});
  ASSERT_TRUE(b.ok) << b.error;
  ASSERT_TRUE(tab.loadBytes(t.ctx, b.bytes, 0, box));
  EXPECT_EQ(tab.table().rows[0].modelName, std::string("A\x1B[2J\x07\\\xFFZ"));  // kept as it is
  EXPECT_EQ(tab.listRows()[0].modelName, "A\\x1B[2J\\x07\\\\\\xFFZ");
  EXPECT_NE(tab.lastDiagnostic().find("Model Name: A\\x1B[2J\\x07\\\\\\xFFZ\r\n"), std::string::npos)
      << tab.lastDiagnostic();
}

TEST_F(TabFixture, SilentMessageModeShowsNothing) {
  t.ctx.ucMsgMode = kMsgModeSilent;
  EXPECT_FALSE(tab.loadFile(t.ctx, "", box));
  EXPECT_EQ(box.text(), "");
}

}  // namespace
}  // namespace zorv::firmware::test
