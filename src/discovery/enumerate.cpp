#include "discovery/enumerate.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <filesystem>

#include "discovery/brands.h"
#include "discovery/config_block.h"
#include "discovery/identify_strings.h"
#include "transport/ata_command.h"
#include "transport/message.h"

namespace zorv {

namespace {

void toPane(Context& ctx, std::string_view text) { AppendMessage(ctx, text, ctx.messagePane()); }

std::string joinPaths(const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& p : paths) {
    if (!out.empty()) out += ", ";
    out += p;
  }
  return out;
}

// IDENTIFY DEVICE to the selected entry; the data are copied out of
// SectorBuffer before anything else can reuse it.
bool identifySelected(Context& ctx, IdentifyData& id) {
  ctx.CmdBlock.clear();
  ctx.CmdBlock.ucCommand = ata::kIdentifyDevice;
  ctx.CmdBlock.ucCount = 1;
  ctx.CmdBlock.ucDevice = 0x40;
  if (!SendAtaCommand(ctx, false, ctx.CmdBlock, false, kIdentifySize)) return false;
  std::memcpy(id.data(), ctx.SectorBuffer.data(), id.size());
  return true;
}

uint8_t namedBusType(uint8_t bus) { return (bus == kBusAta || bus == kBusUsb || bus == kBusSata) ? bus : 0; }

// Opens physical drive n for its bus type, then asks it IDENTIFY DEVICE
// through DriveTable[ucSelDrive], which is rebuilt for this drive: a field
// left from an earlier drive (bus type, known model) would send commands down
// the wrong path or pick the wrong record layouts for this one.
bool probeIntoSelectedEntry(Context& ctx, int n, IdentifyData& id, ProbeReport* report) {
  std::string path = ctx.port->physicalDrivePath(n);
  uint8_t bus = 0;
  IoOutcome opened = ctx.port->queryBusType(path, bus);
  if (!opened.ok()) {
    if (report && opened.error == IoError::PermissionDenied) report->deniedPaths.push_back(path);
    if (report && opened.error == IoError::Busy) report->busyPaths.push_back(path);
    return false;
  }
  DriveEntry& entry = ctx.DriveTable[ctx.ucSelDrive];
  entry = DriveEntry{};
  entry.ucBusType = namedBusType(bus);
  entry.strDevicePath = path;
  if (!identifySelected(ctx, id)) {
    // A disk may open for a user in the disk group while the pass-through
    // request still needs CAP_SYS_RAWIO.
    const CommandOutcome& why = ctx.lastOutcome;
    if (report && why.failure == CommandFailure::Io && why.io.error == IoError::PermissionDenied)
      report->deniedPaths.push_back(path);
    if (report && why.failure == CommandFailure::Io && why.io.error == IoError::Busy)
      report->busyPaths.push_back(path);
    return false;
  }
  entry.strModel = modelText(id);
  entry.strSerial = serialText(id);
  entry.ulSectorsLo = sectorsLo(id);
  entry.ulSectorsHi = sectorsHi(id);
  entry.usSectorSize = 512;
  entry.ucSectorShift = 9;
  return true;
}

void startPass(Context& ctx, DriveListView& list) {
  list.clear();
  ctx.ucDriveCount = kNoDrive;
  list.setEnabled(false);
  ctx.ucSelDrive = 0;
  ctx.ucDriveCount = 0;
}

void acceptSelectedEntry(Context& ctx, DriveListView& list, const std::string& line) {
  list.insertLine(ctx.ucSelDrive, line);
  DriveEntry& entry = ctx.DriveTable[ctx.ucSelDrive];
  applyKnownModel(entry, entry.strModel);
  ++ctx.ucDriveCount;
  ++ctx.ucSelDrive;
}

void finishPass(Context& ctx, DriveListView& list) {
  if (ctx.ucDriveCount == 0) {
    ctx.ucSelDrive = kNoDrive;
    ctx.ucDriveCount = kNoDrive;
    ctx.fgFamilyDrive = 0;
    return;
  }
  --ctx.ucSelDrive;
  list.select(ctx.ucSelDrive);
  ctx.fgFamilyDrive = 1;
  ctx.fgBusy = 0;
}

void printEveryDrive(Context& ctx, DriveListView& list) {
  int lines = list.count();
  for (int i = 0; i < lines; ++i) {
    list.select(i);
    OnDriveSelected(ctx, list);
  }
}

std::mutex gStartupMutex;
StartupFiles& recordedStartupFiles() {
  static StartupFiles files;
  return files;
}

}  // namespace

std::string ProbeReport::explanation() const {
  std::string out;
  if (!deniedPaths.empty()) {
    out += "No permission to use " + joinPaths(deniedPaths) +
           ": run as root or with CAP_SYS_RAWIO (the group zorv may open the family's drives: README, "
           "\"Installing\")\r\n";
  }
  if (!busyPaths.empty()) {
    out += "Cannot open " + joinPaths(busyPaths) +
           ": in use (mounted or held by another program): unmount its file systems or end that program, then "
           "scan again\r\n";
  }
  return out;
}

