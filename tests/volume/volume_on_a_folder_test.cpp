// The volume test on a folder of the host's own file system, given to a
// simulated family drive as its volume through a mount table: the test file,
// the 16-slot file queue and both workers, on every system the tool is built
// for and without root.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "discovery/volumes.h"
#include "support/sim_fixture.h"
#include "volume/test_file.h"
#include "volume/volume_list.h"
#include "volume/volume_test.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

// mountinfo escapes a space in a path as \040.
std::string escaped(const std::string& path) {
  std::string out;
  for (char c : path) out += c == ' ' ? std::string("\\040") : std::string(1, c);
  return out;
}

struct FolderVolume {
  FolderVolume() {
    fs::create_directory(mount());
    const std::string table = dir.file("mountinfo");
    std::ofstream(table) << "36 35 8:1 / " << escaped(mount()) << " rw - ext4 /dev/sda1 rw\n";
    volumes = ParseVolumes(sim.ctx(), readVolumeMap(table), box);
  }
  std::string mount() const { return fs::path(dir.file("volume")).generic_string(); }
  // Whether the folder's file system takes unbuffered I/O at all (tmpfs does not).
  bool unbuffered() const {
    int error = 0;
    NativeFile folder = openTestFolder(mount(), true, error);
    NativeFile file = openTestFile(mount(), folder, false, error);
    closeNativeFile(file);
    closeNativeFile(folder);
    fs::remove(testFilePath(mount()));
    return file != kNoFile;
  }

  test::TempDir dir;
  test::SimFixture sim;
  StringSink box;
  std::vector<VolumeRecord> volumes;
};

Sc3Script script(const char* text) {
  Sc3Script s;
  std::string error;
  EXPECT_TRUE(parseSc3(text, s, error)) << error;
  return s;
}

void runToEnd(VolumeTestWindow& w) {
  ASSERT_TRUE(w.start());
  while (!w.finished()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  w.tick();
  w.close();
}

void damageOneByte(const std::string& file, uint64_t offset) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f.is_open());
  f.seekg(static_cast<std::streamoff>(offset));
  char b = 0;
  f.read(&b, 1);
  f.seekp(static_cast<std::streamoff>(offset));
  b = static_cast<char>(b ^ 0x5A);
  f.write(&b, 1);
}

const char* kType1Random =
    "Range Size: 4 MB\nTotal Write Capacity: 2 MB\nFile Size: 32 KB\nSequence: false\n";
const char* kType2 =
    "Transfer Size: 7 Sec\nTo           : 8 Sec\nTotal Length : 1 MB\nTest Pattern : fix\nRun Time     : 1 "
    "Mins\n";

#define SKIP_WITHOUT_UNBUFFERED_IO(v)                                                       \
  ASSERT_TRUE((v).sim.ok()) << (v).sim.error;                                               \
  if (!(v).unbuffered()) GTEST_SKIP() << "the temporary directory takes no unbuffered I/O"; \
  ASSERT_EQ((v).volumes.size(), 1u) << (v).box.text()

TEST(VolumeOnAFolder, BothScriptTypesPassAndLeaveWhatTheyWrote) {
  FolderVolume v;
  SKIP_WITHOUT_UNBUFFERED_IO(v);
  EXPECT_EQ(v.volumes[0].mountPoint, v.mount());
  EXPECT_GT(v.volumes[0].freeBytes, 0u);

  VolumeRunBoard board;
  StringSink box;
  VolumeTestWindow type1(v.sim.ctx(), v.volumes[0], script(kType1Random), board, box, v.sim.ui, {.seed = 3});
  runToEnd(type1);
  EXPECT_TRUE(type1.passed()) << box.text();
  EXPECT_EQ(type1.stats().bytesRead, 2u << 20);
  EXPECT_EQ(type1.stats().close.abandoned, 0);

  StringSink box2;
  VolumeTestOptions options;
  // Each pass takes 25 s of the run's minute: the third pass is the last.
  options.afterWrites = [&] { v.sim.clock.advance(std::chrono::seconds(25)); };
  VolumeTestWindow type2(v.sim.ctx(), v.volumes[0], script(kType2), board, box2, v.sim.ui, options);
  runToEnd(type2);
  EXPECT_TRUE(type2.passed()) << box2.text();
  EXPECT_EQ(type2.stats().passes, 3u);
  EXPECT_EQ(type2.stats().bytesRead, 3u * (1u << 20));
  // Sector k starts with k, then the fixed pattern.
  std::ifstream in(testFilePath(v.mount()), std::ios::binary);
  for (uint64_t k : {0u, 1u, 2047u}) {
    uint8_t sector[9];
    in.seekg(static_cast<std::streamoff>(k * 512));
    in.read(reinterpret_cast<char*>(sector), 9);
    uint64_t n = 0;
    for (int i = 7; i >= 0; --i) n = n << 8 | sector[i];
    EXPECT_EQ(n, k);
    EXPECT_EQ(sector[8], 0x66);
  }
}

TEST(VolumeOnAFolder, ADamagedByteIsACompareFailure) {
  FolderVolume v;
  SKIP_WITHOUT_UNBUFFERED_IO(v);
  VolumeRunBoard board;
  StringSink box;
  VolumeTestOptions options;
  options.seed = 5;
  const std::string file = testFilePath(v.mount());
  options.afterWrites = [&] {
    for (uint64_t at = 100; at < fs::file_size(file); at += 32768) damageOneByte(file, at);
  };
  VolumeTestWindow w(v.sim.ctx(), v.volumes[0], script(kType1Random), board, box, v.sim.ui, options);
  runToEnd(w);
  EXPECT_TRUE(w.failed());
  EXPECT_GE(w.stats().compareFailures, 1u);
  EXPECT_NE(box.text().find("....Compare Fail\r\n"), std::string::npos) << box.text();
  EXPECT_EQ(board.failedWindows.load(), 1);
}

TEST(VolumeOnAFolder, ClosingARunningWindowEndsItsTransfersFirst) {
  FolderVolume v;
  SKIP_WITHOUT_UNBUFFERED_IO(v);
  VolumeRunBoard board;
  StringSink box;
  VolumeTestWindow w(
      v.sim.ctx(), v.volumes[0],
      script("Range Size: 64 MB\nTotal Write Capacity: 4096 MB\nFile Size: 64 KB\nSequence: true\n"), board,
      box, v.sim.ui, {.seed = 1});
  ASSERT_TRUE(w.start());
  while (w.bytesMoved() < (1u << 20) && !w.finished())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  w.close();
  EXPECT_TRUE(w.finished());
  EXPECT_EQ(w.stats().close.abandoned, 0);
  EXPECT_FALSE(w.passed());
}

}  // namespace
}  // namespace zorv
