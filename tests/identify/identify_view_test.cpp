#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "identify/identify_view.h"
#include "identify_image.h"
#include "support/test_support.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

using test::IdentifyImage;

class IdentifyButton : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = tempDir.path();
    image.text(10, 10, "SER 42").text(27, 20, "ORBENNE PA256").word(88, 0x407F);
    port.ata = [this](AtaPassThroughRequest& r) {
      if (fail) {
        r.currentTaskFile[6] = 0x51;
        return IoOutcome{};
      }
      std::memcpy(r.dataBuffer, image.bytes.data(), std::min<size_t>(r.dataTransferLength, 512));
      r.currentTaskFile[6] = 0x50;
      return IoOutcome{};
    };
    t.ctx.DriveTable[0].strModel = "ORBENNEPA256";
    t.ctx.DriveTable[0].strSerial = "SER 42";
  }

  test::TempDir tempDir;  // unique per test, removed at the end

  std::filesystem::path dir;
  IdentifyImage image;
  bool fail = false;
  test::RecordingPort port;
  test::TestContext t{port};
};

TEST_F(IdentifyButton, FillsTheListAndSavesTheData) {
  IdentifyView view;
  IdentifyView::IdentifyResult r = view.identify(t.ctx, dir.string());
  ASSERT_TRUE(r.identified);
  ASSERT_TRUE(r.saved);

  ASSERT_EQ(port.ataRequests.size(), 1u);
  const AtaPassThroughRequest& req = port.ataRequests[0];
  EXPECT_EQ(req.currentTaskFile[6], 0xEC);
  EXPECT_EQ(req.currentTaskFile[1], 1);
  EXPECT_EQ(req.currentTaskFile[5], 0x40);
  EXPECT_EQ(req.ataFlags, 0x03);
  EXPECT_EQ(req.dataTransferLength, 512u);

  EXPECT_EQ(view.mode(), IdentifyView::Mode::Single);
  EXPECT_FALSE(view.differencesVisible());
  ASSERT_EQ(view.rows().size(), 97u);
  EXPECT_EQ(view.rows()[4].value1.substr(0, 6), "SER 42");
  EXPECT_EQ(view.rows()[40].value1.substr(15, 5), "407FH");

  std::filesystem::path file = dir / "Identify_ORBENNEPA256_SER 42.bin";
  EXPECT_EQ(r.fileName, file.string());
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved, std::vector<uint8_t>(image.bytes.begin(), image.bytes.end()));
}

TEST_F(IdentifyButton, FailureLeavesTheListEmptyAndWritesNoFile) {
  IdentifyView view;
  ASSERT_TRUE(view.identify(t.ctx, dir.string()).identified);
  fail = true;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  IdentifyView::IdentifyResult r = view.identify(t.ctx, dir.string());
  EXPECT_FALSE(r.identified);
  EXPECT_FALSE(r.saved);
  EXPECT_EQ(view.mode(), IdentifyView::Mode::Empty);
  EXPECT_TRUE(view.rows().empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  EXPECT_EQ(t.pane.text(), "ATA Command Error, Status = 0x51\n");
}

TEST_F(IdentifyButton, AnIntegrityWordThatDoesNotCheckOutIsSaid) {
  // A5h signature; the checksum byte makes the 512 bytes sum to 0.
  auto seal = [](IdentifyImage& img) {
    img.bytes[510] = 0xA5;
    uint8_t sum = 0;
    for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + img.bytes[i]);
    img.bytes[511] = static_cast<uint8_t>(0x100 - sum);
  };
  seal(image);
  IdentifyView view;
  ASSERT_TRUE(view.identify(t.ctx, dir.string()).identified);
  EXPECT_EQ(view.notice(), "");

  image.word(88, 0x047F);  // one word changed after the checksum was made
  ASSERT_TRUE(view.identify(t.ctx, dir.string()).identified);
  EXPECT_EQ(view.rows().size(), 97u);
  EXPECT_NE(view.notice().find("the checksum does not check out"), std::string::npos) << view.notice();

  image.bytes[510] = 0x00;  // no signature: the drive keeps no checksum
  EXPECT_EQ(identifyIntegrityText(image.bytes), "");
}

TEST_F(IdentifyButton, NamesFromTheDriveStayInsideTheDirectory) {
  EXPECT_EQ(identifyFileName("A/B", "..\\C"), "Identify_A_B_.._C.bin");
  t.ctx.DriveTable[0].strModel = "../../etc";
  IdentifyView view;
  IdentifyView::IdentifyResult r = view.identify(t.ctx, dir.string());
  ASSERT_TRUE(r.saved);
  EXPECT_EQ(std::filesystem::path(r.fileName).parent_path(), dir);
  EXPECT_TRUE(std::filesystem::exists(dir / "Identify_.._.._etc_SER 42.bin"));
}

}  // namespace
}  // namespace zorv
