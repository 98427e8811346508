// The one-file updater's pieces: the package trailer, the image block, the
// model lock, and the package run against the simulated bay with good and
// bad packages.

#include <gtest/gtest.h>

#include <filesystem>

#include "firmware/package_builder.h"
#include "firmware/updater.h"
#include "fwdl_support.h"

namespace zorv::fwdl {
namespace {

namespace fs = std::filesystem;
using firmware::EmbeddedStatus;
using firmware::Marker;
using test::SimFixture;

// Composed here too: the strings never stand whole in a source file.
std::vector<uint8_t> text(const std::string& a, const std::string& b) {
  std::string s = a + b;
  return std::vector<uint8_t>(s.begin(), s.end());
}
const std::vector<uint8_t> kPackageMark = text("FindMe", "2nd");
const std::vector<uint8_t> kImageMark = text("FindMe", "1St");
const std::vector<uint8_t> kBrandMark = text("ZEPH", "ARIN");
const std::vector<uint8_t> kRmaMark = text("FALLOW", "MERE");

std::vector<uint8_t> filler(size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed;
  for (uint8_t& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

TEST(Markers, AreComposedAsTheFormatsWantThem) {
  EXPECT_EQ(firmware::markerBytes(Marker::Package), kPackageMark);
  EXPECT_EQ(firmware::markerBytes(Marker::Image), kImageMark);
  EXPECT_EQ(firmware::markerBytes(Marker::Brand), kBrandMark);
  EXPECT_EQ(firmware::markerBytes(Marker::RmaVariant), kRmaMark);
  std::vector<uint8_t> bytes = filler(100);
  EXPECT_FALSE(firmware::findMarker(bytes, Marker::Package));
  bytes.insert(bytes.end(), kPackageMark.begin(), kPackageMark.end() - 1);  // cut short at the end
  EXPECT_FALSE(firmware::findMarker(bytes, Marker::Package));
  bytes.push_back(kPackageMark.back());
  EXPECT_EQ(firmware::findMarker(bytes, Marker::Package), 100u);
  EXPECT_FALSE(firmware::findMarker(bytes, Marker::Package, 101));
  EXPECT_FALSE(firmware::findMarker(bytes, Marker::Package, 5000));
}

TEST(PackageTrailer, OptionsByteMarkerAndPackageFollowTheExecutable) {
  EXPECT_EQ(firmware::packageOptionsByte(false), 0x06);
  EXPECT_EQ(firmware::packageOptionsByte(true), 0x26);
  std::vector<uint8_t> exe = filler(5000);
  std::vector<uint8_t> pkg = filler(300, 7);
  std::vector<uint8_t> out = firmware::appendPackageBytes(exe, pkg, 0x26);
  ASSERT_EQ(out.size(), exe.size() + 1 + 9 + pkg.size());
  EXPECT_TRUE(std::equal(exe.begin(), exe.end(), out.begin()));
  EXPECT_EQ(out[5000], 0x26);
  EXPECT_TRUE(std::equal(kPackageMark.begin(), kPackageMark.end(), out.begin() + 5001));
  auto e = firmware::findEmbeddedPackage(out);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->markerOffset, 5001u);
  EXPECT_EQ(e->options, 0x26);
  EXPECT_TRUE(std::equal(pkg.begin(), pkg.end(), e->package.begin(), e->package.end()));

  // A second trailer: the first one is used.
  std::vector<uint8_t> twice = firmware::appendPackageBytes(out, filler(50, 9), 0x06);
  e = firmware::findEmbeddedPackage(twice);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->options, 0x26);
  EXPECT_EQ(e->package.size(), pkg.size() + 1 + 9 + 50);

  EXPECT_FALSE(firmware::findEmbeddedPackage(exe));
  EXPECT_FALSE(firmware::findEmbeddedPackage(std::vector<uint8_t>(kPackageMark)));  // no room for options
  EXPECT_FALSE(firmware::findEmbeddedPackage(std::vector<uint8_t>()));
}

struct Files {
  test::TempDir dir;
  std::string put(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string p = dir.file(name);
    writeBytes(p, bytes);
    return p;
  }
};

std::vector<uint8_t> smallPackage() {
  firmware::PackageRow row{std::vector<uint8_t>(9, 0x21), "PA256", plainImage(0, std::vector<uint8_t>(9, 0x21), "S2000A", 4096)};
  return packageOf(0, {row});
}

TEST(AppendQz, WritesTheUpdaterWithTheExecutablesMode) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Files f;
  std::string exe = f.put("tool", filler(4000));
  fs::permissions(exe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  std::vector<uint8_t> pkg = smallPackage();
  std::string qz = f.put("p.qz", pkg);
  for (bool skip : {false, true}) {
    StringSink box;
    std::string out = f.dir.file(skip ? "out26" : "out06");
    sim.ui.files = {exe, qz, out};
    EXPECT_EQ(firmware::appendPackageToExecutable(sim.ctx(), skip, box), firmware::AppendStatus::Done);
    EXPECT_EQ(box.text(), "Open EXE File Success\r\nOpen QZ File Success\r\nDone\r\n");
    std::vector<uint8_t> written = readBytes(out);
    EXPECT_EQ(written, firmware::appendPackageBytes(filler(4000), pkg, skip ? 0x26 : 0x06));
    EXPECT_EQ(fs::status(out).permissions(), fs::status(exe).permissions());
  }
}

TEST(AppendQz, FailuresAndRefusalsWriteNothing) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Files f;
  std::string exe = f.put("tool", filler(4000));
  std::vector<uint8_t> pkg = smallPackage();
  std::vector<uint8_t> truncated(pkg.begin(), pkg.begin() + static_cast<std::ptrdiff_t>(pkg.size() / 2));
  // An updater already: its first package is the one that would run.
  std::string updater = f.put("updater", firmware::appendPackageBytes(filler(4000), pkg, 0x06));
  firmware::BuildResult noRows = firmware::buildPackage({}, 0);
  ASSERT_TRUE(noRows.ok) << noRows.error;
  std::string out = f.dir.file("out");
  using firmware::AppendStatus;
  struct Case {
    std::deque<std::string> files;
    std::string texts;
    AppendStatus status;
  };
  const Case cases[] = {
      {{}, "Open EXE File Fail\r\n", AppendStatus::ExecutableUnreadable},
      {{f.dir.file("missing")}, "Open EXE File Fail\r\n", AppendStatus::ExecutableUnreadable},
      {{updater, f.put("p.qz", pkg), out}, "The EXE File Already Carries A QZ Package\r\n",
       AppendStatus::AlreadyCarriesPackage},
      {{exe}, "Open EXE File Success\r\nOpen QZ File Fail\r\n", AppendStatus::PackageUnreadable},
      {{exe, f.put("t.qz", truncated), out}, "Open EXE File Success\r\nOpen QZ File Success\r\nUnzip File Fail\r\n",
       AppendStatus::PackageUnusable},
      {{exe, f.put("none.qz", noRows.bytes), out},
       "Open EXE File Success\r\nOpen QZ File Success\r\nThe QZ File Holds No Firmware\r\n",
       AppendStatus::PackageEmpty},
      {{exe, f.put("p.qz", pkg)}, "Open EXE File Success\r\nOpen QZ File Success\r\nWrite File Fail\r\n",
       AppendStatus::WriteFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texts);
    StringSink box;
    sim.ui.files = c.files;
    EXPECT_EQ(firmware::appendPackageToExecutable(sim.ctx(), false, box), c.status);
    EXPECT_EQ(box.text(), c.texts);
    EXPECT_FALSE(fs::exists(out));
  }
}

// An executable-like file with the image marker at `at`, `size` bytes long.
std::vector<uint8_t> withImageBlock(size_t size, size_t at) {
  std::vector<uint8_t> v = filler(size, 3);
  std::copy(kImageMark.begin(), kImageMark.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
  std::fill(v.begin() + static_cast<std::ptrdiff_t>(at + 9), v.begin() + static_cast<std::ptrdiff_t>(at + 4096), 0);
  return v;
}

TEST(ImageIntoExecutable, WritesLengthAndImageOverTheMarkerOnce) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Files f;
  std::vector<uint8_t> original = withImageBlock(3 * 32768, 32768 + 100);
  std::string exe = f.put("dl", original);
  std::vector<uint8_t> image = filler(2048, 5);
  EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), exe, image), firmware::ImageWriteStatus::Written);
  EXPECT_EQ(sim.pane.take(), "Open EXE File Ok\nEXE File Seek Ok\nMake File Done\n" + exe + "\n");
  std::vector<uint8_t> expected = original;
  const size_t at = 32768 + 100;
  expected[at] = 0x00;
  expected[at + 1] = 0x08;
  expected[at + 2] = 0x00;
  expected[at + 3] = 0x00;
  std::copy(image.begin(), image.end(), expected.begin() + static_cast<std::ptrdiff_t>(at + 4));
  EXPECT_EQ(readBytes(exe), expected);

  // The marker is gone: a second image cannot be written.
  EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), exe, image), firmware::ImageWriteStatus::MarkerNotFound);
  EXPECT_EQ(sim.pane.take(), "Open EXE File Ok\nEXE File Seek Fail\n");
  EXPECT_EQ(readBytes(exe), expected);
}

