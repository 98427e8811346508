#include "discovery/volumes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef __linux__
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace zorv {

namespace {

constexpr int kSdMajor = 8;
constexpr int kMinorsPerDisk = 16;
constexpr size_t kMaxMountInfoBytes = 4 << 20;

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      auto oct = [](char c) { return c >= '0' && c <= '7'; };
      if (oct(s[i + 1]) && oct(s[i + 2]) && oct(s[i + 3])) {
        out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

bool parseInt(std::string_view s, int& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int diskFromDevNumber(std::string_view majorMinor) {
  size_t colon = majorMinor.find(':');
  if (colon == std::string_view::npos) return -1;
  int major = 0, minor = 0;
  if (!parseInt(majorMinor.substr(0, colon), major) || !parseInt(majorMinor.substr(colon + 1), minor)) return -1;
  if (major != kSdMajor || minor < 0) return -1;
  int disk = minor / kMinorsPerDisk;
  return disk < 8 ? disk : -1;
}

// "/dev/sdb3" -> 1; file systems with anonymous device numbers (btrfs) still name it.
int diskFromSource(std::string_view source) {
  constexpr std::string_view prefix = "/dev/sd";
  if (source.substr(0, prefix.size()) != prefix || source.size() < prefix.size() + 1) return -1;
  char letter = source[prefix.size()];
  if (letter < 'a' || letter > 'h') return -1;
  std::string_view rest = source.substr(prefix.size() + 1);
  if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
  return letter - 'a';
}

std::string readText(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text;
  text.resize(limit);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

bool parseMajorMinor(std::string_view text, int& major, int& minor) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  return parseInt(text.substr(0, colon), major) && parseInt(text.substr(colon + 1), minor);
}

// The whole disk of a block device number: itself, or the disk a partition
// belongs to (its sysfs directory holds a "partition" file and lies in the
// disk's directory, whose "dev" names the disk).
std::string wholeDiskOf(const std::string& sysRoot, const std::string& majorMinor) {
  const std::string dir = sysRoot + "/dev/block/" + majorMinor;
  std::error_code ec;
  if (!std::filesystem::exists(dir + "/partition", ec)) return majorMinor;
  std::filesystem::path real = std::filesystem::canonical(dir, ec);
  if (ec) return majorMinor;
  int major = 0, minor = 0;
  if (!parseMajorMinor(readText((real.parent_path() / "dev").string(), 64), major, minor)) return majorMinor;
  return std::to_string(major) + ":" + std::to_string(minor);
}

void addOnce(VolumeMap& map, const VolumeEntry& entry) {
  for (const VolumeEntry& v : map)
    if (v.disk == entry.disk && v.mountPoint == entry.mountPoint) return;
  map.push_back(entry);
}

}  // namespace

VolumeMap parseVolumesOnBlockDevices(const DevicePort& port, std::string_view text, const std::string& sysRoot) {
  std::array<std::string, 8> disks;  // "major:minor" of each drive's block device
  bool any = false;
  for (int n = 0; n < 8; ++n) {
    const std::string device = port.blockDevicePath(port.physicalDrivePath(n));
#ifdef __linux__
    struct stat st {};
    if (device.empty() || ::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    disks[static_cast<size_t>(n)] = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    any = true;
#else
    (void)device;  // block devices with device numbers are Linux's
#endif
  }
  VolumeMap map;
  if (!any) return map;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    std::vector<std::string_view> f = splitFields(line);
    if (f.size() < 5) continue;
    int major = 0, minor = 0;
    if (!parseMajorMinor(f[2], major, minor) || major == 0) continue;  // major 0: no block device
    const std::string own(f[2]);
    const std::string whole = wholeDiskOf(sysRoot, own);
    for (int n = 0; n < 8; ++n) {
      const std::string& disk = disks[static_cast<size_t>(n)];
      if (!disk.empty() && (disk == own || disk == whole)) addOnce(map, {n, unescape(f[4])});
    }
  }
  return map;
}

VolumeMap readVolumes(const DevicePort& port, const std::string& mountInfoPath) {
  constexpr const char* kSystemMounts = "/proc/self/mountinfo";
  VolumeMap map = readVolumeMap(mountInfoPath);
  for (const VolumeEntry& v : parseVolumesOnBlockDevices(port, readText(kSystemMounts, kMaxMountInfoBytes)))
    addOnce(map, v);
  return map;
}

VolumeMap parseVolumeMap(std::string_view text) {
  VolumeMap map;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    std::vector<std::string_view> f = splitFields(line);
    if (f.size() < 5) continue;
    auto dash = std::find(f.begin() + 5, f.end(), std::string_view("-"));
    std::string_view source = (dash != f.end() && f.end() - dash >= 3) ? *(dash + 2) : std::string_view();
    int disk = diskFromDevNumber(f[2]);
    if (disk < 0) disk = diskFromSource(unescape(source));
    if (disk < 0) continue;
    map.push_back({disk, unescape(f[4])});
  }
  return map;
}

VolumeMap readVolumeMap(const std::string& path) {
  if (path.empty()) return {};
  return parseVolumeMap(readText(path, kMaxMountInfoBytes));
}

std::vector<std::string> volumesOnDisk(const VolumeMap& map, int disk) {
  std::vector<std::string> out;
  for (const VolumeEntry& v : map) {
    if (v.disk != disk) continue;
    if (std::find(out.begin(), out.end(), v.mountPoint) == out.end()) out.push_back(v.mountPoint);
  }
  return out;
}

std::string mountInfoPathFor(const DevicePort& port, const std::string& simDir) {
  if (port.name() == "sim") return simDir.empty() ? std::string() : simDir + "/mountinfo";
  if (port.name() == "linux") return "/proc/self/mountinfo";
  return {};
}

DriveUse driveUse(DevicePort& port, const VolumeMap& volumes, int disk, const std::string& path) {
  DriveUse use;
  use.mountPoints = volumesOnDisk(volumes, disk);
  if (!use.mountPoints.empty()) return use;
  IoOutcome probe = port.probeExclusive(path);
  if (probe.error == IoError::Busy) use.claim = probe.detail.empty() ? std::string("in use") : probe.detail;
  return use;
}

}  // namespace zorv
