#include "discovery/drive_list.h"

#include <algorithm>
#include <unordered_map>

#include "discovery/enumerate.h"

namespace zorv {

void DriveListModel::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  selection_ = -1;
}

void DriveListModel::insertLine(int position, const std::string& line) {
  std::lock_guard lock(mutex_);
  size_t at = std::clamp<size_t>(static_cast<size_t>(std::max(position, 0)), 0, lines_.size());
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
  if (selection_ >= static_cast<int>(at)) ++selection_;
}

int DriveListModel::count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(lines_.size());
}

std::string DriveListModel::line(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= static_cast<int>(lines_.size())) return {};
  return lines_[static_cast<size_t>(index)];
}

void DriveListModel::select(int index) {
  std::lock_guard lock(mutex_);
  selection_ = (index >= 0 && index < static_cast<int>(lines_.size())) ? index : -1;
}

int DriveListModel::currentSelection() const {
  std::lock_guard lock(mutex_);
  return selection_;
}

void DriveListModel::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

bool DriveListModel::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

std::vector<std::string> DriveListModel::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

namespace {

std::mutex gAttachMutex;
std::unordered_map<const Context*, DriveListView*>& attachments() {
  static std::unordered_map<const Context*, DriveListView*> map;
  return map;
}

}  // namespace

void attachDriveList(Context& ctx, DriveListView* list) {
  std::lock_guard lock(gAttachMutex);
  if (list) {
    attachments()[&ctx] = list;
  } else {
    attachments().erase(&ctx);
  }
}

DriveListView* attachedDriveList(const Context& ctx) {
  std::lock_guard lock(gAttachMutex);
  auto it = attachments().find(&ctx);
  return it == attachments().end() ? nullptr : it->second;
}

std::string selectedDriveLine(Context& ctx) {
  if (!ctx.hasSelectedDrive() || ctx.ucDriveCount == kNoDrive || ctx.ucSelDrive >= ctx.ucDriveCount) return {};
  if (DriveListView* list = attachedDriveList(ctx)) return list->line(list->currentSelection());
  return driveListLine(ctx, ctx.ucSelDrive);
}

}  // namespace zorv
