#pragma once
// A real ext4 file system for tests and benchmarks: a file in a fresh
// temporary directory, attached to a free loop device, formatted with
// mkfs.ext4 and mounted at "<dir>/vol mount" (a path with a space). Needs
// root, /dev/loop-control and mkfs.ext4; when one is missing, skipReason says
// which and nothing is left behind. The destructor unmounts, detaches the
// loop device and removes the directory, whatever the test did.
//
//   test::LoopVolume vol(64 << 20);
//   if (!vol.ok()) GTEST_SKIP() << vol.skipReason;
//   bay record: slot 0 media {MediaKind::File, vol.device()}

#include <cstdint>
#include <string>

#include "support/sim_fixture.h"

namespace zorv::test {

class LoopVolume {
 public:
  // Sparse: the backing file's blocks are allocated as the file system
  // first writes them (cheap for tests). Written: every block is written
  // before the file system is made, so that no run pays for allocating
  // them on the host (for benchmarks).
  enum class Backing { Sparse, Written };
  explicit LoopVolume(uint64_t bytes, Backing backing = Backing::Sparse);
  ~LoopVolume();
  LoopVolume(const LoopVolume&) = delete;
  LoopVolume& operator=(const LoopVolume&) = delete;

  bool ok() const { return skipReason.empty(); }
  const std::string& device() const { return device_; }       // "/dev/loopN"
  const std::string& mountPoint() const { return mount_; }
  uint64_t bytes() const { return bytes_; }

  std::string skipReason;

 private:
  TempDir dir_;
  uint64_t bytes_;
  std::string device_;
  std::string mount_;
  int loopFd_ = -1;
  bool mounted_ = false;
};

}  // namespace zorv::test
