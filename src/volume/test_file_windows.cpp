// The test file on Windows. The folder is held open without delete sharing,
// so it cannot be renamed or replaced while the test runs; the folder and
// the file are opened as themselves, never through a reparse point, and must
// lie on the volume of the mount point.
#ifdef _WIN32

#include <windows.h>

#include "transport/windows_text.h"
#include "volume/test_file.h"

namespace zorv {

namespace {

HANDLE handleOf(NativeFile f) { return static_cast<HANDLE>(f); }

int lastError() { return static_cast<int>(GetLastError()); }

bool describe(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(h, &info) != 0;
}

// The folder test as a directory of the mount's own volume.
NativeFile openFolderOnVolume(const std::string& mount, int& error) {
  HANDLE root = CreateFileW(wideText(mount).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (root == INVALID_HANDLE_VALUE) {
    error = lastError();
    return kNoFile;
  }
  BY_HANDLE_FILE_INFORMATION rootInfo{};
  const bool rootKnown = describe(root, rootInfo);
  CloseHandle(root);
  HANDLE folder =
      CreateFileW(wideText(testFolderPath(mount)).c_str(), FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    error = lastError();
    return kNoFile;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!rootKnown || !describe(folder, info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      info.dwVolumeSerialNumber != rootInfo.dwVolumeSerialNumber) {
    CloseHandle(folder);
    error = ERROR_DIRECTORY;
    return kNoFile;
  }
  return folder;
}

// A regular file of its own, on the folder's volume.
bool isOwnRegularFile(HANDLE file, NativeFile folder) {
  BY_HANDLE_FILE_INFORMATION info{}, folderInfo{};
  return describe(file, info) && describe(handleOf(folder), folderInfo) &&
         !(info.dwFileAttributes &
           (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) &&
         info.nNumberOfLinks == 1 && info.dwVolumeSerialNumber == folderInfo.dwVolumeSerialNumber;
}

}  // namespace

void closeNativeFile(NativeFile file) {
  if (file != kNoFile) CloseHandle(handleOf(file));
}

bool volumeFreeBytes(const std::string& mount, uint64_t& bytes, int& error) {
  ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
  if (!GetDiskFreeSpaceExW(wideText(mount).c_str(), &freeToCaller, &total, &totalFree)) {
    error = lastError();
    return false;
  }
  bytes = freeToCaller.QuadPart;
  error = 0;
  return true;
}

NativeFile openTestFolder(const std::string& mount, bool create, int& error) {
  if (create && !CreateDirectoryW(wideText(testFolderPath(mount)).c_str(), nullptr)) {
    error = lastError();
    if (error != ERROR_ALREADY_EXISTS) return kNoFile;
  }
  return openFolderOnVolume(mount, error);
}

NativeFile openTestFile(const std::string& mount, NativeFile folder, bool writeThrough, int& error) {
  DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_OVERLAPPED | FILE_FLAG_OPEN_REPARSE_POINT;
  if (writeThrough) flags |= FILE_FLAG_WRITE_THROUGH;
  HANDLE file = CreateFileW(wideText(testFilePath(mount)).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = lastError();
    return kNoFile;
  }
  // A second name for the file (a hard link) would let the test write into
  // a file somewhere else on the volume.
  if (!isOwnRegularFile(file, folder)) {
    CloseHandle(file);
    error = ERROR_INVALID_PARAMETER;
    return kNoFile;
  }
  return file;
}

bool deleteLeftoverTestFile(const std::string& mount) {
  int error = 0;
  NativeFile folder = openFolderOnVolume(mount, error);
  if (folder == kNoFile) return false;
  bool deleted = false;
  HANDLE file = CreateFileW(wideText(testFilePath(mount)).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    // Deleted through the handle just checked: the very file, never one
    // put in its place meanwhile.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (isOwnRegularFile(file, folder))
      deleted = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    CloseHandle(file);
  }
  closeNativeFile(folder);
  return deleted;
}

}  // namespace zorv

#endif  // _WIN32
