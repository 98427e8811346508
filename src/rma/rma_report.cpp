#include "rma/rma_report.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "transport/host_file.h"
#include "transport/message.h"

namespace zorv::rma {

namespace {

#ifndef _WIN32
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; false when the close reports a failed write.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}
#endif

}  // namespace

std::string reportFileName(const std::tm& utcDate) {
  return formatText("RmaReport%02d%02d.csv", utcDate.tm_mon + 1, utcDate.tm_mday);
}

const std::string& reportHeader() {
  static const std::string kHeader =
      "ModelName,Serial Number,Save SMART,Thermal,Merge TBL BB,Preb2,Update FW,Remove & Plug,Set RMA Flag,VC "
      "OBB,"
      "Clean RMA Flag,RD/WR test,\r\n";
  return kHeader;
}

ReportWrite appendReportLine(const std::string& directory, const std::tm& utcDate, const std::string& line) {
  ReportWrite w;
  std::filesystem::path dir =
      directory.empty() ? std::filesystem::path(".") : std::filesystem::path(directory);
  w.path = (dir / reportFileName(utcDate)).string();
#ifdef _WIN32
  // Appended under the file's lock, as on POSIX systems; the size is taken
  // under the lock, as another station may have written the header meanwhile.
  HostFile::OpenError openError;
  std::optional<HostFile> file = HostFile::open(w.path, HostFile::Open::OpenOrCreate, openError);
  if (!file) {
    w.error = "cannot open: " + openError.text;
    return w;
  }
  HostFileLock lock(*file, true);
  uint64_t size = 0;
  std::string failure = file->size(size);
  if (!failure.empty()) {
    w.error = "cannot examine: " + failure;
    return w;
  }
  std::string text = size == 0 ? reportHeader() + line : line;
  failure = file->writeAt(reinterpret_cast<const uint8_t*>(text.data()), text.size(), size);
  if (!failure.empty()) {
    w.error = "cannot write: " + failure;
    return w;
  }
  w.written = true;
  return w;
#else
  auto failed = [&w](const char* what) {
    w.error = std::string(what) + ": " + std::strerror(errno);
    return w;
  };
  // Non-blocking: a FIFO in the report's place must not hang the station.
  Descriptor fd(::open(w.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644));
  if (fd.get() < 0) return failed("cannot open");
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failed("cannot examine");
  if (!S_ISREG(st.st_mode)) {
    w.error = "not a regular file";
    return w;
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return failed("cannot lock");
  }
  // Size under the lock: another station may have written the header meanwhile.
  if (::fstat(fd.get(), &st) != 0) return failed("cannot examine");
  std::string text = st.st_size == 0 ? reportHeader() + line : line;
  if (!writeAll(fd.get(), text)) return failed("cannot write");
  if (!fd.close()) return failed("cannot write");
  w.written = true;
  return w;
#endif
}

}  // namespace zorv::rma
