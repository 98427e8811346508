#pragma once
// A temporary directory standing in for /sys and /dev, removed afterwards.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace zorv::platform::test {

class FakeTree {
 public:
  // `inner` becomes part of the root's own path (to prove that the root's
  // name never counts when a path is classified).
  explicit FakeTree(const std::string& inner = "tree") {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorv-platform-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    root_ = base_ / inner;
    std::filesystem::create_directories(root_ / "sys" / "block");
    std::filesystem::create_directories(root_ / "dev");
  }
  ~FakeTree() {
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }
  FakeTree(const FakeTree&) = delete;
  FakeTree& operator=(const FakeTree&) = delete;

  std::string sys() const { return (root_ / "sys").string(); }
  std::string dev() const { return (root_ / "dev").string(); }

  // /sys/devices/<devicePath>/block/<name> with /sys/block/<name> linking
  // to it, as the kernel lays it out; `generic` adds device/scsi_generic/<generic>.
  void addDisk(const std::string& name, const std::string& devicePath, const std::string& generic = "") {
    std::filesystem::path sysDir = root_ / "sys";
    std::filesystem::path scsiDevice = sysDir / "devices" / devicePath;
    std::filesystem::path block = scsiDevice / "block" / name;
    std::filesystem::create_directories(block);
    std::filesystem::create_directory_symlink(std::filesystem::relative(block, sysDir / "block"),
                                              sysDir / "block" / name);
    std::filesystem::create_directory_symlink("../..", block / "device");
    if (!generic.empty()) std::filesystem::create_directories(scsiDevice / "scsi_generic" / generic);
  }

  // A regular file where a device node would be.
  std::string addNode(const std::string& name) {
    std::filesystem::path p = root_ / "dev" / name;
    std::ofstream(p) << "not a device";
    return p.string();
  }

 private:
  std::filesystem::path base_;
  std::filesystem::path root_;
};

}  // namespace zorv::platform::test
