// The built programs run as processes (fork and exec), the window program
// among them: POSIX systems only.
#ifndef _WIN32

// The built programs as files: what their bytes must and must not hold, and
// the one-file updater made from them, run as its own process on a bay.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "firmware/updater.h"
#include "fwdl_support.h"

namespace zorv::fwdl {
namespace {

namespace fs = std::filesystem;

const std::string kBinaryDir = ZORV_BINARY_DIR;

std::vector<uint8_t> composed(const std::string& a, const std::string& b) {
  std::string s = a + b;
  return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<size_t> occurrences(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  std::vector<size_t> at;
  auto it = hay.begin();
  const std::boyer_moore_horspool_searcher search(needle.begin(), needle.end());
  while ((it = std::search(it, hay.end(), search)) != hay.end()) {
    at.push_back(static_cast<size_t>(it - hay.begin()));
    ++it;
  }
  return at;
}

// The programs this build made (zorv only with the window program).
std::vector<std::string> programs() {
  std::vector<std::string> p = {kBinaryDir + "/src/cli/zorvctl"};
  if (fs::exists(kBinaryDir + "/src/app/zorv")) p.push_back(kBinaryDir + "/src/app/zorv");
  return p;
}

TEST(BuiltPrograms, CarryTheConfigurationAndReservedBlocksAndNoPackageMarker) {
  for (const std::string& path : programs()) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> bytes = readBytes(path);
    ASSERT_GT(bytes.size(), firmware::kReservedBlockSize);
    EXPECT_TRUE(occurrences(bytes, composed("FindMe", "2nd")).empty());

    std::vector<size_t> brand = occurrences(bytes, composed("ZEPH", "ARIN"));
    ASSERT_EQ(brand.size(), 1u);
    EXPECT_EQ(bytes[brand[0] + 8], 2);
    EXPECT_EQ(bytes[brand[0] + 9], 3);
    std::vector<uint8_t> rma = composed("FALLOW", "MEREA");
    EXPECT_TRUE(std::equal(rma.begin(), rma.end(), bytes.begin() + static_cast<std::ptrdiff_t>(brand[0] + 10)));

    std::vector<size_t> block = occurrences(bytes, composed("FindMe", "1St"));
    ASSERT_EQ(block.size(), 1u);
    ASSERT_LE(block[0] + firmware::kReservedBlockSize, bytes.size());
    EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(block[0] + 9),
                            bytes.begin() + static_cast<std::ptrdiff_t>(block[0] + firmware::kReservedBlockSize),
                            [](uint8_t b) { return b == 0; }));
    // The writer searches whole 32 KiB chunks: the marker must lie inside one.
    EXPECT_LE(block[0] % firmware::kExecutableChunk + 9, firmware::kExecutableChunk);
  }
}

TEST(BuiltPrograms, TakeAnImageIntoTheirReservedBlockOnce) {
  test::SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string copy = sim.dir.file("downloader");
  fs::copy_file(programs().front(), copy);
  std::vector<uint8_t> image = storedForm(0, plainImage(0, std::vector<uint8_t>(9, 0x44), "S3000A", 256 * 1024));
  EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), copy, image), firmware::ImageWriteStatus::Written);
  std::vector<uint8_t> bytes = readBytes(copy);
  std::vector<uint8_t> original = readBytes(programs().front());
  ASSERT_EQ(bytes.size(), original.size());
  size_t at = occurrences(original, composed("FindMe", "1St")).at(0);
  EXPECT_EQ(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24, 256 * 1024);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 4)));
  EXPECT_EQ(firmware::writeImageIntoFile(sim.ctx(), copy, image), firmware::ImageWriteStatus::MarkerNotFound);
}

