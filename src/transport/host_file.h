#pragma once
// The few file services of the host that the bay's files need beyond the C++
// library: positioned reads and writes, sizing, whole-file locks between
// processes, shared mappings and an atomic replace. One implementation for
// POSIX systems and one for Windows; what they report on failure is the
// system's own error text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zorv {

class HostFile {
 public:
  enum class Open {
    ReadOnly,     // must exist
    ReadWrite,    // must exist
    CreateNew,    // read-write; fails when it exists (alreadyExists() then)
    OpenOrCreate, // read-write
    Truncate,     // write, made empty or new
  };

  HostFile() = default;
  ~HostFile();
  HostFile(HostFile&& other) noexcept;
  HostFile& operator=(HostFile&& other) noexcept;
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;

  // On failure: an empty optional, error the system's text; notFound and
  // alreadyExists tell the two cases callers act on.
  struct OpenError {
    std::string text;
    bool notFound = false;
    bool alreadyExists = false;
  };
  static std::optional<HostFile> open(const std::string& path, Open how, OpenError& error);

  // Reads length bytes at offset; what lies past the end reads as zeros.
  // Empty on success, else the system's error text.
  std::string readAt(uint8_t* out, size_t length, uint64_t offset) const;
  std::string writeAt(const uint8_t* in, size_t length, uint64_t offset) const;
  std::string size(uint64_t& bytes) const;
  std::string resize(uint64_t bytes) const;  // new space reads as zeros (sparse where the system can)
  std::string syncData() const;

  // Blocks until the whole-file lock is held: shared for readers, exclusive
  // for writers. Between processes only; threads of one process must
  // exclude each other themselves.
  void lock(bool exclusive) const;
  void unlock() const;

  // Maps the first bytes of the file into memory, shared with every other
  // process that maps it; nullptr when it cannot be mapped.
  void* map(size_t bytes, bool writable) const;
  static void unmap(void* address, size_t bytes);

  bool isOpen() const;

 private:
  void close();
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Holds a HostFile's lock for a scope.
class HostFileLock {
 public:
  HostFileLock(const HostFile& file, bool exclusive) : file_(file) { file_.lock(exclusive); }
  ~HostFileLock() { file_.unlock(); }
  HostFileLock(const HostFileLock&) = delete;
  HostFileLock& operator=(const HostFileLock&) = delete;

 private:
  const HostFile& file_;
};

// Renames from over to, replacing to when it exists (atomically where the
// system can). Empty on success, else the system's error text.
std::string replaceFile(const std::string& from, const std::string& to);

// Gives the complete file from the name to, unless to exists already (then
// the file there is kept, and that is no error). from is left for the caller
// to remove. Empty on success, else the system's error text.
std::string publishNewFile(const std::string& from, const std::string& to);

// The path by which this program's own executable file can be read (the
// one-file updater reads the package appended to it).
std::string ownExecutablePath();

// This process's id, for names of temporary files.
uint64_t hostProcessId();

}  // namespace zorv