std::string driveDescription(const DriveEntry& entry) {
  return entry.strModel + " " + entry.strSerial + " " + capacityText(entry.ulSectorsLo, entry.ulSectorsHi) +
         std::string(busDisplayName(entry.ucBusType));
}

int physicalDriveNumber(const Context& ctx, const std::string& path) {
  for (int n = 0; n < kPhysicalDriveCount; ++n) {
    if (ctx.port->physicalDrivePath(n) == path) return n;
  }
  return -1;
}

std::string driveListLine(Context& ctx, int index) {
  if (index < 0 || index >= kMaxDrives) return {};
  const DriveEntry& entry = ctx.DriveTable[static_cast<size_t>(index)];
  return formatText("Physical Drive %d ", physicalDriveNumber(ctx, entry.strDevicePath)) + driveDescription(entry);
}

bool EnumerateDrives(Context& ctx) {
  if (DriveListView* list = attachedDriveList(ctx)) return EnumerateDrives(ctx, *list);
  DriveListModel scratch;
  return EnumerateDrives(ctx, scratch);
}

bool EnumerateDrives(Context& ctx, DriveListView& list, ProbeReport* report) {
  ProbeReport local;
  if (!report) report = &local;
  startPass(ctx, list);
  for (int n = 0; n < kPhysicalDriveCount; ++n) {
    IdentifyData id{};
    if (!probeIntoSelectedEntry(ctx, n, id, report)) continue;
    std::string description = driveDescription(ctx.DriveTable[ctx.ucSelDrive]);
    if (!passesBrandCheck(ctx, description)) continue;
    acceptSelectedEntry(ctx, list, formatText("Physical Drive %d ", n) + description);
  }
  finishPass(ctx, list);

  ctx.messagePane().clear();
  if (ctx.ucDriveCount == kNoDrive) {
    toPane(ctx, "No VXA Device Attached\r\n");
    toPane(ctx, "\n\n");
    toPane(ctx, report->explanation());
  } else {
    printEveryDrive(ctx, list);
  }
  return true;
}

void OnDriveSelected(Context& ctx) {
  if (DriveListView* list = attachedDriveList(ctx)) return OnDriveSelected(ctx, *list);
  // Without a list the selection is the table's own.
  DriveListModel scratch;
  for (int i = 0; ctx.ucDriveCount != kNoDrive && i < ctx.ucDriveCount && i < kMaxDrives; ++i) {
    scratch.insertLine(i, driveListLine(ctx, i));
  }
  scratch.select(ctx.ucSelDrive == kNoDrive ? -1 : ctx.ucSelDrive);
  OnDriveSelected(ctx, scratch);
}

void OnDriveSelected(Context& ctx, DriveListView& list) {
  if (ctx.ucDriveCount == kNoDrive) return;
  list.setEnabled(false);
  int selection = list.currentSelection();
  // A line beyond the accepted drives (list and table out of step) selects nothing.
  ctx.ucSelDrive = (selection < 0 || selection >= ctx.ucDriveCount || selection >= kMaxDrives)
                       ? kNoDrive
                       : static_cast<uint8_t>(selection);
  if (ctx.ucSelDrive == kNoDrive) return;
  IdentifyData id{};
  if (!identifySelected(ctx, id)) {
    PrintFailureCause(ctx);
    return;
  }
  toPane(ctx, "Model Name      : " + modelField(id) + "\r\n");
  toPane(ctx, "Firmware Version: " + firmwareText(id) + "\r\n");
  toPane(ctx, "\n\n");
  list.setEnabled(true);
  list.takeFocus();
}

bool ProbePhysicalDrive(Context& ctx, int n, std::string& serialOut, std::string& modelOut) {
  if (n < 0 || n >= kPhysicalDriveCount) return false;
  // With nothing selected the probe borrows entry 0 and gives the selection back.
  uint8_t savedSelection = ctx.ucSelDrive;
  if (!ctx.hasSelectedDrive()) ctx.ucSelDrive = 0;
  DriveEntry& entry = ctx.DriveTable[ctx.ucSelDrive];
  const std::string savedPath = entry.strDevicePath;
  const uint8_t savedBus = entry.ucBusType;

  bool ok = false;
  std::string path = ctx.port->physicalDrivePath(n);
  uint8_t bus = 0;
  if (ctx.port->queryBusType(path, bus).ok()) {
    entry.strDevicePath = path;
    entry.ucBusType = namedBusType(bus);
    IdentifyData id{};
    if (identifySelected(ctx, id) && passesBrandCheck(ctx, modelText(id))) {
      modelOut = swappedField(id, 54, 40);
      serialOut = swappedField(id, 20, 20);
      ok = true;
    }
  }
  if (!ok) {
    entry.strDevicePath = savedPath;
    entry.ucBusType = savedBus;
  }
  ctx.ucSelDrive = savedSelection;
  return ok;
}

