// The volume file test on a real ext4 file system: a simulated family drive
// whose media is a loop device, the file system on it mounted. Needs root and
// loop devices; without them each test says so and is skipped.
#ifdef __linux__

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "discovery/volumes.h"
#include "sim/sim_bay.h"
#include "support/loop_volume.h"
#include "support/sim_fixture.h"
#include "volume/test_file.h"
#include "volume/volume_list.h"
#include "volume/volume_test.h"

namespace zorv {
namespace {

constexpr uint64_t kVolumeBytes = 64 << 20;

// The ext4 volume on the family drive of slot 0; the foreign drive of the
// default bay stays in slot 2.
struct VolumeBench {
  VolumeBench() {
    if (!volume.ok()) return;
    sim::BayRecord record = sim::SimBay::defaultBay();
    sim::DriveRecord& d = *record.slots[0].drive;
    d.media.kind = sim::MediaKind::File;
    d.media.path = volume.device();
    d.identity.capacity = kVolumeBytes / 512;
    d.latency = sim::LatencyModel{};
    sim = std::make_unique<test::SimFixture>(record, 0);
  }
  std::vector<VolumeRecord> parse() {
    return ParseVolumes(sim->ctx(), readVolumes(*sim->port, ""), box);
  }

  test::LoopVolume volume{kVolumeBytes};  // destroyed last: unmounted after the bay let go
  std::unique_ptr<test::SimFixture> sim;
  StringSink box;
};

#define SKIP_WITHOUT_LOOP(bench)                                     \
  if (!(bench).volume.ok()) GTEST_SKIP() << (bench).volume.skipReason; \
  ASSERT_TRUE((bench).sim && (bench).sim->ok()) << (bench).sim->error

Sc3Script script(const char* text) {
  Sc3Script s;
  std::string error;
  EXPECT_TRUE(parseSc3(text, s, error)) << error;
  return s;
}

const char* kType1Sequential = "Range Size: 8 MB\nTotal Write Capacity: 3 MB\nFile Size: 64 KB\nSequence: true\n";
const char* kType1Random = "Range Size: 8 MB\nTotal Write Capacity: 2 MB\nFile Size: 32 KB\nSequence: false\n";
const char* kType2 =
    "Transfer Size: 7 Sec\nTo           : 8 Sec\nTotal Length : 2 MB\nTest Pattern : fix\nRun Time     : 1 Mins\n";

// Runs one window to its end; ticks once it has finished.
void runToEnd(VolumeTestWindow& w) {
  ASSERT_TRUE(w.start());
  while (!w.finished()) ::usleep(2000);
  w.tick();
  w.close();
}

void damageOneByte(const std::string& file, uint64_t offset) {
  const int fd = ::open(file.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  uint8_t b = 0;
  ASSERT_EQ(::pread(fd, &b, 1, static_cast<off_t>(offset)), 1);
  b ^= 0x5A;
  ASSERT_EQ(::pwrite(fd, &b, 1, static_cast<off_t>(offset)), 1);
  ::fsync(fd);
  ::close(fd);
}

TEST(VolumeOnFamilyDrive, TheMountedLoopMediaIsAVolumeOfItsDrive) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  VolumeMap map = readVolumes(*b.sim->port, "");
  ASSERT_EQ(volumesOnDisk(map, 0), std::vector<std::string>{b.volume.mountPoint()});
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].mountPoint, b.volume.mountPoint());
  EXPECT_EQ(v[0].physicalDrive, 0);
  EXPECT_EQ(v[0].model, b.sim->ctx().DriveTable[0].strModel);
  EXPECT_GT(v[0].freeBytes, 32u << 20);
  EXPECT_LT(v[0].freeBytes, kVolumeBytes);
  // Raw writes see the file system too: the drive is in use.
  EXPECT_TRUE(driveUse(*b.sim->port, {}, 0, "sim:0").inUse());
}

TEST(VolumeOnFamilyDrive, VolumesOfOtherDrivesAreNotListed) {
  test::SimFixture sim;  // slot 0 family, slot 2 foreign: only slot 0 is in the table
  ASSERT_TRUE(sim.ok());
  StringSink box;
  VolumeMap map = parseVolumeMap("36 25 8:33 / /media/foreign rw - ext4 /dev/sdc1 rw\n");
  EXPECT_TRUE(ParseVolumes(sim.ctx(), map, box).empty());
}

