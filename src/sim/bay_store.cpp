#include "sim/bay_store.h"

#include <atomic>
#include <filesystem>

#include "sim/bay_file.h"
#include "transport/host_file.h"

namespace zorv::sim {

namespace {

constexpr size_t kSeqFileSize = 4096;
constexpr uint64_t kMaxDescriptionSize = 16 << 20;

bool readWholeFile(const std::string& path, std::string& out, std::string& error) {
  HostFile::OpenError openError;
  std::optional<HostFile> file = HostFile::open(path, HostFile::Open::ReadOnly, openError);
  if (!file) {
    error = path + (openError.notFound ? ": missing" : ": cannot be read (" + openError.text + ")");
    return false;
  }
  uint64_t bytes = 0;
  if (!file->size(bytes).empty() || bytes > kMaxDescriptionSize) {
    error = path + ": larger than 16 MiB";
    return false;
  }
  out.resize(static_cast<size_t>(bytes));
  std::string failed = file->readAt(reinterpret_cast<uint8_t*>(out.data()), out.size(), 0);
  if (!failed.empty()) {
    error = path + ": cannot be read (" + failed + ")";
    return false;
  }
  return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  std::string tmp = path + ".tmp." + std::to_string(hostProcessId());
  std::string failed;
  {
    HostFile::OpenError openError;
    std::optional<HostFile> file = HostFile::open(tmp, HostFile::Open::Truncate, openError);
    if (!file) {
      error = tmp + ": cannot be written (" + openError.text + ")";
      return false;
    }
    failed = file->writeAt(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0);
  }
  if (!failed.empty()) {
    error = tmp + ": cannot be written (" + failed + ")";
    std::error_code ec;
    std::filesystem::remove(tmp, ec);
    return false;
  }
  failed = replaceFile(tmp, path);
  if (!failed.empty()) {
    error = path + ": cannot be replaced (" + failed + ")";
    std::error_code ec;
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}

BayStore::BayStore(std::string dir) : dir_(std::move(dir)) {}

BayStore::~BayStore() { HostFile::unmap(seq_, kSeqFileSize); }

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
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    error = dir + ": not a bay directory";
    return nullptr;
  }
  if (!std::filesystem::exists(store->descriptionPath(), ec)) {
    error = store->descriptionPath() + ": missing";
    return nullptr;
  }
  HostFile::OpenError openError;
  std::string lockPath = dir + "/bay.lock";
  std::optional<HostFile> lockFile = HostFile::open(lockPath, HostFile::Open::OpenOrCreate, openError);
  if (!lockFile) {
    error = lockPath + ": cannot be opened (" + openError.text + ")";
    return nullptr;
  }
  store->lockFile_ = std::move(*lockFile);
  std::string seqPath = dir + "/bay.seq";
  std::optional<HostFile> seqFile = HostFile::open(seqPath, HostFile::Open::OpenOrCreate, openError);
  if (!seqFile) {
    error = seqPath + ": cannot be opened (" + openError.text + ")";
    return nullptr;
  }
  store->seqFile_ = std::move(*seqFile);
  {
    HostFileLock lock(store->lockFile_, true);
    uint64_t bytes = 0;
    std::string failed = store->seqFile_.size(bytes);
    if (failed.empty() && bytes < kSeqFileSize) failed = store->seqFile_.resize(kSeqFileSize);
    if (!failed.empty()) {
      error = seqPath + ": cannot be sized (" + failed + ")";
      return nullptr;
    }
  }
  void* p = store->seqFile_.map(kSeqFileSize, true);
  if (!p) {
    error = seqPath + ": cannot be mapped";
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
  HostFile::OpenError openError;
  std::optional<HostFile> lockFile = HostFile::open(lockPath, HostFile::Open::OpenOrCreate, openError);
  if (!lockFile) {
    error = lockPath + ": cannot be opened (" + openError.text + ")";
    return false;
  }
  HostFileLock lock(*lockFile, true);
  std::string path = dir + "/bay.json";
  if (std::filesystem::exists(path, ec)) {
    error = dir + ": already holds a bay";
    return false;
  }
  return writeFileAtomically(path, serializeBayDescription(bay), error);
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
  HostFileLock lock(lockFile_, false);
  seq = sequence();
  return readLocked(out, error);
}

bool BayStore::mutate(const Mutation& fn, std::string& error, BayRecord* after, uint64_t* seqAfter) {
  std::lock_guard<std::mutex> guard(mutex_);
  HostFileLock lock(lockFile_, true);
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