std::string deviceIdFromInterfaceName(std::string_view name) {
  std::string id(name.size() > 4 ? name.substr(4) : std::string_view());
  size_t hash = id.rfind('#');
  if (hash != std::string::npos) id.resize(hash);
  for (char& c : id) {
    if (c == '#') c = '\\';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return id;
}

std::string deviceChangeText(const DeviceEvent& event) {
  return (event.kind == DeviceEventKind::Arrival ? "Adding " : "Removing ") +
         deviceIdFromInterfaceName(event.interfaceName) + "\r\n";
}

int OnDeviceChange(Context& ctx, const DeviceEvent& event) {
  if (DriveListView* list = attachedDriveList(ctx)) return OnDeviceChange(ctx, event, *list);
  DriveListModel scratch;
  return OnDeviceChange(ctx, event, scratch);
}

int OnDeviceChange(Context& ctx, const DeviceEvent& event, DriveListView& list) {
  std::string id = deviceIdFromInterfaceName(event.interfaceName);
  std::string enumerator = id.substr(0, id.find('\\'));
  if (enumerator == "ROOT") return 0;
  std::string text = deviceChangeText(event);
  int runs = 0;
  for (std::string_view brand : acceptedBrands(ctx)) {
    if (text.find(brand) != std::string::npos || ctx.fgSkipModelCheck == 1) {
      EnumerateDrives(ctx, list);
      ++runs;
    }
  }
  return runs;
}

bool selectPhysicalDrive(Context& ctx, int n) {
  if (ctx.ucDriveCount == kNoDrive || n < 0 || n >= kPhysicalDriveCount) return false;
  std::string path = ctx.port->physicalDrivePath(n);
  for (int i = 0; i < ctx.ucDriveCount && i < kMaxDrives; ++i) {
    if (ctx.DriveTable[static_cast<size_t>(i)].strDevicePath != path) continue;
    ctx.ucSelDrive = static_cast<uint8_t>(i);
    if (DriveListView* list = attachedDriveList(ctx)) list->select(i);
    return true;
  }
  return false;
}

std::vector<DriveInformation> RunDriveInformationPass(Context& ctx, DriveListView& list, MessageSink& box,
                                                      const VolumeMap& volumes, ProbeReport* report) {
  ProbeReport local;
  if (!report) report = &local;
  std::vector<DriveInformation> drives;
  startPass(ctx, list);
  for (int n = 0; n < kPhysicalDriveCount; ++n) {
    IdentifyData id{};
    if (!probeIntoSelectedEntry(ctx, n, id, report)) continue;
    DriveInformation info;
    info.physicalDrive = n;
    info.modelText = modelText(id);
    info.capacityGB = capacityDecimalGB((uint64_t{sectorsHi(id)} << 32) | sectorsLo(id));
    info.word135 = word135Text(id);
    info.firmware = firmwareText(id);
    info.serial = cutAtNul(swappedField(id, 20, 20));
    std::erase(info.serial, ' ');
    std::string head = info.modelText + "-" + std::to_string(info.capacityGB) + info.word135 + "\r\n" +
                       "Ver: " + info.firmware + "\r\n" + "SN:  " + info.serial + "\r\n";
    if (!passesBrandCheck(ctx, head)) continue;
    info.volumes = volumesOnDisk(volumes, n);
    info.block = head + formatText("Disk %d\r\n", n);
    if (!info.volumes.empty()) {
      info.block += "Contains volume:";
      for (const std::string& v : info.volumes) info.block += " " + v;
      info.block += "\r\n";
    }
    info.block += "--------End Of Drive Info-------\r\n";
    const DriveEntry& entry = ctx.DriveTable[ctx.ucSelDrive];
    std::string firmware = info.firmware;
    firmware.erase(firmware.find_last_not_of(' ') + 1);
    info.listLine = formatText("Physical Drive %d ", n) + info.modelText + " " +
                    capacityText(entry.ulSectorsLo, entry.ulSectorsHi) + " " + firmware;
    acceptSelectedEntry(ctx, list, info.listLine);
    AppendMessage(ctx, info.block, box);
    drives.push_back(std::move(info));
  }
  finishPass(ctx, list);
  if (drives.empty()) AppendMessage(ctx, report->explanation(), box);
  printEveryDrive(ctx, list);
  return drives;
}

void applyStartupDefaults(Context& ctx) {
  StartupFiles files;
  std::error_code ec;
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  if (!ec) files.workingDirectory = cwd.generic_string();
  files.scriptFile = files.workingDirectory + "/ZRV.SCR";
  {
    std::lock_guard lock(gStartupMutex);
    recordedStartupFiles() = files;
  }
  std::memset(ctx.SectorBuffer.data(), 0xFF, ctx.SectorBuffer.size());
  ctx.usTimeoutShort = 7;
  ctx.usTimeoutMid = 30;
  ctx.usTimeoutLong = 255;
  ctx.fgVendorCdbEnable = 1;
  ctx.ucBrandFirst = configBrandFirst();
  ctx.ucBrandEnd = configBrandEnd();
  std::tm now = ctx.clock->localTime();
  std::srand(static_cast<unsigned>(std::mktime(&now)));
}

StartupFiles startupFiles() {
  std::lock_guard lock(gStartupMutex);
  return recordedStartupFiles();
}

}  // namespace zorv
