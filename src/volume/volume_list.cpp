#include "volume/volume_list.h"

#include "discovery/enumerate.h"
#include "volume/test_file.h"

namespace zorv {

namespace {

std::string clipped(const std::string& s, size_t n) { return s.size() > n ? s.substr(0, n) : s; }

}  // namespace

std::vector<VolumeRecord> ParseVolumes(Context& ctx, const VolumeMap& map, MessageSink& box) {
  std::vector<VolumeRecord> out;
  const int count = ctx.ucDriveCount == kNoDrive ? 0 : std::min<int>(ctx.ucDriveCount, kMaxDrives);
  for (const VolumeEntry& v : map) {
    if (out.size() >= kMaxVolumes) break;
    const std::string path = ctx.port->physicalDrivePath(v.disk);
    const DriveEntry* drive = nullptr;
    for (int i = 0; i < count; ++i)
      if (!path.empty() && ctx.DriveTable[static_cast<size_t>(i)].strDevicePath == path)
        drive = &ctx.DriveTable[static_cast<size_t>(i)];
    if (!drive) continue;  // not on a drive of the family
    bool seen = false;
    for (const VolumeRecord& r : out) seen = seen || r.mountPoint == v.mountPoint;
    if (seen) continue;
    VolumeRecord r;
    r.mountPoint = v.mountPoint;
    r.physicalDrive = v.disk;
    r.drive = *drive;
    r.model = clipped(drive->strModel, 40);
    r.serial = clipped(drive->strSerial, 20);
    r.capacitySectors = drive->sectorCount();
    if (deleteLeftoverTestFile(r.mountPoint))
      AppendMessage(ctx, formatText("Delete %s\r\n---------\r\n", testFilePath(r.mountPoint).c_str()), box);
    int error = 0;
    if (!volumeFreeBytes(r.mountPoint, r.freeBytes, error))
      AppendMessage(ctx, formatText("GetDiskFreeSpaceEx Error: %d\r\n", error), box);
    out.push_back(std::move(r));
  }
  return out;
}

void LoadVolumePlan(std::vector<VolumeRecord>& volumes, const Sc3Script& script, MessageSink& box) {
  for (VolumeRecord& v : volumes) {
    v.plan = script;
    const char* disk = v.mountPoint.c_str();
    if (script.type == 1) {
      box.append(formatText("Type: %d\r\nDisk %s:\r\nRangeSize: 0x%llX BYTE\r\nTotalWriteCap: 0x%llX BYTE\r\n"
                            "File Size: 0x%llX BYTE\r\nSequence: %d\r\nResidual: 0x%llX BYTE\r\n"
                            "-------------------------\r\n",
                            1, disk, static_cast<unsigned long long>(script.rangeSize),
                            static_cast<unsigned long long>(script.totalWriteCapacity),
                            static_cast<unsigned long long>(script.fileSize), script.sequential ? 1 : 0,
                            static_cast<unsigned long long>(v.freeBytes)));
    } else {
      box.append(formatText("Type: %d\r\nDisk %s:\r\nT0: %llu Byte\r\nT1: %llu Byte\r\nTotal Length: %lld Byte\r\n"
                            "Content Fix: %d\r\nRun Mins: %llu\r\nResidual: 0x%llX BYTE\r\n"
                            "-------------------------\r\n",
                            2, disk, static_cast<unsigned long long>(script.transferFirst * 512),
                            static_cast<unsigned long long>(script.transferLast * 512),
                            static_cast<long long>(script.totalLengthBytes()), script.randomData ? 0 : 1,
                            static_cast<unsigned long long>(script.runMinutes),
                            static_cast<unsigned long long>(v.freeBytes)));
    }
  }
}

std::string volumeRefusal(const VolumeRecord& volume, const Sc3Script& script) {
  if (script.bytesNeeded() > volume.freeBytes)
    return formatText("Disk %s: the script needs 0x%llX bytes, the volume has 0x%llX free", volume.mountPoint.c_str(),
                      static_cast<unsigned long long>(script.bytesNeeded()),
                      static_cast<unsigned long long>(volume.freeBytes));
  return {};
}

std::vector<std::string> volumeListColumns(int type) {
  std::vector<std::string> c = {"Device ID", "Serial Num", "PhyDrv", "Cap(G)", "Vol", "Residual(B)"};
  if (type == 1) c.insert(c.end(), {"Rnage Sector", "Write Sector", "Len KB", "Seq"});
  if (type == 2) c.insert(c.end(), {"Trans Size (Sec)", "To (Sec)", "Ttl Len (MB)", "Tst Ptn", "Run Mins"});
  return c;
}

std::vector<std::string> volumeListRow(const VolumeRecord& v, int type) {
  auto dec = [](uint64_t n) { return std::to_string(n); };
  std::vector<std::string> r = {v.model, v.serial, dec(static_cast<uint64_t>(v.physicalDrive)),
                                dec(v.capacitySectors >> 21), v.mountPoint, dec(v.freeBytes)};
  const Sc3Script& s = v.plan;
  if (type == 1)
    r.insert(r.end(), {dec(s.rangeSize / 512), dec(s.totalWriteCapacity / 512), dec(s.fileSize / 1024),
                       s.sequential ? "1" : "0"});
  if (type == 2)
    r.insert(r.end(), {dec(s.transferFirst), dec(s.transferLast), dec(s.totalLengthMB), s.randomData ? "0" : "1",
                       dec(s.runMinutes)});
  return r;
}

}  // namespace zorv
