#include "platform/windows/mounted_volumes.h"

#include <winioctl.h>

#include <algorithm>
#include <array>

#include "platform/windows/device_names.h"
#include "platform/windows/disk_extents.h"
#include "transport/windows_text.h"

namespace zorv::platform {

namespace {

bool lies(char letter, DWORD disk) {
  // No access rights are needed for the extents: a person without
  // administrator rights still learns which volumes are on the drive.
  const HANDLE volume = CreateFileW(wideText(volumeName(letter)).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return false;
  alignas(8) std::array<unsigned char, kVolumeExtentsReplySize> reply{};
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, reply.data(),
                                  static_cast<DWORD>(reply.size()), &returned, nullptr);
  // A volume spanning more disks than the reply holds still names the first.
  const bool answered = ok || GetLastError() == ERROR_MORE_DATA;
  CloseHandle(volume);
  if (!answered) return false;
  for (const VolumeExtent& e : parseDiskExtents(reply.data(), std::min<size_t>(returned, reply.size())))
    if (e.diskNumber == disk) return true;
  return false;
}

}  // namespace

std::vector<MountedVolume> mountedVolumesOnDisk(DWORD disk) {
  std::vector<MountedVolume> out;
  // A card reader or floppy without a medium must fail the queries, not
  // ask the person to insert one.
  DWORD previousMode = 0;
  const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
  const DWORD letters = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(letters & (1u << i))) continue;
    const char letter = static_cast<char>('A' + i);
    const std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + i)) + L":\\";
    const UINT type = GetDriveTypeW(root.c_str());
    if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
    if (!lies(letter, disk)) continue;
    std::array<wchar_t, MAX_PATH + 1> fileSystem{};
    // A volume without a recognised file system (RAW) has nothing to lose
    // to a raw write that the person has not already been warned of.
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem.data(),
                               static_cast<DWORD>(fileSystem.size())))
      continue;
    out.push_back(MountedVolume{letter, utf8Text(fileSystem.data(), fileSystem.size())});
  }
  if (quiet) SetThreadErrorMode(previousMode, nullptr);
  return out;
}

std::string mountedVolumesAdvice(const std::vector<MountedVolume>& volumes) {
  if (volumes.empty()) return {};
  std::string names;
  std::string commands;
  for (const MountedVolume& v : volumes) {
    if (!names.empty()) {
      names += ", ";
      commands += ", ";
    }
    names += std::string(1, v.letter) + ": (" + (v.fileSystem.empty() ? "file system" : v.fileSystem) + ")";
    commands += std::string("\"mountvol ") + v.letter + ": /p\"";
  }
  const bool one = volumes.size() == 1;
  return std::string(one ? "volume " : "volumes ") + names + " on this drive " + (one ? "is" : "are") +
         " mounted: writing raw sectors would destroy " + (one ? "its" : "their") +
         " file system. Save what you need from " + (one ? "it" : "them") +
         ", close the programs that use " + (one ? "it" : "them") +
         ", then dismount and remove the drive letter (Disk Management: Change Drive Letter and Paths, Remove; or " +
         commands + " in an administrator command prompt) and try again";
}

}  // namespace zorv::platform
