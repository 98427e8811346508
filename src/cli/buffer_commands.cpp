// zorvctl buffer: the buffer viewer page. Its actions run in the order the
// options are listed (start and length first, as the edits), then the dump
// of the window is printed.

#include <memory>

#include "cli/command_registry.h"
#include "cli/identify_cli_support.h"
#include "cli/session.h"
#include "identify/sector_buffer_window.h"

namespace zorv::cli {

namespace {

struct BufferOptions {
  std::string load;
  bool writeBuffer = false;
  bool readBuffer = false;
  bool clear = false;
  std::string start;
  std::string length;
  std::string save;
};

// The edits take exactly four characters; a shorter text on the command line
// is the same number with leading zeros.
std::string asEditText(const std::string& text) { return std::string(4 - std::min<size_t>(4, text.size()), '0') + text; }

void runBuffer(Session& session, const BufferOptions& o) {
  if (!o.start.empty() && !checkEditText(session, "--start", o.start, 4)) return;
  if (!o.length.empty() && !checkEditText(session, "--length", o.length, 4)) return;
  const bool needsDrive = o.writeBuffer || o.readBuffer;
  Context* ctx = needsDrive ? selectedDriveContext(session) : session.context();
  if (!ctx) return;

  // The page's rich-text box: only its last contents are printed.
  StringSink dumpBox;
  BufferViewer viewer(*ctx, dumpBox);
  viewer.open();
  if (!o.start.empty()) viewer.startChanged(asEditText(o.start));
  if (!o.length.empty()) viewer.lengthChanged(asEditText(o.length));

  if (!o.load.empty()) {
    session.ui().files = {o.load};
    if (!viewer.loadFile()) {
      session.fail(kExitUsage);
      return;
    }
  }
  if (o.writeBuffer && !viewer.writeBuffer()) session.fail(kExitFailed);
  if (o.readBuffer && !viewer.readBuffer()) session.fail(kExitFailed);
  if (o.clear) viewer.clearBuffer();
  if (!o.save.empty()) {
    session.ui().files = {o.save};
    if (!viewer.saveFile()) session.fail(kExitFailed);
  }
  viewer.dump();
  session.out() << dumpBox.text();
}

void install(CLI::App& app, Session& session) {
  auto options = std::make_shared<BufferOptions>();
  CLI::App* buffer = app.add_subcommand(
      "buffer", "The buffer viewer: load, WRITE BUFFER, READ BUFFER, clear, save (in that order), then the dump");
  buffer->add_option("--load", options->load, "Load FILE into SectorBuffer from the window start")->type_name("FILE");
  buffer->add_flag("--write-buffer", options->writeBuffer, "ATA Wr Buff: the first 512 bytes to the drive's buffer");
  buffer->add_flag("--read-buffer", options->readBuffer, "ATA Rd Buff: the drive's buffer into the first 512 bytes");
  buffer->add_flag("--clear", options->clear, "Zero the window");
  buffer->add_option("--start", options->start, "Window start, hexadecimal (aligned to 16)")->type_name("HEX");
  buffer->add_option("--length", options->length, "Window length, hexadecimal (FFFF = 10000)")->type_name("HEX");
  buffer->add_option("--save", options->save, "Save the window to FILE (asks before replacing; --yes)")
      ->type_name("FILE");
  buffer->callback([&session, options] { runBuffer(session, *options); });
}

static CommandRegistrar reg{"buffer", &install};

}  // namespace

}  // namespace zorv::cli
