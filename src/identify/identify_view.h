#pragma once
// What the identify page shows and does, without the window: "Identify"
// reads the selected drive's IDENTIFY DEVICE data into the single view and
// saves it; "Compare Binary" fills the comparison of two saved files and the
// list of differing rows; choosing a difference names the row to show.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "identify/identify_table.h"

namespace zorv {

struct Context;
class UserInterface;

// IDENTIFY DEVICE through CmdBlock (cleared; count 1, device 40h, ECh;
// data-in, PIO, 512 bytes). The data is at the start of SectorBuffer.
bool SendIdentifyDevice(Context& ctx);

// "Identify_<model>_<serial>.bin" for the selected drive. Characters that
// would leave the working directory ('/', '\\') or end the name early (NUL)
// become '_'.
std::string identifyFileName(const std::string& model, const std::string& serial);

// Reads a saved IDENTIFY file (its first 512 bytes; a shorter file gives
// fewer); nothing when it cannot be read.
std::optional<std::vector<uint8_t>> readIdentifyFile(const std::string& path);

// What the integrity word (255) says of 512 bytes of IDENTIFY data: empty
// when its signature is not A5h (the drive keeps no checksum) or when the
// checksum checks out (all 512 bytes sum to 0), otherwise the line saying
// that it does not.
std::string identifyIntegrityText(const std::array<uint8_t, 512>& data);

class IdentifyView {
 public:
  enum class Mode { Empty, Single, Compare };

  struct IdentifyResult {
    bool identified = false;  // the drive answered IDENTIFY DEVICE
    bool saved = false;       // the data file was written
    std::string fileName;     // its path
  };

  // The "Identify" button: the single view of the selected drive's data and
  // its file in dir. On failure the list is left empty and no file written.
  IdentifyResult identify(Context& ctx, const std::string& dir = ".");
  // Its two halves: the single view of the selected drive's data (false and
  // an empty list when the drive does not answer), and the file of the data
  // the view shows.
  bool readDrive(Context& ctx);
  bool saveFile(const Context& ctx, const std::string& dir, std::string& fileName) const;

  // The "Compare Binary" button: asks for the two files with the page's
  // filters. False (and nothing changed) when a choice is cancelled or a
  // file cannot be read.
  bool compareBinary(UserInterface& ui);
  // The comparison of two files already chosen; error names the file that
  // could not be read.
  bool compareFiles(const std::string& first, const std::string& second, std::string* error = nullptr);

  Mode mode() const { return mode_; }
  const std::vector<IdentifyListRow>& rows() const { return rows_; }
  // Drop-down entries; the drop-down is shown only with the comparison.
  const std::vector<std::string>& differences() const { return differences_; }
  bool differencesVisible() const { return mode_ == Mode::Compare; }
  // The 512 bytes the single view shows (valid in Single mode).
  const std::array<uint8_t, 512>& data() const { return data_; }
  // What the page must say beside the single view, one line each ("\r\n"
  // after each): why the drive gave no data, a reply shorter than 512 bytes
  // (its missing words show as FFFFh), an integrity word that does not check
  // out. Empty when the data is whole and sound.
  const std::string& notice() const { return notice_; }

  static constexpr const char* kQuickViewText = "Quick View Of Different Items..";
  static constexpr const char* kFirstFilter = "Binary1(*.bin)||";
  static constexpr const char* kSecondFilter = "Binary2(*.bin)||";

 private:
  void clear();

  Mode mode_ = Mode::Empty;
  std::vector<IdentifyListRow> rows_;
  std::vector<std::string> differences_;
  std::array<uint8_t, 512> data_{};
  std::string notice_;
};

}  // namespace zorv