TEST(ImageIntoExecutable, OnlyWholeChunksAreSearched) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Files f;
  struct Case {
    const char* name;
    size_t size;
    size_t at;
  };
  const Case cases[] = {{"straddles a chunk boundary", 3 * 32768, 32768 - 4},
                        {"in the final partial chunk", 2 * 32768 + 20000, 2 * 32768 + 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> original = withImageBlock(c.size, c.at);
    std::string exe = f.put("dl", original);
    EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), exe, filler(512)), firmware::ImageWriteStatus::MarkerNotFound);
    EXPECT_EQ(sim.pane.take(), "Open EXE File Ok\nEXE File Seek Fail\n");
    EXPECT_EQ(readBytes(exe), original);
  }
}

TEST(ImageIntoExecutable, RefusesWhatDoesNotFitAndFilesThatDoNotOpen) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Files f;
  std::vector<uint8_t> original = withImageBlock(2 * 32768, 100);
  std::string exe = f.put("dl", original);
  EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), exe, filler(firmware::kReservedBlockSize - 3)),
            firmware::ImageWriteStatus::TooLarge);
  // Fits the block size but would run past the end of this file.
  EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), exe, filler(2 * 32768)), firmware::ImageWriteStatus::TooLarge);
  EXPECT_EQ(readBytes(exe), original);
  sim.pane.clear();
  EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), f.dir.file("missing"), filler(512)),
            firmware::ImageWriteStatus::OpenFailed);
  EXPECT_EQ(firmware::writeImageIntoExecutable(sim.ctx(), filler(512)), firmware::ImageWriteStatus::OpenFailed);
  EXPECT_EQ(sim.pane.take(), "Open EXE File Fail\nOpen EXE File Fail\n");
}

