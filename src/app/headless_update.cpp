#include "app/headless_update.h"

#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/firmware_entry.h"
#include "discovery/device_backend.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "transport/context.h"

namespace zorv::app {

namespace {

class ConsoleUi : public UserInterface {
 public:
  explicit ConsoleUi(std::ostream& err) : err_(err) {}
  void messageBox(std::string_view text, BoxIcon icon, std::string_view) override {
    err_ << "box(" << boxIconName(icon) << "): " << text << '\n';
  }
  bool askYesNo(std::string_view text, std::string_view, BoxIcon icon) override {
    err_ << "box(" << boxIconName(icon) << "): " << text << " [no]\n";
    return false;
  }
  bool askGoOn(std::string_view text) override {
    err_ << "box(question): " << text << " [Cancel]\n";
    return false;
  }
  std::optional<std::string> chooseOpenFile(std::string_view, std::string_view) override { return std::nullopt; }
  std::vector<std::string> chooseOpenFiles(std::string_view, std::string_view) override { return {}; }
  std::optional<std::string> chooseSaveFile(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }

 private:
  std::ostream& err_;
};

class StreamSink : public MessageSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void append(std::string_view text, MessageKind) override { out_ << text << std::flush; }
  void clear() override {}

 private:
  std::ostream& out_;
};

struct Arguments {
  std::string simDir;
  std::optional<int> drive;
};

bool parse(int argc, const char* const* argv, Arguments& a, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      std::string prefix = std::string(name) + "=";
      if (arg.rfind(prefix, 0) == 0) return arg.substr(prefix.size());
      if (arg == name && i + 1 < argc) return std::string(argv[++i]);
      return std::nullopt;
    };
    if (arg == "--update") continue;
    if (arg.rfind("--sim", 0) == 0) {
      std::optional<std::string> v = value("--sim");
      if (!v || v->empty()) {
        error = "--sim needs a directory";
        return false;
      }
      a.simDir = *v;
      continue;
    }
    if (arg.rfind("--drive", 0) == 0) {
      std::optional<std::string> v = value("--drive");
      char* end = nullptr;
      long n = v ? std::strtol(v->c_str(), &end, 10) : -1;
      if (!v || v->empty() || *end != '\0' || n < 0 || n > 7) {
        error = "--drive needs a physical drive number 0 to 7";
        return false;
      }
      a.drive = static_cast<int>(n);
      continue;
    }
    error = "unknown argument with --update: " + arg;
    return false;
  }
  return true;
}

}  // namespace

bool wantsHeadlessUpdate(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--update") == 0) return true;
  return false;
}

int runHeadlessUpdate(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Arguments args;
  std::string error;
  if (!parse(argc, argv, args, error)) {
    err << "zorv: " << error << "\nusage: zorv [--sim DIR] [--drive N] --update\n";
    return 2;
  }
  std::unique_ptr<DevicePort> port = openDeviceBackend(args.simDir, error);
  if (!port) {
    err << "zorv: " << error << '\n';
    return 2;
  }
  ConsoleUi ui(err);
  StreamSink box(out);
  SystemClock clock;
  NullProgress progress;
  // Without a window, the pane's lines go to stdout with the message box's:
  // a run log in the order things happened.
  Context ctx(*port, ui, clock, box);
  applyStartupDefaults(ctx);
  DriveListModel list;
  DriveListAttachment attach(ctx, list);
  ProbeReport report;
  RunDriveInformationPass(ctx, list, box, readVolumes(*port, mountInfoPathFor(*port, args.simDir)), &report);
  if (args.drive && !selectPhysicalDrive(ctx, *args.drive)) {
    err << "zorv: Physical Drive " << *args.drive << " is not an accepted drive\n";
    return 2;
  }
  if (!ctx.hasSelectedDrive()) {
    std::string why = report.explanation();
    err << "zorv: no drive to update" << (why.empty() ? "" : ": " + why) << '\n';
    AppendMessage(ctx, "Download Fail\r\n", box);
    return 1;
  }
  OnDriveSelected(ctx, list);
  ctx.fgBusy = 1;
  bool ok = runFirmwareUpdate(ctx, progress, box);
  ctx.fgBusy = 0;
  if (!ok) AppendMessage(ctx, "Download Fail\r\n", box);
  return ok ? 0 : 1;
}

}  // namespace zorv::app
