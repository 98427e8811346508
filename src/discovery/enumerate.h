#pragma once
// Drive enumeration and selection: which of the first eight physical drives
// are drives of the brand, the drive table and drive list built from them,
// selection, device arrival/removal, and the downloader's drive information.

#include <string>
#include <vector>

#include "discovery/drive_list.h"
#include "discovery/volumes.h"
#include "transport/context.h"
#include "transport/device_events.h"

namespace zorv {

constexpr int kPhysicalDriveCount = 8;

// Why drives that exist were not looked at; filled by the passes that probe.
struct ProbeReport {
  std::vector<std::string> deniedPaths;  // no permission to open (root or CAP_SYS_RAWIO needed)
  std::vector<std::string> busyPaths;    // held exclusively by someone else
  // The message-box text that explains an empty list, or "" when nothing was refused.
  std::string explanation() const;
};

// Rebuilds DriveTable, ucDriveCount, ucSelDrive, fgFamilyDrive and the drive
// list, clears the message pane and prints each accepted drive's identity (or
// "No VXA Device Attached"). Uses the drive list attached to ctx, or a
// throw-away one. Returns true.
bool EnumerateDrives(Context& ctx);
bool EnumerateDrives(Context& ctx, DriveListView& list, ProbeReport* report = nullptr);

// The drive list's selection handler: the selected line becomes ucSelDrive and
// its model and firmware version are printed on the message pane.
void OnDriveSelected(Context& ctx);
void OnDriveSelected(Context& ctx, DriveListView& list);

// Probes physical drive n without touching the drive list. On success the
// selected entry keeps n's path (and bus type) and true is returned;
// otherwise the entry is restored. modelOut/serialOut receive the raw
// byte-swapped 40-byte model and 20-byte serial fields.
bool ProbePhysicalDrive(Context& ctx, int n, std::string& serialOut, std::string& modelOut);

// Device arrival/removal. Returns how many enumerations it ran (one per
// accepted brand whose word occurs in the event's text; ROOT devices never).
int OnDeviceChange(Context& ctx, const DeviceEvent& event);
int OnDeviceChange(Context& ctx, const DeviceEvent& event, DriveListView& list);
// "\\?\USBSTOR#DISK&VEN_X#SERIAL#{guid}" -> "USBSTOR\DISK&VEN_X\SERIAL".
std::string deviceIdFromInterfaceName(std::string_view interfaceName);
// "Adding <id>\r\n" or "Removing <id>\r\n".
std::string deviceChangeText(const DeviceEvent& event);

// The part of the drive list line after "Physical Drive %d ", for table entry
// index, and the whole line (the physical drive number comes from the path).
std::string driveDescription(const DriveEntry& entry);
std::string driveListLine(Context& ctx, int index);
// The physical drive number (0..7) whose path is path, or -1.
int physicalDriveNumber(const Context& ctx, const std::string& path);

// Makes the accepted drive on physical drive n the selected one (and selects
// its line in the attached list). False when n is not an accepted drive.
bool selectPhysicalDrive(Context& ctx, int n);

// One drive's block in the downloader's message box.
struct DriveInformation {
  int physicalDrive = 0;
  std::string modelText;  // spaces removed
  uint64_t capacityGB = 0;
  std::string word135;
  std::string firmware;
  std::string serial;  // spaces removed
  std::vector<std::string> volumes;
  std::string block;     // the text appended to the message box
  std::string listLine;  // the line added to the drive list
};

// The downloader window's opening pass: probes the eight drives, appends an
// information block per drive of the brand to box, fills the drive table and
// list, selects the last drive and prints every drive's identity on the pane.
std::vector<DriveInformation> RunDriveInformationPass(Context& ctx, DriveListView& list, MessageSink& box,
                                                      const VolumeMap& volumes, ProbeReport* report = nullptr);

// Process-wide defaults applied once at start-up: time-outs, the vendor CDB
// switch, SectorBuffer filled with 0xFF, the random seed, the accepted brand
// range from the built-in configuration block, the scratch file names.
void applyStartupDefaults(Context& ctx);

struct StartupFiles {
  std::string workingDirectory;
  std::string logFile = "ZRV.LOG";
  std::string randomDataFile = "ZRV.RND";
  std::string binaryFile = "ZRV.BIN";
  std::string scriptFile;  // working directory + "/ZRV.SCR"
};
// As recorded by the last applyStartupDefaults.
StartupFiles startupFiles();

}  // namespace zorv