// ---- The one-file updater as a process.

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Runs argv[0] with the arguments as they are (no shell, so paths with
// blanks or shell characters stay whole), without a display, output to files.
Ran runProgram(const test::TempDir& dir, const std::vector<std::string>& argv) {
  Ran r;
  const std::string out = dir.file("stdout"), err = dir.file("stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int rc = 0;
  if (pid < 0 || ::waitpid(pid, &rc, 0) != pid) return r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

struct UpdaterBench {
  UpdaterBench() {
    bayDir = dir.file("bay");
    if (!sim::SimBay::create(bayDir, error)) return;
    bay = sim::SimBay::open(bayDir, error);
    if (!bay) return;
    // A short restart keeps the test quick; the ready wait still polls through it.
    for (int slot : {0, 1})
      bay->controller(slot)->withDrive([](sim::SimDrive& d) { d.vendorState()["microcode"]["restartMs"] = 300; });
  }
  // A package for both drives of the default bay: 16-byte IDs, class 0 images complemented.
  std::string package(const std::string& name, const std::string& v0, const std::string& v1) {
    std::vector<firmware::PackageRow> rows;
    for (int slot : {0, 1}) {
      sim::DriveRecord d = driveIn(*bay, slot);
      firmware::PackageRow row;
      row.firmwareId = hwidOf(d);
      row.firmwareId.resize(16, 0);
      row.modelName = slot == 0 ? "PA256" : "TA512";
      row.image = imageFor(*bay, slot, slot == 0 ? v0 : v1);
      rows.push_back(std::move(row));
    }
    std::string path = dir.file(name);
    writeBytes(path, packageOf(1, rows));
    return path;
  }
  std::string firmware(int slot) { return driveIn(*bay, slot).identity.firmware; }

  test::TempDir dir;
  std::string bayDir;
  std::string error;
  std::shared_ptr<sim::SimBay> bay;
};

const std::string kZorvctl = kBinaryDir + "/src/cli/zorvctl";

TEST(OneFileUpdater, UpdatesTheSelectedDriveHeadless) {
  UpdaterBench b;
  ASSERT_TRUE(b.bay) << b.error;
  // The window program when it was built, else zorvctl: both carry the runner.
  const bool window = fs::exists(kBinaryDir + "/src/app/zorv");
  const std::string exe = window ? kBinaryDir + "/src/app/zorv" : kZorvctl;
  const std::string updater = b.dir.file("updater");
  // The window program takes --update; zorvctl the command "fw update".
  auto update = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {updater, "--sim", b.bayDir});
    if (window) args.push_back("--update");
    else args.insert(args.end(), {"fw", "update"});
    return args;
  };

  Ran made = runProgram(b.dir, {kZorvctl, "fw", "append-qz", exe, b.package("demo.qz", "S1108A", "T1209B"), updater});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.out, "Open EXE File Success\r\nOpen QZ File Success\r\nDone\r\n");

  // The downloader selects the last drive it lists: the class 1 drive behind USB.
  Ran r = runProgram(b.dir, update({}));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "Current HWID: 5A0D2107 00000000 00000000 00000000 \r\nCorrect Item: 1   TtlFwNum: 2\r\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "Downloading......\r\n"));
  EXPECT_TRUE(contains(r.out, "Update FW Done.\r\nPlease Power Off SSD and Power Up again."));
  EXPECT_TRUE(contains(r.err, "box(information): Update FW Done.\r\nPlease Power Off SSD and Power Up again.\n"))
      << r.err;
  EXPECT_EQ(b.firmware(1), "T1209B1A");
  EXPECT_EQ(b.firmware(0), "S1107A0C");

  r = runProgram(b.dir, update({"--drive", "0"}));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(b.firmware(0), "S1108A0C");

  // Once more: nothing newer. The run says so, and a drive that is current
  // is no failure.
  r = runProgram(b.dir, update({}));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(contains(r.err, "box(information): Drive Fw Version: T120\r\nFW is the Latest\r\n")) << r.err;
  EXPECT_FALSE(contains(r.out, "Download Fail"));
  EXPECT_FALSE(contains(r.out, "Update FW Done."));
  EXPECT_EQ(b.firmware(1), "T1209B1A");
}

TEST(OneFileUpdater, ReportsFailuresByItsExitStatus) {
  UpdaterBench b;
  ASSERT_TRUE(b.bay) << b.error;
  const std::string updater = b.dir.file("updater");
  // A package for other hardware: no row for the drive.
  firmware::PackageRow row{std::vector<uint8_t>(16, 0x66), "OTHER",
                           plainImage(1, std::vector<uint8_t>(16, 0x66), "T2000A")};
  std::string other = b.dir.file("other.qz");
  writeBytes(other, packageOf(1, {row}));
  ASSERT_EQ(runProgram(b.dir, {kZorvctl, "fw", "append-qz", kZorvctl, other, updater}).status, 0);
  Ran r = runProgram(b.dir, {updater, "--sim", b.bayDir, "fw", "update"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "No bin file\n"));
  EXPECT_TRUE(contains(r.err, "box(stop): No bin file\n"));
  EXPECT_TRUE(contains(r.out, "Download Fail\r\n"));

  // A program without a package is no updater.
  r = runProgram(b.dir, {kZorvctl, "--sim", b.bayDir, "fw", "update"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.out, "Download Fail\r\n"));

  // The drive answers TEST UNIT READY with an error after the transfer: it
  // did not come back ready, and the closing box and the status say so.
  std::string err;
  ASSERT_TRUE(b.bay->addFault(
      1, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x00, .count = 2, .senseKey = 0x04, .asc = 0x44}, err));
  std::string good = b.package("good.qz", "S1108A", "T1209B");
  const std::string updater2 = b.dir.file("updater2");
  ASSERT_EQ(runProgram(b.dir, {kZorvctl, "fw", "append-qz", kZorvctl, good, updater2}).status, 0);
  r = runProgram(b.dir, {updater2, "--sim", b.bayDir, "fw", "update"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "Drive Not Ready\nTime Out\nUpdate Fail\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Download Fail\r\n")) << r.out;
  EXPECT_TRUE(contains(r.err, "box(stop): " + std::string(firmware::kUpdateFailedText))) << r.err;
  EXPECT_FALSE(contains(r.out + r.err, "Update FW Done."));
}

}  // namespace
}  // namespace zorv::fwdl

#endif
