#pragma once
// The bay directory on disk and the rules for changing it from several
// threads and processes at once:
//
//   DIR/bay.json        the description (drive_record.h); replaced whole, never
//                       edited in place: a new file is written and renamed over it
//   DIR/bay.lock        whole-file lock: shared for reading, exclusive for changes
//   DIR/bay.seq         a shared 64-bit change counter, bumped after every rename,
//                       so a process learns of another's change with one atomic load
//   DIR/slotN/media.img sparse media of slot N (holes read as zeros)
//   DIR/slotN/spi.bin   the 512 KiB SPI flash image of a family drive in slot N
//
// A bad description (missing, truncated, wrong types) is reported with the
// file and field and is never rewritten.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "sim/drive_record.h"
#include "transport/host_file.h"

namespace zorv::sim {

class BayStore {
 public:
  ~BayStore();
  BayStore(const BayStore&) = delete;
  BayStore& operator=(const BayStore&) = delete;

  // Opens the bay in dir (bay.json must exist; the lock and counter files are
  // made when missing). nullptr with error otherwise.
  static std::unique_ptr<BayStore> open(const std::string& dir, std::string& error);

  // Writes a new bay into dir (made when missing). Fails when dir already
  // holds bay.json.
  static bool create(const std::string& dir, const BayRecord& bay, std::string& error);

  // True when dir does not exist or is an empty directory.
  static bool isNew(const std::string& dir);

  const std::string& dir() const { return dir_; }
  std::string descriptionPath() const;
  std::string slotDir(int slot) const;
  std::string mediaPath(int slot) const;
  std::string spiPath(int slot) const;

  // Changes whenever bay.json is replaced, by any process.
  uint64_t sequence() const;

  // Reads and checks the description under the shared lock; seq is the
  // counter value the content belongs to.
  bool read(BayRecord& out, uint64_t& seq, std::string& error);

  // Under the exclusive lock: re-reads the description, lets fn change it
  // (fn returns false with error to change nothing), writes it atomically and
  // bumps the counter. after/seqAfter receive the written state.
  using Mutation = std::function<bool(BayRecord& bay, std::string& error)>;
  bool mutate(const Mutation& fn, std::string& error, BayRecord* after = nullptr, uint64_t* seqAfter = nullptr);

 private:
  explicit BayStore(std::string dir);
  bool readLocked(BayRecord& out, std::string& error) const;
  bool writeLocked(const BayRecord& bay, std::string& error) const;

  std::string dir_;
  HostFile lockFile_;
  HostFile seqFile_;
  uint64_t* seq_ = nullptr;  // shared mapping of bay.seq
  std::mutex mutex_;         // the file lock does not exclude threads sharing lockFile_
};

// Writes bytes to path atomically: a temporary file beside it, then rename.
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace zorv::sim
