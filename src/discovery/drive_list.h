#pragma once
// The drive list as enumeration sees it: lines, one selection, enabled or
// not. The window shows it as a drop-down list; zorvctl and the tests keep a
// plain model. A window attaches its list to the Context so that rescans
// started from any page (diagnostics, RMA) refill the list the operator sees.

#include <mutex>
#include <string>
#include <vector>

#include "transport/context.h"

namespace zorv {

class DriveListView {
 public:
  virtual ~DriveListView() = default;
  virtual void clear() = 0;
  virtual void insertLine(int position, const std::string& line) = 0;
  virtual int count() const = 0;
  virtual std::string line(int index) const = 0;  // empty when out of range
  virtual void select(int index) = 0;             // without running the selection handler
  virtual int currentSelection() const = 0;       // -1 when nothing is selected
  virtual void setEnabled(bool enabled) = 0;
  virtual bool isEnabled() const = 0;
  virtual void takeFocus() {}
};

// A drive list without a window; safe to read from other threads.
class DriveListModel : public DriveListView {
 public:
  void clear() override;
  void insertLine(int position, const std::string& line) override;
  int count() const override;
  std::string line(int index) const override;
  void select(int index) override;
  int currentSelection() const override;
  void setEnabled(bool enabled) override;
  bool isEnabled() const override;
  std::vector<std::string> lines() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  int selection_ = -1;
  bool enabled_ = true;
};

// Attaches list to ctx (nullptr detaches). The list must outlive the attachment.
void attachDriveList(Context& ctx, DriveListView* list);
DriveListView* attachedDriveList(const Context& ctx);

class DriveListAttachment {
 public:
  DriveListAttachment(Context& ctx, DriveListView& list) : ctx_(ctx) { attachDriveList(ctx, &list); }
  ~DriveListAttachment() { attachDriveList(ctx_, nullptr); }
  DriveListAttachment(const DriveListAttachment&) = delete;
  DriveListAttachment& operator=(const DriveListAttachment&) = delete;

 private:
  Context& ctx_;
};

// The text of the selected drive's line: from the attached list, or built
// from the drive table when no list is attached. Empty with no selection.
std::string selectedDriveLine(Context& ctx);

}  // namespace zorv