TEST(VolumeOnFamilyDrive, LeftoversOfEarlierRunsAreDeletedAndNothingElse) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  const std::string mount = b.volume.mountPoint();
  ASSERT_EQ(::mkdir((mount + "/test").c_str(), 0755), 0);
  std::ofstream(mount + "/test/test.bin") << "old";
  std::ofstream(mount + "/test/keep.txt") << "mine";
  ASSERT_EQ(b.parse().size(), 1u);
  EXPECT_NE(b.box.text().find("Delete " + mount + "/test/test.bin\r\n---------\r\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(mount + "/test/test.bin"));
  EXPECT_TRUE(std::filesystem::exists(mount + "/test/keep.txt"));

  // A folder "test" that leads elsewhere is not followed.
  test::TempDir elsewhere;
  std::ofstream(elsewhere.file("test.bin")) << "not ours";
  std::filesystem::remove_all(mount + "/test");
  std::filesystem::create_directory_symlink(elsewhere.path(), mount + "/test");
  b.box.clear();
  ASSERT_EQ(b.parse().size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(elsewhere.file("test.bin")));
  EXPECT_EQ(b.box.text().find("Delete"), std::string::npos);
  int error = 0;
  EXPECT_EQ(openTestFolder(mount, true, error), kNoFile);
  EXPECT_EQ(error, ENOTDIR);
}

TEST(VolumeOnFamilyDrive, Type1SequentialPasses) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  const Sc3Script s = script(kType1Sequential);
  EXPECT_EQ(volumeRefusal(v[0], s), "");
  VolumeRunBoard board;
  StringSink box;
  VolumeTestWindow w(b.sim->ctx(), v[0], s, board, box, b.sim->ui, {.seed = 7});
  runToEnd(w);
  EXPECT_TRUE(w.passed()) << box.text();
  const VolumeTestStats st = w.stats();
  // The first phase fills the range up to 18 pieces short of its end.
  const uint64_t area = 8 * 1024 * 1024 - 17 * 65536;
  EXPECT_EQ(std::filesystem::file_size(testFilePath(v[0].mountPoint)), area);
  EXPECT_EQ(st.bytesWritten, area + (3u << 20));
  EXPECT_EQ(st.bytesRead, 3u << 20);
  EXPECT_EQ(st.files, area / 65536 + 48);
  EXPECT_EQ(st.close.abandoned, 0);
  EXPECT_EQ(w.progressPercent(), 100);
  const std::string text = box.text();
  EXPECT_NE(text.find("Throughput: 9 MB \r\nFiles 159\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Spend Time\r\nHr: 0 Min 0 Sec: 0 \r\n"), std::string::npos);
  EXPECT_NE(text.find("Job done. " + v[0].mountPoint + "\r\nTime Spaned\r\nHour: 0      Min: 0      Sec: 0\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("Error"), std::string::npos);
  // What the second phase left: (32 + i) mod 256 in the first pieces.
  std::ifstream in(testFilePath(v[0].mountPoint), std::ios::binary);
  std::vector<char> head(4);
  in.read(head.data(), 4);
  EXPECT_EQ(static_cast<uint8_t>(head[0]), 32);
  EXPECT_EQ(static_cast<uint8_t>(head[3]), 35);
}

TEST(VolumeOnFamilyDrive, Type1ADamagedByteIsACompareFailure) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  VolumeRunBoard board;
  StringSink box;
  const std::string file = testFilePath(v[0].mountPoint);
  VolumeTestOptions options;
  options.seed = 99;
  // Every piece of the area is damaged, whichever the random phase chose.
  options.afterWrites = [&] {
    for (uint64_t at = 100; at < std::filesystem::file_size(file); at += 32768) damageOneByte(file, at);
  };
  VolumeTestWindow w(b.sim->ctx(), v[0], script(kType1Random), board, box, b.sim->ui, options);
  runToEnd(w);
  EXPECT_TRUE(w.failed());
  EXPECT_FALSE(w.passed());
  EXPECT_GE(w.stats().compareFailures, 1u);
  EXPECT_NE(box.text().find("....Compare Fail\r\n"), std::string::npos) << box.text();
  EXPECT_NE(box.text().find("Error Occurs. " + v[0].mountPoint + "\r\n"), std::string::npos);
  ASSERT_FALSE(b.sim->ui.boxes.empty());
  EXPECT_EQ(b.sim->ui.boxes.back().text, "Error Occurs On Drive. " + v[0].mountPoint + ":");
  EXPECT_EQ(board.failedWindows.load(), 1);
}

TEST(VolumeOnFamilyDrive, Type2PassesEachSizeWithRunningSectorNumbers) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  VolumeRunBoard board;
  StringSink box;
  VolumeTestOptions options;
  // Each pass takes 25 s of the run's minute: the third pass is the last.
  options.afterWrites = [&] { b.sim->clock.advance(std::chrono::seconds(25)); };
  VolumeTestWindow w(b.sim->ctx(), v[0], script(kType2), board, box, b.sim->ui, options);
  runToEnd(w);
  EXPECT_TRUE(w.passed()) << box.text();
  EXPECT_EQ(w.stats().passes, 3u);
  EXPECT_EQ(w.stats().bytesRead, 3u * (2u << 20));
  // 2 MiB in 7-sector transfers, then 8-sector, then 7 again.
  EXPECT_EQ(w.stats().files, 586u + 512u + 586u);
  EXPECT_NE(box.text().find("Length: 0x200000 Byte\r\n"), std::string::npos) << box.text();
  // Sector k starts with k, then the fixed pattern.
  std::ifstream in(testFilePath(v[0].mountPoint), std::ios::binary);
  for (uint64_t k : {0u, 1u, 4095u}) {
    uint8_t sector[16];
    in.seekg(static_cast<std::streamoff>(k * 512));
    in.read(reinterpret_cast<char*>(sector), 16);
    uint64_t n = 0;
    for (int i = 7; i >= 0; --i) n = n << 8 | sector[i];
    EXPECT_EQ(n, k);
    EXPECT_EQ(sector[8], 0x66);
    EXPECT_EQ(sector[11], 0x55);
  }
}

