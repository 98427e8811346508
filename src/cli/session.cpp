#include "cli/session.h"

#include "cli/command_registry.h"
#include "discovery/device_backend.h"
#include "discovery/enumerate.h"

namespace zorv::cli {

std::vector<RegisteredCommand>& commandRegistry() {
  static std::vector<RegisteredCommand> registry;
  return registry;
}

void ConsoleUserInterface::messageBox(std::string_view text, BoxIcon icon, std::string_view) {
  err_ << "box(" << boxIconName(icon) << "): " << text << '\n';
}

bool ConsoleUserInterface::askYesNo(std::string_view text, std::string_view, BoxIcon icon) {
  err_ << "box(" << boxIconName(icon) << "): " << text << (yes ? " [yes]" : " [no]") << '\n';
  return yes;
}

bool ConsoleUserInterface::askGoOn(std::string_view text) {
  err_ << "box(question): " << text << (yes ? " [Go On]" : " [Cancel]") << '\n';
  return yes;
}

std::optional<std::string> ConsoleUserInterface::chooseOpenFile(std::string_view, std::string_view) {
  if (files.empty()) return std::nullopt;
  std::string f = files.front();
  files.erase(files.begin());
  return f;
}

std::vector<std::string> ConsoleUserInterface::chooseOpenFiles(std::string_view, std::string_view) {
  std::vector<std::string> out;
  out.swap(files);
  return out;
}

std::optional<std::string> ConsoleUserInterface::chooseSaveFile(std::string_view, std::string_view,
                                                                std::string_view suggestedName) {
  if (files.empty()) return std::string(suggestedName);
  std::string f = files.front();
  files.erase(files.begin());
  return f;
}

void StreamSink::append(std::string_view text, MessageKind) {
  out_ << text;
  out_.flush();
}

Session::Session(std::ostream& out, std::ostream& err) : out_(out), err_(err), ui_(err), paneSink_(out) {}
Session::~Session() = default;

DevicePort* Session::port() {
  if (port_) return port_.get();
  std::string error;
  port_ = openDeviceBackend(simDir, error);
  if (!port_) {
    err_ << "zorvctl: " << error << '\n';
    fail(kExitUsage);
  } else if (!error.empty()) {
    err_ << "zorvctl: " << error << '\n';  // a setting the backend ignored
  }
  return port_.get();
}

Context* Session::context() {
  if (context_) return context_.get();
  DevicePort* p = port();
  if (!p) return nullptr;
  ui_.yes = yes;
  context_ = std::make_unique<Context>(*p, ui_, clock_, paneSink_);
  applyStartupDefaults(*context_);
  return context_.get();
}

Context* Session::enumeratedContext() {
  Context* ctx = context();
  if (!ctx) return nullptr;
  if (!enumerated_) {
    enumerated_ = true;
    ctx->fgSkipModelCheck = skipModelCheck ? 1 : 0;
    EnumerateDrives(*ctx);
    if (driveNumber) {
      if (!selectPhysicalDrive(*ctx, *driveNumber)) {
        err_ << "zorvctl: Physical Drive " << *driveNumber << " is not an accepted drive\n";
        fail(kExitUsage);
        return nullptr;
      }
    }
  }
  return ctx;
}

int runZorvctl(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Session session(out, err);
  CLI::App app{"zorvctl: the command-line face of the Zorv SSD engineering and service tool"};
  app.set_help_all_flag("--help-all", "Show every command's help");
  app.require_subcommand(1);
  app.add_option("--sim", session.simDir, "Use the simulated drive bay stored in DIR (created when missing)")
      ->type_name("DIR");
  app.add_option("--drive", session.driveNumber, "Select Physical Drive N after enumeration")->type_name("N");
  app.add_flag("--yes", session.yes, "Answer yes to every question");
  app.add_flag("--json", session.json, "Machine-readable output where a command has structured results");
  app.add_flag("--skip-model-check", session.skipModelCheck, "Accept every drive that answers IDENTIFY DEVICE");
  for (const RegisteredCommand& c : commandRegistry()) c.install(app, session);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
  }
  return session.exitCode;
}

}  // namespace zorv::cli
