#include "platform/windows/windows_port.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <vector>

#include "cli/session.h"
#include "platform/windows/device_names.h"
#include "platform/windows/mounted_volumes.h"

namespace zorv::platform {
namespace {

TEST(DeviceNames, PhysicalDrivesAndVolumes) {
  EXPECT_EQ(physicalDriveName(0), "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(physicalDriveName(7), "\\\\.\\PhysicalDrive7");
  EXPECT_EQ(physicalDriveName(8), "");
  EXPECT_EQ(physicalDriveName(-1), "");
  EXPECT_EQ(volumeName('C'), "\\\\.\\C:");
  EXPECT_EQ(volumeName('z'), "\\\\.\\Z:");
  EXPECT_EQ(volumeName('1'), "");
}

TEST(MountedVolumes, TheAdviceNamesEachVolumeAndWhatToDo) {
  EXPECT_EQ(mountedVolumesAdvice({}), "");
  const std::string one = mountedVolumesAdvice({{'E', "NTFS"}});
  EXPECT_EQ(one.rfind("volume E: (NTFS) on this drive is mounted: writing raw sectors would destroy its file system", 0),
            0u)
      << one;
  EXPECT_NE(one.find("\"mountvol E: /p\""), std::string::npos) << one;
  const std::string two = mountedVolumesAdvice({{'E', "NTFS"}, {'F', "FAT32"}});
  EXPECT_EQ(two.rfind("volumes E: (NTFS), F: (FAT32) on this drive are mounted", 0), 0u) << two;
  EXPECT_NE(two.find("\"mountvol E: /p\", \"mountvol F: /p\""), std::string::npos) << two;
}

struct Requests {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(512);
  AtaPassThroughRequest ata;
  ScsiRequest scsi;
  ScsiRequest queued;
  Requests() {
    ata.ataFlags = kAtaFlagsDrdyRequired | kAtaFlagsDataIn;
    ata.dataTransferLength = 512;
    ata.dataBuffer = buffer.data();
    ata.currentTaskFile[6] = 0xEC;  // IDENTIFY DEVICE
    scsi.cdbLength = 12;            // TEST UNIT READY
    queued = scsi;
  }
};

// Wine has no drive that takes pass-through requests: a drive number it
// has no disk for fails at the open, the disk it makes of its own C: drive
// refuses the requests. Either way the outcome says why in the system's
// words.
TEST(WindowsPort, WithoutADriveEveryRequestSaysWhy) {
  std::string error;
  std::unique_ptr<DevicePort> port = makeWindowsPort(error);
  ASSERT_TRUE(port) << error;
  EXPECT_EQ(port->name(), "windows");
  EXPECT_EQ(port->physicalDrivePath(0), "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(port->physicalDrivePath(8), "");

  int notOpened = 0;
  for (int n = 0; n < 8; ++n) {
    const std::string path = port->physicalDrivePath(n);
    Requests r;
    const std::vector<std::pair<const char*, IoOutcome>> outcomes = {
        {"ATA", port->ataPassThrough(path, r.ata)},
        {"SCSI", port->scsiPassThrough(path, r.scsi)},
        {"queued", port->submitQueued(path, n, r.queued)},
    };
    for (const auto& [what, o] : outcomes) {
      const std::string context = path + " " + what + ": " + std::string(ioErrorName(o.error)) + " " + o.detail;
      ASSERT_FALSE(o.ok()) << context;
      const bool atOpen = o.detail.rfind("open " + path + ": ", 0) == 0;
      if (atOpen) {
        EXPECT_TRUE(o.error == IoError::NoDevice || o.error == IoError::PermissionDenied) << context;
        ++notOpened;
      } else {
        EXPECT_EQ(o.error, IoError::NotSupported) << context;
        EXPECT_NE(o.detail.find("pass-through on " + path + ": "), std::string::npos) << context;
      }
      const std::string code = "(error " + std::to_string(o.osErrno) + ")";
      EXPECT_NE(o.detail.find(code), std::string::npos) << context;
      // The system's own text stands between the colon and the code.
      const size_t colon = o.detail.find(": ");
      ASSERT_NE(colon, std::string::npos) << context;
      EXPECT_GT(o.detail.find(code), colon + 3) << context;
    }
    uint8_t bus = 0xAA;
    IoOutcome busQuery = port->queryBusType(path, bus);
    if (!busQuery.ok()) {
      EXPECT_EQ(bus, 0) << path;
      EXPECT_EQ(busQuery.detail.rfind("open " + path + ": ", 0), 0u) << busQuery.detail;
    }
    EXPECT_EQ(port->pollSlot(n), SlotState::Idle) << path;
  }
  EXPECT_GT(notOpened, 0);
  IoOutcome absent = port->probeExclusive(port->physicalDrivePath(7));
  EXPECT_EQ(absent.error, IoError::NoDevice) << absent.detail;
  port->waitQueued(std::chrono::hours(1));
  port->drainQueue();
  port->abandonQueue();
}

TEST(WindowsPort, DeviceNotificationsStartAndStop) {
  std::string error;
  std::unique_ptr<DevicePort> port = makeWindowsPort(error);
  ASSERT_TRUE(port);
  std::unique_ptr<DeviceEventSource> events = port->watchDevices();
  ASSERT_TRUE(events);
  std::vector<DeviceEvent> out;
  EXPECT_TRUE(events->poll(out, 0));
  EXPECT_TRUE(events->poll(out, 10));
  EXPECT_TRUE(out.empty());
  events.reset();  // the window's thread ends
}

TEST(Zorvctl, FindsNoDriveWithoutADevice) {
  const char* argv[] = {"zorvctl", "scan"};
  std::ostringstream out, err;
  EXPECT_EQ(cli::runZorvctl(2, argv, out, err), 0) << err.str();
  EXPECT_EQ(out.str().find("No VXA Device Attached"), 0u) << out.str() << err.str();
}

// The program itself, as a person starts it: the Windows backend, no drive.
TEST(Zorvctl, TheProgramFindsNoDriveAndEndsNormally) {
  std::string exe = ZORV_BINARY_DIR "/src/cli/zorvctl.exe";
  if (!exe.empty() && exe[0] == '/') exe = "Z:" + exe;  // wine's view of the build folder
  for (char& c : exe)
    if (c == '/') c = '\\';
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::string commandLine = "\"" + exe + "\" scan";
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &process);
  const DWORD startError = GetLastError();
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    FAIL() << "cannot start " << exe << ": error " << startError;
  }
  std::string output;
  char chunk[4096];
  DWORD got = 0;
  while (output.size() < (1u << 20) && ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0)
    output.append(chunk, got);
  CloseHandle(readEnd);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(code, 0u) << output;
  EXPECT_EQ(output.find("No VXA Device Attached"), 0u) << output;
}

}  // namespace
}  // namespace zorv::platform
