#include "platform/linux/sysfs.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <cctype>
#include <memory>

#include "transport/drive_table.h"

namespace zorv::platform {

namespace {

bool isNumberedComponent(std::string_view component, std::string_view prefix) {
  if (component.size() <= prefix.size() || component.substr(0, prefix.size()) != prefix) return false;
  for (char c : component.substr(prefix.size()))
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::optional<std::string> resolve(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}

bool plausibleName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.' && c != ':') return false;
  return true;
}

}  // namespace

uint8_t busTypeFromDevicePath(std::string_view devicePath) {
  bool ata = false;
  size_t pos = 0;
  while (pos < devicePath.size()) {
    size_t next = devicePath.find('/', pos);
    if (next == std::string_view::npos) next = devicePath.size();
    std::string_view component = devicePath.substr(pos, next - pos);
    if (isNumberedComponent(component, "usb")) return kBusUsb;
    if (isNumberedComponent(component, "ata")) ata = true;
    pos = next + 1;
  }
  return ata ? kBusSata : 0;
}

std::string diskNameOf(const std::string& devicePath) {
  std::string path = resolve(devicePath).value_or(devicePath);
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return plausibleName(name) ? name : std::string();
}

uint8_t Sysfs::busType(const std::string& name) const {
  if (!plausibleName(name)) return 0;
  std::optional<std::string> device = resolve(root_ + "/block/" + name);
  if (!device) return 0;
  // Only the part below the root: the root's own path says nothing.
  std::optional<std::string> root = resolve(root_);
  std::string_view below(*device);
  if (root && below.substr(0, root->size()) == *root) below.remove_prefix(root->size());
  return busTypeFromDevicePath(below);
}

std::optional<std::string> Sysfs::genericName(const std::string& name) const {
  if (!plausibleName(name)) return std::nullopt;
  std::string dir = root_ + "/block/" + name + "/device/scsi_generic";
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), &::closedir);
  if (!d) return std::nullopt;
  while (dirent* e = ::readdir(d.get())) {
    std::string_view entry(e->d_name);
    if (isNumberedComponent(entry, "sg")) return std::string(entry);
  }
  return std::nullopt;
}

}  // namespace zorv::platform
