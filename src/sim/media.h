#pragma once
// Where a simulated drive keeps its sectors.
//
// Sparse media (the default): DIR/slotN/media.img, a sparse file the size of
// the drive, mapped for reading (a read is one memcpy; holes read as zeros, so
// a drive of hundreds of GB costs nothing until written) and written with
// pwrite (a full disk then fails the write instead of faulting the mapping).
//
// File media: a regular file or block device named in the bay description
// (for example a loop device), read and written with O_DIRECT; queued
// transfers go to its descriptor through io_uring, so they are real
// asynchronous I/O. Buffers that O_DIRECT cannot take use a second, buffered
// descriptor.

#include <cstdint>
#include <memory>
#include <string>

namespace zorv::sim {

class SimMedia {
 public:
  virtual ~SimMedia() = default;
  virtual uint64_t sectors() const = 0;
  // 0 on success, else an errno value.
  virtual int read(uint64_t lba, uint32_t count, uint8_t* out) = 0;
  virtual int write(uint64_t lba, uint32_t count, const uint8_t* in) = 0;
  virtual int flush() = 0;
  // The descriptor queued transfers are submitted on (io_uring); -1 when the
  // media completes transfers at once in memory.
  virtual int asyncFd() const { return -1; }
  // Whether asyncFd() wants buffers and lengths aligned for O_DIRECT.
  virtual bool asyncNeedsAlignment() const { return false; }
  // O_DIRECT refused a transfer: later ones use the buffered descriptor.
  virtual void directRefused() {}
};

// Opens (creating when missing) the sparse media file of a drive of the
// given size. An existing file of another size is an error, left untouched.
std::unique_ptr<SimMedia> openSparseMedia(const std::string& path, uint64_t sectors, std::string& error);

// Opens a file or block device. sectors: the drive's capacity; 0 takes the
// whole file. A file smaller than the capacity is an error.
std::unique_ptr<SimMedia> openFileMedia(const std::string& path, uint64_t& sectors, std::string& error);

// Bytes of a file or block device (0 with error when it cannot be sized).
uint64_t mediaFileBytes(const std::string& path, std::string& error);

// The size of the media file at path in bytes, and the drive's capacity on
// it: sectors, or all the file holds when sectors is 0. False with error when
// the file cannot be sized or holds fewer sectors.
bool measureFileMedia(const std::string& path, uint64_t& sectors, uint64_t& bytes, std::string& error);

}  // namespace zorv::sim