TEST(ModelLock, RewritesTheRangeAfterTheFirstCodeName) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Files f;
  std::vector<uint8_t> exe = filler(1000);
  std::copy(kBrandMark.begin(), kBrandMark.end(), exe.begin() + 200);
  exe[208] = 2;
  exe[209] = 3;
  std::copy(kBrandMark.begin(), kBrandMark.end(), exe.begin() + 600);
  std::string in = f.put("tool", exe);
  std::string out = f.dir.file("locked");
  StringSink box;
  sim.ui.files = {in, out};
  EXPECT_TRUE(firmware::lockModel(sim.ctx(), 0, box));
  EXPECT_EQ(box.take(), "Lock Model Name Done\r\n");
  std::vector<uint8_t> expected = exe;
  expected[208] = 0;
  expected[209] = 1;
  EXPECT_EQ(readBytes(out), expected);

  std::vector<uint8_t> atEnd = filler(100);
  std::copy(kBrandMark.begin(), kBrandMark.end(), atEnd.end() - 9);  // only one byte after it
  const std::deque<std::string> failing[] = {
      {f.put("empty", {})}, {f.put("plain", filler(1000))}, {f.put("atEnd", atEnd)}};
  for (const auto& files : failing) {
    sim.ui.files = files;
    sim.ui.files.push_back(out);
    EXPECT_FALSE(firmware::lockModel(sim.ctx(), 3, box));
    EXPECT_EQ(box.take(), "<<<<Lock Model Fail>>>>\r\n");
  }
  sim.ui.files = {f.dir.file("missing")};
  EXPECT_FALSE(firmware::lockModel(sim.ctx(), 3, box));
  EXPECT_EQ(box.take(), "Open EXE File Fail\r\n");
  sim.ui.files = {in, out};
  EXPECT_FALSE(firmware::lockModel(sim.ctx(), 5, box));
  EXPECT_EQ(box.take(), "<<<<Lock Model Fail>>>>\r\n");
}

