#pragma once
// The buffer viewer: a window of SectorBuffer kept on screen as a hex dump,
// moved to and from the controller's buffer with WRITE BUFFER and READ
// BUFFER, loaded from and saved to files, cleared.

#include <cstdint>
#include <string>

#include "identify/identify_text.h"

namespace zorv {

struct Context;

class BufferViewer {
 public:
  static constexpr uint32_t kRefreshLimit = 512;  // longer windows are not refreshed by the timer
  static constexpr int kRefreshMilliseconds = 500;
  static constexpr const char* kFileFilter = "BIN Files (*.bin)|*.bin|";

  // dumpSink is the page's rich-text box.
  BufferViewer(Context& ctx, MessageSink& dumpSink);

  // Opening: start 0, length 512 ("0000", "0200"), refresh on.
  void open();

  // The start and length edits changed. A text of exactly 4 characters is
  // taken (its last character made '0', "FFFF" as a length meaning 10000h);
  // any other text changes nothing. Return the text the edit shows.
  std::string startChanged(std::string text);
  std::string lengthChanged(std::string text);

  // "ATA Wr Buff" / "ATA Rd Buff": the first 512 bytes of SectorBuffer to
  // or from the controller's buffer.
  bool writeBuffer();
  bool readBuffer();
  // "Clear Buffer": the window's bytes become 0.
  void clearBuffer();
  // "Save File": the window's bytes to a chosen file (asks before replacing).
  bool saveFile();
  // "Load File": a chosen file into SectorBuffer from the window start; the
  // part that would run past the end of SectorBuffer is not read.
  bool loadFile();
  // The 500-ms refresh timer.
  void refreshTick();
  // The dump of the current window.
  void dump();

  uint32_t ulBufStart() const { return pane_.ulBufStart; }
  uint32_t ulBufLength() const { return pane_.ulBufLength; }
  bool fgRefreshStopped() const { return refreshStopped_; }
  const std::string& startText() const { return startText_; }
  const std::string& lengthText() const { return lengthText_; }
  // The dump pane with the current window (the console and editor refresh it).
  DumpPane& dumpPane() { return pane_; }

 private:
  Context& ctx_;
  DumpPane pane_;
  bool refreshStopped_ = false;
  std::string startText_ = "0000";
  std::string lengthText_ = "0200";
};

}  // namespace zorv
