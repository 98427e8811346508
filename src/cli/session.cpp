#include "cli/session.h"

#include "cli/captured_stream.h"
#include "cli/command_registry.h"
#include "cli/json_document.h"
#include "cli/json_text.h"
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

namespace {

// The command as typed: the names of the subcommands CLI11 took, outermost
// first ("" when none was taken).
std::string commandPath(const CLI::App& app) {
  std::string path;
  const CLI::App* at = &app;
  for (;;) {
    std::vector<CLI::App*> taken = at->get_subcommands();
    if (taken.empty()) break;
    at = taken.front();
    if (!path.empty()) path += ' ';
    path += at->get_name();
  }
  return path;
}

// --json may stand anywhere before "--": it is a property of the whole run,
// not of one command, so it is taken out before the command line is parsed.
bool takeJsonFlag(std::vector<const char*>& args) {
  bool json = false;
  for (std::size_t i = 1; i < args.size();) {
    std::string_view a = args[i];
    if (a == "--") break;
    if (a == "--json") {
      json = true;
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return json;
}

int runCommand(std::vector<const char*>& args, Session& session, std::string& command) {
  CLI::App app{"zorvctl: the command-line face of the Zorv SSD engineering and service tool"};
  app.set_help_all_flag("--help-all", "Show every command's help");
  app.footer(kExitStatusTable);
  app.require_subcommand(1);
  app.add_option("--sim", session.simDir, "Use the simulated drive bay stored in DIR (created when missing)")
      ->type_name("DIR");
  app.add_option("--drive", session.driveNumber, "Select Physical Drive N after enumeration")->type_name("N");
  app.add_flag("--yes", session.yes, "Answer yes to every question");
  // Never set by CLI11 (takeJsonFlag removes it first); here for the help.
  bool jsonForHelp = false;
  app.add_flag(
      "--json", jsonForHelp,
      "One JSON document on stdout (schema/zorvctl.schema.json), for every command; may stand anywhere");
  app.add_flag("--skip-model-check", session.skipModelCheck,
               "Accept every drive that answers IDENTIFY DEVICE");
  for (const RegisteredCommand& c : commandRegistry()) c.install(app, session);
  int status = kExitOk;
  try {
    app.parse(static_cast<int>(args.size()), args.data());
    status = session.exitCode;
  } catch (const CLI::ParseError& e) {
    status = app.exit(e, session.out(), session.err()) == 0 ? kExitOk : kExitUsage;
  }
  command = commandPath(app);
  return status;
}

}  // namespace

int runZorvctl(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  std::vector<const char*> args(argv, argv + argc);
  std::string command;
  if (!takeJsonFlag(args)) {
    Session session(out, err);
    return runCommand(args, session, command);
  }
  // Under --json, stdout carries the document alone: what the command
  // writes there for a person goes into its "output"; stderr still shows
  // messages as they come and keeps them for "messages".
  CapturedStream capturedOut(kMaxCapturedText, nullptr);
  CapturedStream capturedErr(kMaxCapturedText, &err);
  int status = kExitOk;
  nlohmann::ordered_json result;
  {
    Session session(capturedOut, capturedErr);
    session.json = true;
    status = runCommand(args, session, command);
    result = session.result();
  }
  out << jsonText(makeJsonDocument(command, status, result, capturedOut.text(), capturedOut.truncated(),
                                   capturedErr.text()))
      << '\n';
  out.flush();
  return status;
}

}  // namespace zorv::cli