TEST(RmaVariant, RewritesTheLetterAfterTheSecondCodeName) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Files f;
  std::vector<uint8_t> exe = filler(1000);
  std::copy(kRmaMark.begin(), kRmaMark.end(), exe.begin() + 300);
  exe[310] = 'A';
  std::copy(kRmaMark.begin(), kRmaMark.end(), exe.begin() + 700);
  std::string in = f.put("tool", exe);
  std::string out = f.dir.file("variant B");
  StringSink box;
  EXPECT_TRUE(firmware::writeRmaVariant(sim.ctx(), in, out, 'B', box));
  EXPECT_EQ(box.take(), "Set RMA Variant Done\r\n");
  std::vector<uint8_t> expected = exe;
  expected[310] = 'B';
  EXPECT_EQ(readBytes(out), expected);
  EXPECT_EQ(readBytes(in), exe);

  std::vector<uint8_t> atEnd = filler(100);
  std::copy(kRmaMark.begin(), kRmaMark.end(), atEnd.end() - 10);  // no byte after it
  for (const std::string& path : {f.put("empty", {}), f.put("plain", filler(1000)), f.put("atEnd", atEnd)}) {
    EXPECT_FALSE(firmware::writeRmaVariant(sim.ctx(), path, out, 'B', box));
    EXPECT_EQ(box.take(), "<<<<Set RMA Variant Fail>>>>\r\n");
  }
  for (char letter : {'b', '1', '\0'}) {
    EXPECT_FALSE(firmware::writeRmaVariant(sim.ctx(), in, out, letter, box));
    EXPECT_EQ(box.take(), "<<<<Set RMA Variant Fail>>>>\r\n");
  }
  EXPECT_FALSE(firmware::writeRmaVariant(sim.ctx(), f.dir.file("missing"), out, 'B', box));
  EXPECT_EQ(box.take(), "Open EXE File Fail\r\n");
  EXPECT_FALSE(firmware::writeRmaVariant(sim.ctx(), in, f.dir.file("no such dir/out"), 'B', box));
  EXPECT_EQ(box.take(), "Write File Fail\r\n");
}

// ---- The package run.

// A package for the default bay's drives, as one-file updaters carry it:
// 16-byte IDs, class 0 images stored complemented by hand.
std::vector<uint8_t> bayPackage(sim::SimBay& bay, const std::string& v0, const std::string& v1) {
  std::vector<firmware::PackageRow> rows;
  for (int slot : {0, 1}) {
    sim::DriveRecord d = driveIn(bay, slot);
    firmware::PackageRow row;
    row.firmwareId = hwidOf(d);
    row.firmwareId.resize(16, 0);
    row.modelName = slot == 0 ? "PA256" : "TA512";
    row.image = imageFor(bay, slot, slot == 0 ? v0 : v1);
    rows.push_back(std::move(row));
  }
  return packageOf(1, rows);
}

struct UpdaterRun {
  explicit UpdaterRun(int slot) : sim(slot) {}
  firmware::EmbeddedRunResult run(const std::vector<uint8_t>& fileBytes) {
    std::string path = sim.dir.file("updater");
    writeBytes(path, fileBytes);
    NullProgress progress;
    return firmware::runEmbeddedPackage(sim.ctx(), progress, path);
  }
  std::vector<uint8_t> updater(const std::vector<uint8_t>& package, uint8_t options = 0x06) {
    return firmware::appendPackageBytes(filler(20000), package, options);
  }
  sim::DriveRecord drive(int slot) { return driveIn(*sim.bay, slot); }
  bool switchSent(int slot) {
    const nlohmann::json& v = drive(slot).vendor;
    return v.contains("switches") && v["switches"].value("skipModelNameCheck", false);
  }
  SimFixture sim;
};

