// Every program opens its drives through one function: `--sim DIR` gives the
// simulated bay stored in DIR, no directory gives the machine's own drives.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "discovery/device_backend.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

TEST(DeviceBackend, WithoutADirectoryTheOsDrivesAreUsed) {
  std::string error;
  std::unique_ptr<DevicePort> port = openDeviceBackend("", error);
#ifdef _WIN32
  // Real drives on Windows need the IOCTL backend, which this build lacks: it
  // must say so rather than list no drives.
  EXPECT_EQ(port, nullptr);
  EXPECT_NE(error.find("no Windows device backend"), std::string::npos) << error;
#else
  ASSERT_NE(port, nullptr) << error;
  EXPECT_EQ(port->name(), "linux");
#endif
}

TEST(DeviceBackend, ADirectoryHoldsTheSimulatedBayAndIsCreatedWhenMissing) {
  test::TempDir dir;
  std::string bay = dir.file("new bay");
  std::string error;
  std::unique_ptr<DevicePort> port = openDeviceBackend(bay, error);
  ASSERT_NE(port, nullptr) << error;
  EXPECT_EQ(port->name(), "sim");
  EXPECT_EQ(port->physicalDrivePath(1), "sim:1");
  EXPECT_TRUE(std::filesystem::is_directory(bay));
  // The same bay opens again.
  EXPECT_NE(openDeviceBackend(bay, error), nullptr) << error;
}

TEST(DeviceBackend, ABayThatCannotBeUsedIsRefusedWithTheReason) {
  test::TempDir dir;
  std::ofstream(dir.file("plain")) << "not a bay";
  std::string error;
  EXPECT_EQ(openDeviceBackend(dir.file("plain") + "/bay", error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace zorv
