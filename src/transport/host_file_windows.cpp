#ifdef _WIN32

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "transport/host_file.h"

namespace zorv {

namespace {

std::wstring widePath(const std::string& path) {
  if (path.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), out.data(), n);
  return out;
}

std::string errorText(DWORD err) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n ? std::string(text, n) : "Windows error " + std::to_string(err);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
  return out;
}

std::string lastErrorText() { return errorText(GetLastError()); }

HANDLE asHandle(void* h) { return static_cast<HANDLE>(h); }

OVERLAPPED at(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

constexpr size_t kMaxChunk = 1u << 30;  // ReadFile/WriteFile take a DWORD length

}  // namespace

HostFile::~HostFile() { close(); }
HostFile::HostFile(HostFile&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
HostFile& HostFile::operator=(HostFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void HostFile::close() {
  if (handle_) CloseHandle(asHandle(handle_));
  handle_ = nullptr;
}

bool HostFile::isOpen() const { return handle_ != nullptr; }

std::optional<HostFile> HostFile::open(const std::string& path, Open how, OpenError& error) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  switch (how) {
    case Open::ReadOnly: access = GENERIC_READ; break;
    case Open::ReadWrite: break;
    case Open::CreateNew: disposition = CREATE_NEW; break;
    case Open::OpenOrCreate: disposition = OPEN_ALWAYS; break;
    case Open::Truncate: access = GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
  }
  // Every sharing mode: other processes read, write and replace the bay's
  // files while this one has them open, as on POSIX systems.
  HANDLE h = CreateFileW(widePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    error.text = errorText(err);
    error.notFound = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    error.alreadyExists = err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS;
    return std::nullopt;
  }
  HostFile file;
  file.handle_ = h;
  return file;
}

std::string HostFile::readAt(uint8_t* out, size_t length, uint64_t offset) const {
  size_t done = 0;
  while (done < length) {
    OVERLAPPED o = at(offset + done);
    DWORD want = static_cast<DWORD>(std::min(length - done, kMaxChunk));
    DWORD got = 0;
    if (!ReadFile(asHandle(handle_), out + done, want, &got, &o)) {
      DWORD err = GetLastError();
      if (err != ERROR_HANDLE_EOF) return errorText(err);
      got = 0;
    }
    if (got == 0) {  // past the end: what is not there reads as zeros
      std::memset(out + done, 0, length - done);
      break;
    }
    done += got;
  }
  return {};
}

std::string HostFile::writeAt(const uint8_t* in, size_t length, uint64_t offset) const {
  size_t done = 0;
  while (done < length) {
    OVERLAPPED o = at(offset + done);
    DWORD want = static_cast<DWORD>(std::min(length - done, kMaxChunk));
    DWORD put = 0;
    if (!WriteFile(asHandle(handle_), in + done, want, &put, &o)) return lastErrorText();
    if (put == 0) return errorText(ERROR_DISK_FULL);
    done += put;
  }
  return {};
}

std::string HostFile::size(uint64_t& bytes) const {
  LARGE_INTEGER n{};
  if (!GetFileSizeEx(asHandle(handle_), &n)) return lastErrorText();
  bytes = static_cast<uint64_t>(n.QuadPart);
  return {};
}

std::string HostFile::resize(uint64_t bytes) const {
  // Sparse, so that a large drive costs nothing until written; where the file
  // system has no sparse files the space is simply allocated.
  DWORD unused = 0;
  DeviceIoControl(asHandle(handle_), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
  if (!SetFileInformationByHandle(asHandle(handle_), FileEndOfFileInfo, &end, sizeof end)) return lastErrorText();
  return {};
}

std::string HostFile::syncData() const {
  return FlushFileBuffers(asHandle(handle_)) ? std::string() : lastErrorText();
}

void HostFile::lock(bool exclusive) const {
  OVERLAPPED o{};
  LockFileEx(asHandle(handle_), exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD, &o);
}

void HostFile::unlock() const {
  OVERLAPPED o{};
  UnlockFileEx(asHandle(handle_), 0, MAXDWORD, MAXDWORD, &o);
}

void* HostFile::map(size_t bytes, bool writable) const {
  HANDLE mapping = CreateFileMappingW(asHandle(handle_), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                                      static_cast<DWORD>(uint64_t{bytes} >> 32), static_cast<DWORD>(bytes), nullptr);
  if (!mapping) return nullptr;
  void* view = MapViewOfFile(mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, bytes);
  CloseHandle(mapping);  // the view keeps the mapping
  return view;
}

void HostFile::unmap(void* address, size_t) {
  if (address) UnmapViewOfFile(address);
}

std::string replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? std::string()
             : lastErrorText();
}

std::string publishNewFile(const std::string& from, const std::string& to) {
  if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) return {};
  DWORD err = GetLastError();
  return err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS ? std::string() : errorText(err);
}

std::string ownExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a longer buffer
  }
  int bytes = WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), out.data(), bytes, nullptr, nullptr);
  return out;
}

uint64_t hostProcessId() { return GetCurrentProcessId(); }

}  // namespace zorv

#endif