TEST(EmbeddedPackage, UpdatesEitherDriveFromOnePackage) {
  for (int slot : {0, 1}) {
    SCOPED_TRACE(slot);
    UpdaterRun r(slot);
    ASSERT_TRUE(r.sim.ok()) << r.sim.error;
    firmware::EmbeddedRunResult res = r.run(r.updater(bayPackage(*r.sim.bay, "S1108A", "T1209B")));
    EXPECT_EQ(res.status, EmbeddedStatus::Updated) << res.reason << r.sim.pane.text();
    EXPECT_TRUE(res.updated());
    EXPECT_EQ(res.row, slot);
    EXPECT_EQ(r.drive(slot).identity.firmware.substr(0, 6), slot == 0 ? "S1108A" : "T1209B");
    const std::string hwid = slot == 0 ? "5A0C1F03 00000000 00" : "5A0D2107 00000000 00000000 00000000 ";
    EXPECT_TRUE(contains(r.sim.pane.text(), "Current HWID: " + hwid + "\r\nCorrect Item: " + std::to_string(slot) +
                                                 "   TtlFwNum: 2\r\n\n"))
        << r.sim.pane.text();
    EXPECT_FALSE(r.switchSent(slot));
  }
}

TEST(EmbeddedPackage, OptionsByteSendsTheSwitchAndSetsTheCompareLength) {
  UpdaterRun r(1);
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  // T1208B1A -> T1208C: newer only in the sixth character. With a compare
  // length of 5 it is not newer.
  std::vector<uint8_t> pkg = bayPackage(*r.sim.bay, "S1108A", "T1208C");
  firmware::EmbeddedRunResult res = r.run(r.updater(pkg, 0x25));
  EXPECT_EQ(res.status, EmbeddedStatus::UpToDate);
  EXPECT_FALSE(res.updated());
  EXPECT_TRUE(res.succeeded());
  ASSERT_TRUE(res.download);
  EXPECT_EQ(res.download->verdict, firmware::DownloadVerdict::FwIsLatest);
  EXPECT_TRUE(r.switchSent(1));
  EXPECT_EQ(r.drive(1).identity.firmware, "T1208B1A");

  res = r.run(r.updater(pkg, 0x06));
  EXPECT_TRUE(res.updated()) << res.reason;
  EXPECT_EQ(r.drive(1).identity.firmware, "T1208C1A");
}

TEST(EmbeddedPackage, NoRowForTheDrive) {
  UpdaterRun r(0);
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  firmware::PackageRow row{std::vector<uint8_t>(9, 0x33), "OTHER", plainImage(0, std::vector<uint8_t>(9, 0x33), "S2000A")};
  firmware::EmbeddedRunResult res = r.run(r.updater(packageOf(0, {row}), 0x26));
  EXPECT_EQ(res.status, EmbeddedStatus::NoImage);
  EXPECT_FALSE(res.download);
  EXPECT_TRUE(contains(r.sim.pane.text(), "Current HWID: 5A0C1F03 00000000 00\r\n\nNo bin file\n")) << r.sim.pane.text();
  ASSERT_EQ(r.sim.ui.boxes.size(), 1u);
  EXPECT_EQ(r.sim.ui.boxes[0].text, "No bin file");
  EXPECT_FALSE(r.switchSent(0));
  EXPECT_EQ(r.drive(0).identity.firmware, "S1107A0C");
}

void putBe16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  v[at] = static_cast<uint8_t>(x >> 8);
  v[at + 1] = static_cast<uint8_t>(x);
}

