#ifdef _WIN32
// The media on Windows: the same files as on POSIX systems, read and written
// with positioned file I/O (no mapping, no io_uring: queued transfers complete
// through read() and write() at once).

#include <cerrno>
#include <filesystem>

#include "transport/host_file.h"
#include "sim/media.h"

namespace zorv::sim {

namespace {

constexpr uint64_t kSector = 512;

// SimMedia reports errno values; the system's text is lost here, but the
// drive answers a failed transfer the same way whatever the cause.
int asErrno(const std::string& failed) { return failed.empty() ? 0 : EIO; }

class HostFileMedia : public SimMedia {
 public:
  HostFileMedia(HostFile file, uint64_t sectors) : file_(std::move(file)), sectors_(sectors) {}
  uint64_t sectors() const override { return sectors_; }
  int read(uint64_t lba, uint32_t count, uint8_t* out) override {
    return asErrno(file_.readAt(out, uint64_t{count} * kSector, lba * kSector));
  }
  int write(uint64_t lba, uint32_t count, const uint8_t* in) override {
    return asErrno(file_.writeAt(in, uint64_t{count} * kSector, lba * kSector));
  }
  int flush() override { return asErrno(file_.syncData()); }

 private:
  HostFile file_;
  uint64_t sectors_;
};

}  // namespace

uint64_t mediaFileBytes(const std::string& path, std::string& error) {
  HostFile::OpenError openError;
  std::optional<HostFile> file = HostFile::open(path, HostFile::Open::ReadOnly, openError);
  if (!file) {
    error = path + ": cannot be opened (" + openError.text + ")";
    return 0;
  }
  uint64_t bytes = 0;
  std::string failed = file->size(bytes);
  if (!failed.empty()) error = path + ": cannot be sized (" + failed + ")";
  return bytes;
}

std::unique_ptr<SimMedia> openSparseMedia(const std::string& path, uint64_t sectors, std::string& error) {
  HostFile::OpenError openError;
  bool created = false;
  std::optional<HostFile> file = HostFile::open(path, HostFile::Open::ReadWrite, openError);
  if (!file && openError.notFound) {
    file = HostFile::open(path, HostFile::Open::CreateNew, openError);
    created = file.has_value();
    if (!file && openError.alreadyExists) file = HostFile::open(path, HostFile::Open::ReadWrite, openError);
  }
  if (!file) {
    error = path + ": cannot be opened (" + openError.text + ")";
    return nullptr;
  }
  uint64_t bytes = sectors * kSector;
  uint64_t size = 0;
  std::string failed = file->size(size);
  if (!failed.empty()) {
    error = path + ": cannot be sized (" + failed + ")";
    return nullptr;
  }
  if (created || (size == 0 && bytes != 0)) {
    failed = file->resize(bytes);
    if (!failed.empty()) {
      error = path + ": cannot be made " + std::to_string(sectors) + " sectors long (" + failed + ")";
      file.reset();
      std::error_code ec;
      if (created) std::filesystem::remove(path, ec);
      return nullptr;
    }
  } else if (size != bytes) {
    error = path + ": holds " + std::to_string(size) + " bytes, the drive has " + std::to_string(sectors) +
            " sectors (" + std::to_string(bytes) + " bytes)";
    return nullptr;
  }
  return std::make_unique<HostFileMedia>(std::move(*file), sectors);
}

std::unique_ptr<SimMedia> openFileMedia(const std::string& path, uint64_t& sectors, std::string& error) {
  uint64_t bytes = 0;
  if (!measureFileMedia(path, sectors, bytes, error)) return nullptr;
  HostFile::OpenError openError;
  std::optional<HostFile> file = HostFile::open(path, HostFile::Open::ReadWrite, openError);
  if (!file) {
    error = path + ": cannot be opened (" + openError.text + ")";
    return nullptr;
  }
  return std::make_unique<HostFileMedia>(std::move(*file), sectors);
}

}  // namespace zorv::sim

#endif
