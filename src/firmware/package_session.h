#pragma once
// The firmware package tab's package logic, without a window: "Open QZ"
// loads a package and fills the list, "Download QZ" chooses the row for the
// selected drive's HWID. The window and zorvctl show what this appends to the
// tab's message box and the list it returns.
//
// A load either replaces the package, the table and the list together or
// changes nothing: a package that fails to unpack or parse leaves the last
// good one in place, so its rows never point into released content.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/package.h"
#include "transport/context.h"

namespace zorv::firmware {

constexpr std::string_view kQzFileFilter = "QZ Files(*.qz)|*.*||";

struct ListColumn {
  std::string_view title;
  int width;  // pixels
};

// Columns when the tab is created and after a package was loaded.
std::array<ListColumn, 3> initialQzColumns(uint16_t usModelClass);
std::array<ListColumn, 3> loadedQzColumns(uint16_t usModelClass);

struct QzListRow {
  std::string firmwareId;  // ID bytes in hex, a blank after every fourth byte
  std::string offset;      // "%08X"
  std::string modelName;   // non-printable bytes escaped (printableText)
};

class QzPackageTab {
 public:
  // "Open QZ": asks for a file through ctx.ui and loads it.
  bool openQz(Context& ctx, MessageSink& box);
  // The load behind "Open QZ" for a file already chosen (empty path = cancelled).
  bool loadFile(Context& ctx, const std::string& path, MessageSink& box);
  bool loadBytes(Context& ctx, std::span<const uint8_t> package, uint16_t usModelClass, MessageSink& box);

  // Reads the loaded table again with IDs as long as usModelClass says, when
  // it was read with the other class: the ID length is always that of the
  // drive selected when an operation runs, not when the package was opened.
  void readWithModelClass(uint16_t usModelClass);

  // "Download QZ", after the drive's HWID was read: appends the tab's texts
  // and returns the row whose image is to be downloaded. The HWID is that of
  // the selected drive (9 or 16 bytes by its model class).
  std::optional<int> chooseForDownload(Context& ctx, std::span<const uint8_t> hwid, MessageSink& box);

  const FirmwareTable& table() const { return table_; }
  int rowCount() const { return rowCount_; }
  uint16_t modelClass() const { return modelClass_; }
  std::span<const uint8_t> content() const { return content_; }
  std::span<const uint8_t> image(int row) const;
  std::vector<QzListRow> listRows() const;
  std::array<ListColumn, 3> columns() const;
  bool loaded() const { return loaded_; }
  // The firmware version row's image carries in its identity block (non-
  // printable bytes escaped), or "unreadable" when it holds no intact block:
  // what the package would put on a drive, shown before a download.
  std::string imageVersion(int row) const;

  // Texts the last load formatted for diagnosis (header and stream position,
  // sum failure, one block per row), and why it failed.
  const std::string& lastDiagnostic() const { return diagnostic_; }
  const std::string& lastFailure() const { return failure_; }

 private:
  std::vector<uint8_t> content_;
  FirmwareTable table_{};
  int rowCount_ = 0;
  uint16_t modelClass_ = 0;
  bool loaded_ = false;
  std::string diagnostic_;
  std::string failure_;
};

// Reads a whole file of at most maxBytes; false when it cannot be read.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes, std::string& error);

}  // namespace zorv::firmware
