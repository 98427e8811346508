#pragma once
// What every zorvctl command works with: the global options, the device
// backend (simulated bay or the OS), one Context, the console user interface
// and the exit status.
//
// Exit status, the same for every command (kExitStatusTable is the help's
// and the README's table).

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "transport/context.h"

namespace zorv::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kExitStatusTable =
    "Exit status (every command):\n"
    "  0  the operation succeeded (a download only once the drive runs the new firmware)\n"
    "  1  it ran and failed: the drive refused or did not answer, a compare or check failed,\n"
    "     a run was stopped\n"
    "  2  usage error or unusable input: bad options, unreadable or malformed files, no drive\n"
    "     or backend to work on";

// Message boxes go to stderr as "box(<icon>): <text>"; questions are answered
// by --yes; file choices come from the arguments a command queues.
class ConsoleUserInterface : public UserInterface {
 public:
  explicit ConsoleUserInterface(std::ostream& err) : err_(err) {}
  void messageBox(std::string_view text, BoxIcon icon, std::string_view caption) override;
  bool askYesNo(std::string_view text, std::string_view caption, BoxIcon icon) override;
  bool askGoOn(std::string_view text) override;
  std::optional<std::string> chooseOpenFile(std::string_view caption, std::string_view filter) override;
  std::vector<std::string> chooseOpenFiles(std::string_view caption, std::string_view filter) override;
  std::optional<std::string> chooseSaveFile(std::string_view caption, std::string_view filter,
                                            std::string_view suggestedName) override;

  bool yes = false;
  std::vector<std::string> files;  // answers to file choices, in order

 private:
  std::ostream& err_;
};

// Writes the pane to a stream as it comes.
class StreamSink : public MessageSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void append(std::string_view text, MessageKind kind) override;
  void clear() override {}

 private:
  std::ostream& out_;
};

class Session {
 public:
  Session(std::ostream& out, std::ostream& err);
  ~Session();

  // Global options.
  std::string simDir;
  std::optional<int> driveNumber;
  bool yes = false;
  bool json = false;  // set before the command runs; see json_document.h
  bool skipModelCheck = false;

  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  // The backend, opened on first use; nullptr (with the reason on stderr and
  // exit status 2) when it cannot be opened.
  DevicePort* port();
  // The context on that backend, without enumeration.
  Context* context();
  // The context after enumeration, with --drive applied. nullptr when the
  // backend cannot be opened or --drive names no accepted drive.
  Context* enumeratedContext();

  ConsoleUserInterface& ui() { return ui_; }
  MessageSink& pane() { return paneSink_; }

  // The command's structured result for the --json document: an object
  // whose fields sit beside the envelope. Commands set it only under --json.
  void setResult(nlohmann::ordered_json result) { result_ = std::move(result); }
  const nlohmann::ordered_json& result() const { return result_; }

  int exitCode = kExitOk;
  void fail(int code) {
    if (exitCode == kExitOk || code == kExitUsage) exitCode = code;
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  ConsoleUserInterface ui_;
  StreamSink paneSink_;
  SystemClock clock_;
  std::unique_ptr<DevicePort> port_;
  std::unique_ptr<Context> context_;
  bool enumerated_ = false;
  nlohmann::ordered_json result_;
};

// Runs zorvctl with the given arguments; returns the exit status. Used by
// main() and by the tests.
int runZorvctl(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace zorv::cli