// Bad input: never a command that changes the drive (not even the switch
// the options byte asks for), never a crash.
TEST(EmbeddedPackage, BadPackagesAndFilesChangeNothing) {
  UpdaterRun r(1);
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  const std::vector<uint8_t> good = bayPackage(*r.sim.bay, "S1108A", "T1209B");
  std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() - 100));
  std::vector<uint8_t> wrongSum = good;
  putBe16(wrongSum, 4, static_cast<uint16_t>(((wrongSum[4] << 8) | wrongSum[5]) + 1));
  std::vector<uint8_t> wrongSize = good;
  wrongSize[0] ^= 0x01;  // origSize
  std::vector<uint8_t> headerOnly(good.begin(), good.begin() + 10);
  // A table of 257 rows, and one without an end mark.
  std::vector<uint8_t> many((257 + 1) * 48, 0);
  for (size_t i = 0; i < 257; ++i) many[i * 48] = 0x5A;
  std::copy(firmware::kEndMark.begin(), firmware::kEndMark.end(), many.begin() + 257 * 48 + 12);
  std::vector<uint8_t> tooMany = firmware::wrapContent(many);
  std::vector<uint8_t> noEnd(48 * 3, 0x5A);
  std::vector<uint8_t> pastContent = firmware::wrapContent(noEnd);
  // A row whose image lies past the content.
  std::vector<uint8_t> outside(64, 0);
  outside[0] = 0x5A;
  outside[36] = 0x10;  // 16 units of 512 bytes
  std::copy(firmware::kEndMark.begin(), firmware::kEndMark.end(), outside.begin() + 48 + 12);
  std::vector<uint8_t> imageOutside = firmware::wrapContent(outside);

  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    EmbeddedStatus status;
  };
  const Case cases[] = {
      {"no marker", filler(30000), EmbeddedStatus::NoPackage},
      {"truncated", r.updater(truncated, 0x26), EmbeddedStatus::UnpackFailed},
      {"wrong sum", r.updater(wrongSum, 0x26), EmbeddedStatus::UnpackFailed},
      {"wrong size", r.updater(wrongSize, 0x26), EmbeddedStatus::UnpackFailed},
      {"header cut short", r.updater(headerOnly, 0x26), EmbeddedStatus::UnpackFailed},
      {"empty package", r.updater({}, 0x26), EmbeddedStatus::UnpackFailed},
      {"257 rows", r.updater(tooMany, 0x26), EmbeddedStatus::UnpackFailed},
      {"table past the content", r.updater(pastContent, 0x26), EmbeddedStatus::UnpackFailed},
      {"image past the content", r.updater(imageOutside, 0x26), EmbeddedStatus::UnpackFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    firmware::EmbeddedRunResult res = r.run(c.file);
    EXPECT_EQ(res.status, c.status) << firmware::embeddedStatusName(res.status);
    EXPECT_FALSE(res.updated());
    EXPECT_FALSE(res.reason.empty());
    EXPECT_FALSE(r.switchSent(1));
    EXPECT_EQ(r.drive(1).identity.firmware, "T1208B1A");
  }
  NullProgress progress;
  firmware::EmbeddedRunResult res = firmware::runEmbeddedPackage(r.sim.ctx(), progress, r.sim.dir.file("missing"));
  EXPECT_EQ(res.status, EmbeddedStatus::OwnFileUnreadable);
  r.sim.ctx().ucSelDrive = kNoDrive;
  res = r.run(r.updater(good));
  EXPECT_EQ(res.status, EmbeddedStatus::NoDrive);
  EXPECT_EQ(r.drive(1).identity.firmware, "T1208B1A");
}

// The run's status follows the download's verdict: a segment taken on its
// retry still updates the drive; ten refusals do not.
TEST(EmbeddedPackage, TheStatusFollowsWhatTheDriveTook) {
  UpdaterRun r(0);
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  std::string err;
  ASSERT_TRUE(r.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x93, .count = 1}, err));
  firmware::EmbeddedRunResult res = r.run(r.updater(bayPackage(*r.sim.bay, "S1108A", "T1209B")));
  EXPECT_EQ(res.status, EmbeddedStatus::Updated) << res.reason;
  ASSERT_TRUE(res.download);
  EXPECT_EQ(res.download->verdict, firmware::DownloadVerdict::Updated);
  EXPECT_EQ(r.drive(0).identity.firmware, "S1108A0C");

  ASSERT_TRUE(r.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x93, .count = 10}, err));
  res = r.run(r.updater(bayPackage(*r.sim.bay, "S1109A", "T1209B")));
  EXPECT_EQ(res.status, EmbeddedStatus::DownloadFailed);
  ASSERT_TRUE(res.download);
  EXPECT_EQ(res.download->verdict, firmware::DownloadVerdict::RetriesExhausted);
  EXPECT_FALSE(res.updated());
  EXPECT_EQ(r.drive(0).identity.firmware, "S1108A0C");
}

}  // namespace
}  // namespace zorv::fwdl
