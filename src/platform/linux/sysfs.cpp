#include "platform/linux/sysfs.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <cctype>
#include <fstream>
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

bool parseHostBusTypes(std::string_view text, std::vector<HostBusType>& out, std::string& error) {
  std::vector<HostBusType> parsed;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view part = text.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    const size_t eq = part.find('=');
    const std::string_view driver = eq == std::string_view::npos ? part : part.substr(0, eq);
    const std::string_view bus = eq == std::string_view::npos ? std::string_view() : part.substr(eq + 1);
    uint8_t type = 0;
    if (bus == "sata") type = kBusSata;
    else if (bus == "ata") type = kBusAta;
    else if (bus == "usb") type = kBusUsb;
    if (!plausibleName(driver) || type == 0) {
      error = "\"" + std::string(part) + "\" is not DRIVER=sata, DRIVER=ata or DRIVER=usb";
      return false;
    }
    parsed.push_back({std::string(driver), type});
  }
  out = std::move(parsed);
  return true;
}

uint8_t Sysfs::busType(const std::string& name) const {
  if (!plausibleName(name)) return 0;
  std::optional<std::string> device = resolve(root_ + "/block/" + name);
  if (!device) return 0;
  // Only the part below the root: the root's own path says nothing.
  std::optional<std::string> root = resolve(root_);
  std::string_view below(*device);
  if (root && below.substr(0, root->size()) == *root) below.remove_prefix(root->size());
  const uint8_t fromPath = busTypeFromDevicePath(below);
  if (fromPath != 0 || hostBusTypes_.empty()) return fromPath;

  // The SCSI host the disk hangs under ("host<n>", its last such component)
  // and that host's driver.
  std::string_view host;
  size_t at = 0;
  while (at < below.size()) {
    size_t next = below.find('/', at);
    if (next == std::string_view::npos) next = below.size();
    std::string_view component = below.substr(at, next - at);
    if (isNumberedComponent(component, "host")) host = component;
    at = next + 1;
  }
  if (host.empty()) return 0;
  std::ifstream in(root_ + "/class/scsi_host/" + std::string(host) + "/proc_name");
  std::string driver;
  if (!std::getline(in, driver)) return 0;
  for (const HostBusType& h : hostBusTypes_)
    if (h.hostDriver == driver) return h.busType;
  return 0;
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
