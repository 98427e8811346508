#include "sim/bay_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "sim/bay_file.h"

namespace zorv::sim {

namespace {

constexpr size_t kSeqFileSize = 4096;
constexpr off_t kMaxDescriptionSize = 16 << 20;

std::string errnoText(int err) { return std::strerror(err); }

// Holds flock(2) for a scope.
class FileLock {
 public:
  FileLock(int fd, int how) : fd_(fd) {
    while (::flock(fd_, how) != 0 && errno == EINTR) {
    }
  }
  ~FileLock() { ::flock(fd_, LOCK_UN); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

bool readWholeFile(const std::string& path, std::string& out, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = path + (errno == ENOENT ? ": missing" : ": cannot be read (" + errnoText(errno) + ")");
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size > kMaxDescriptionSize) {
    ::close(fd);
    error = path + ": larger than 16 MiB";
    return false;
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  ::close(fd);
  return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = tmp + ": cannot be written (" + errnoText(errno) + ")";
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = tmp + ": cannot be written (" + errnoText(n < 0 ? errno : ENOSPC) + ")";
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    error = tmp + ": cannot be written (" + errnoText(errno) + ")";
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    error = path + ": cannot be replaced (" + errnoText(errno) + ")";
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

BayStore::BayStore(std::string dir) : dir_(std::move(dir)) {}

BayStore::~BayStore() {
  if (seq_) ::munmap(seq_, kSeqFileSize);
  if (seqFd_ >= 0) ::close(seqFd_);
  if (lockFd_ >= 0) ::close(lockFd_);
}

std::string BayStore::descriptionPath() const { return dir_ + "/bay.json"; }
std::string BayStore::slotDir(int slot) const { return dir_ + "/slot" + std::to_string(slot); }
std::string BayStore::mediaPath(int slot) const { return slotDir(slot) + "/media.img"; }
std::string BayStore::spiPath(int slot) const { return slotDir(slot) + "/spi.bin"; }

bool BayStore::isNew(const std::string& dir) {
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) return !ec;
  return std::filesystem::is_directory(dir, ec) && std::filesystem::is_empty(dir, ec) && !ec;
}

std::unique_ptr<BayStore> BayStore::open(const std::string& dir, std::string& error) {
  std::unique_ptr<BayStore> store(new BayStore(dir));
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = dir + ": not a bay directory";
    return nullptr;
  }
  if (::access(store->descriptionPath().c_str(), F_OK) != 0) {
    error = store->descriptionPath() + ": missing";
    return nullptr;
  }
  std::string lockPath = dir + "/bay.lock";
  store->lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (store->lockFd_ < 0) {
    error = lockPath + ": cannot be opened (" + errnoText(errno) + ")";
    return nullptr;
  }
  std::string seqPath = dir + "/bay.seq";
  store->seqFd_ = ::open(seqPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (store->seqFd_ < 0) {
    error = seqPath + ": cannot be opened (" + errnoText(errno) + ")";
    return nullptr;
  }
  {
    FileLock lock(store->lockFd_, LOCK_EX);
    struct stat sst {};
    if (::fstat(store->seqFd_, &sst) != 0 ||
        (sst.st_size < static_cast<off_t>(kSeqFileSize) && ::ftruncate(store->seqFd_, kSeqFileSize) != 0)) {
      error = seqPath + ": cannot be sized (" + errnoText(errno) + ")";
      return nullptr;
    }
  }
  void* p = ::mmap(nullptr, kSeqFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, store->seqFd_, 0);
  if (p == MAP_FAILED) {
    error = seqPath + ": cannot be mapped (" + errnoText(errno) + ")";
    return nullptr;
  }
  store->seq_ = static_cast<uint64_t*>(p);
  return store;
}

bool BayStore::create(const std::string& dir, const BayRecord& bay, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    error = dir + ": cannot be created (" + ec.message() + ")";
    return false;
  }
  std::string lockPath = dir + "/bay.lock";
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = lockPath + ": cannot be opened (" + errnoText(errno) + ")";
    return false;
  }
  bool ok = false;
  {
    FileLock lock(fd, LOCK_EX);
    std::string path = dir + "/bay.json";
    if (::access(path.c_str(), F_OK) == 0) {
      error = dir + ": already holds a bay";
    } else {
      ok = writeFileAtomically(path, serializeBayDescription(bay), error);
    }
  }
  ::close(fd);
  return ok;
}

uint64_t BayStore::sequence() const { return std::atomic_ref<uint64_t>(*seq_).load(std::memory_order_acquire); }

bool BayStore::readLocked(BayRecord& out, std::string& error) const {
  std::string text;
  std::string path = descriptionPath();
  if (!readWholeFile(path, text, error)) return false;
  return parseBayDescription(text, path, out, error);
}

bool BayStore::writeLocked(const BayRecord& bay, std::string& error) const {
  return writeFileAtomically(descriptionPath(), serializeBayDescription(bay), error);
}

bool BayStore::read(BayRecord& out, uint64_t& seq, std::string& error) {
  std::lock_guard<std::mutex> guard(mutex_);
  FileLock lock(lockFd_, LOCK_SH);
  seq = sequence();
  return readLocked(out, error);
}

bool BayStore::mutate(const Mutation& fn, std::string& error, BayRecord* after, uint64_t* seqAfter) {
  std::lock_guard<std::mutex> guard(mutex_);
  FileLock lock(lockFd_, LOCK_EX);
  BayRecord bay;
  if (!readLocked(bay, error)) return false;
  try {
    if (!fn(bay, error)) return false;
  } catch (const std::exception& e) {
    error = std::string("bay change failed: ") + e.what();
    return false;
  }
  if (!writeLocked(bay, error)) return false;
  uint64_t seq = std::atomic_ref<uint64_t>(*seq_).fetch_add(1, std::memory_order_acq_rel) + 1;
  if (after) *after = std::move(bay);
  if (seqAfter) *seqAfter = seq;
  return true;
}

}  // namespace zorv::sim