TEST(VolumeOnFamilyDrive, Type2ADamagedByteIsACompareFailure) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  VolumeRunBoard board;
  StringSink box;
  VolumeTestOptions options;
  options.afterWrites = [&] { damageOneByte(testFilePath(v[0].mountPoint), 3 * 512 + 200); };
  VolumeTestWindow w(b.sim->ctx(), v[0], script(kType2), board, box, b.sim->ui, options);
  runToEnd(w);
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(w.stats().passes, 0u);
  EXPECT_NE(box.text().find("....Compare Fail\r\n"), std::string::npos) << box.text();
  ASSERT_FALSE(b.sim->ui.boxes.empty());
  EXPECT_EQ(b.sim->ui.boxes.back().text, "Error Occurs On Drive. " + v[0].mountPoint + ":");
}

TEST(VolumeOnFamilyDrive, Type2StopsWhenTheDriveDoesNotAnswerIdentify) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  std::string error;
  ASSERT_TRUE(b.sim->bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xEC}, error)) << error;
  VolumeRunBoard board;
  StringSink box;
  VolumeTestWindow w(b.sim->ctx(), v[0], script(kType2), board, box, b.sim->ui);
  runToEnd(w);
  EXPECT_TRUE(w.failed());
  EXPECT_NE(box.text().find("....err IDENTIFY DEVICE"), std::string::npos) << box.text();
  EXPECT_EQ(w.stats().bytesWritten, 0u);
}

TEST(VolumeOnFamilyDrive, AScriptBeyondTheFreeSpaceIsRefused) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  const std::string refusal = volumeRefusal(v[0], script("Range Size: 64 MB\nTotal Write Capacity: 1 MB\n"
                                                         "File Size: 64 KB\nSequence: true\n"));
  EXPECT_NE(refusal.find("Disk " + v[0].mountPoint + ":"), std::string::npos) << refusal;
  EXPECT_NE(volumeRefusal(v[0], script("Transfer Size: 8\nTo           : 8\nTotal Length : 100 MB\n"
                                       "Test Pattern : x\nRun Time     : 1\n")),
            "");
}

TEST(VolumeOnFamilyDrive, ClosingARunningWindowWaitsForItsTransfers) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  VolumeRunBoard board;
  StringSink box;
  VolumeTestWindow w(b.sim->ctx(), v[0],
                     script("Range Size: 40 MB\nTotal Write Capacity: 1 GB\nFile Size: 1 MB\nSequence: false\n"), board,
                     box, b.sim->ui, {.seed = 3});
  ASSERT_TRUE(w.start());
  while (w.bytesMoved() < (4u << 20)) ::usleep(1000);
  w.close();
  EXPECT_TRUE(w.finished());
  EXPECT_TRUE(w.stopped());
  EXPECT_FALSE(w.passed());
  EXPECT_EQ(w.stats().close.abandoned, 0);
  EXPECT_EQ(w.stats().ioErrors, 0u);
  // Every write that was sent was collected: nothing was in flight at the close.
  EXPECT_EQ(w.stats().bytesWritten, w.stats().files << 20);
}

TEST(VolumeOnFamilyDrive, AFailureInAnotherWindowStopsThisOne) {
  VolumeBench b;
  SKIP_WITHOUT_LOOP(b);
  std::vector<VolumeRecord> v = b.parse();
  ASSERT_EQ(v.size(), 1u);
  VolumeRunBoard board;
  StringSink box;
  VolumeTestWindow w(b.sim->ctx(), v[0],
                     script("Range Size: 40 MB\nTotal Write Capacity: 1 GB\nFile Size: 1 MB\nSequence: true\n"), board,
                     box, b.sim->ui);
  ASSERT_TRUE(w.start());
  board.failedWindows = 1;
  w.tick();
  while (!w.finished()) ::usleep(2000);
  w.tick();
  EXPECT_TRUE(w.stopped());
  EXPECT_FALSE(w.failed());
  const std::string text = box.text();
  EXPECT_NE(text.find("Error Occurs On Other Dialog. " + v[0].mountPoint + "\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Error Occurs On Other Dialog", text.find("Other Dialog") + 1), std::string::npos);
}

}  // namespace
}  // namespace zorv

#endif  // __linux__
