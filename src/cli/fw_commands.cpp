// zorvctl fw: the firmware download and the one-file updaters.
//   fw update --package PKG [--row N] | --bin IMG   the tab's "Download QZ" (or a
//             double-click on row N) and "Open Bin", with the option switches
//   fw update                                       the package appended to this
//             program's own file, as a one-file updater's "FW Update" runs it
//   fw append-qz EXE PKG OUT [--skip-model-check]   "Append QZ"
//   fw make-downloader EXE IMG                      "Make FW Downloader"
//   fw lock-model EXE OUT --brand I                 "Model Lock"
//   fw rma-variant EXE OUT --letter L               a copy whose RMA run has variant L
//             ('B': the RMA run updates the firmware from the appended package)
//   fw demo-package OUT                             a package with a newer image
//             for every accepted drive of the bay (demos and tests)

#include <nlohmann/json.hpp>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/session.h"
#include "discovery/brands.h"
#include "firmware/package_download.h"
#include "firmware/image_maker.h"
#include "firmware/package_builder.h"
#include "firmware/updater.h"
#include "diagnostics/info_ssd.h"

namespace zorv::cli {

namespace {

using nlohmann::json;
namespace fw = zorv::firmware;

struct FwOptions {
  std::string package;
  std::string bin;
  int row = -1;
  bool disablePowerDown = false;
  bool abnormalDebug = false;
  bool rs232 = false;
  bool skipModelNameCheck = false;
  std::string exe;
  std::string output;
  std::string image;
  bool appendSkipModelCheck = false;
  int brand = -1;
  std::string letter;
};

void usage(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitUsage);
}

// Where texts go: as they come, or collected for --json.
struct Output {
  explicit Output(Session& session) : session_(session) {}
  MessageSink& sink() { return session_.json ? static_cast<MessageSink&>(collected_) : session_.pane(); }
  std::string text() const { return collected_.text(); }

 private:
  Session& session_;
  StringSink collected_;
};

json downloadJson(const fw::DownloadResult& d) {
  return {{"verdict", fw::downloadVerdictName(d.verdict)},
          {"updated", d.updated()},
          {"upToDate", d.upToDate()},
          {"code", d.code},
          {"checkBits", d.checkBits},
          {"message", d.messageText}};
}

int exitFor(const fw::DownloadResult& d) {
  // A drive that already runs this firmware or a newer one is no failure.
  if (d.updated() || d.upToDate()) return kExitOk;
  // An image that cannot be sent at all is unusable input.
  if (d.verdict == fw::DownloadVerdict::ImageSizeError || d.verdict == fw::DownloadVerdict::ChecksumError)
    return kExitUsage;
  return kExitFailed;
}

void runUpdate(Session& session, const FwOptions& o) {
  if (!o.package.empty() && !o.bin.empty()) return usage(session, "give --package or --bin, not both");
  fw::DownloadSwitches switches;
  switches.disablePowerDown = o.disablePowerDown;
  switches.enableAbnormalDebug = o.abnormalDebug;
  switches.enableRs232 = o.rs232;
  switches.skipModelNameCheck = o.skipModelNameCheck;
  if (!o.bin.empty() && switches.any())
    return usage(session, "\"Open Bin\" clears the option boxes: the switches go with --package");
  if (o.row >= 0 && o.package.empty()) return usage(session, "--row needs --package");

  Output out(session);
  if (session.json) {
    Context* plain = session.context();
    if (!plain) return;
    plain->setMessagePane(out.sink());
  }
  Context* ctx = session.enumeratedContext();
  if (!ctx) return;
  NullProgress progress;
  Context& c = *ctx;
  json result = json::object();

  if (o.package.empty() && o.bin.empty()) {
    // The one-file updater's "FW Update".
    fw::EmbeddedRunResult r = fw::runEmbeddedPackage(c, progress);
    if (!r.succeeded()) AppendMessage(c, "Download Fail\r\n", out.sink());
    if (!r.succeeded() && !r.reason.empty() && !session.json) session.err() << "zorvctl: " << r.reason << '\n';
    result = {{"status", fw::embeddedStatusName(r.status)}, {"updated", r.updated()}, {"row", r.row}};
    if (r.download) result["download"] = downloadJson(*r.download);
    if (!r.succeeded()) {
      bool badInput = r.status == fw::EmbeddedStatus::NoPackage || r.status == fw::EmbeddedStatus::UnpackFailed ||
                      r.status == fw::EmbeddedStatus::OwnFileUnreadable;
      session.fail(badInput ? kExitUsage : r.download ? exitFor(*r.download) : kExitFailed);
    }
  } else if (!c.hasSelectedDrive()) {
    session.err() << "zorvctl: no drive of the brand is attached\n";
    session.fail(kExitFailed);
    result = {{"updated", false}, {"status", "no-drive"}};
  } else {
    std::vector<uint8_t> imageBytes;
    std::span<const uint8_t> image;
    fw::QzPackageTab tab;
    if (!o.package.empty()) {
      if (!tab.loadFile(c, o.package, out.sink())) {
        session.err() << "zorvctl: " << tab.lastFailure() << '\n';
        session.fail(kExitUsage);
        result = {{"updated", false}, {"status", "package-unusable"}};
      } else if (o.row >= 0) {
        // A double-click on a row: its image, without comparing IDs.
        if (o.row >= tab.rowCount()) {
          usage(session, "--row " + std::to_string(o.row) + ": the package has " + std::to_string(tab.rowCount()) +
                             " rows");
        } else {
          image = tab.image(o.row);
        }
      } else if (std::optional<int> row = fw::chooseQzRowForDrive(c, tab, out.sink())) {
        image = tab.image(*row);
        result["row"] = *row;
      } else {
        session.fail(kExitFailed);
        result = {{"updated", false}, {"status", "no-image"}};
      }
    } else if (std::optional<std::vector<uint8_t>> bytes = fw::readBinFile(c, o.bin, out.sink())) {
      imageBytes = std::move(*bytes);
      image = imageBytes;
    } else {
      session.err() << "zorvctl: cannot read " << o.bin << '\n';
      session.fail(kExitUsage);
      result = {{"updated", false}, {"status", "image-unreadable"}};
    }
    if (session.exitCode == kExitOk) {
      fw::TabDownloadResult r = fw::runTabDownload(c, image, switches, out.sink(), progress);
      result["updated"] = r.updated();
      if (r.download) {
        result["download"] = downloadJson(*r.download);
        session.fail(exitFor(*r.download));
      } else {
        result["status"] = "switch-failed";
        session.fail(kExitFailed);
      }
    }
  }
  if (session.json) {
    result["texts"] = out.text();
    session.setResult(result);
  }
}

// The files a command reads must be there before it starts: one that is not
// is unusable input, not a failed run.
bool readable(Session& session, const std::string& path) {
  std::error_code ec;
  std::ifstream in;
  if (std::filesystem::is_regular_file(path, ec)) in.open(path, std::ios::binary);
  if (in.is_open()) return true;
  usage(session, "cannot read " + path);
  return false;
}

void runAppend(Session& session, const FwOptions& o) {
  if (!readable(session, o.exe) || !readable(session, o.package)) return;
  Context* ctx = session.context();
  if (!ctx) return;
  session.ui().files = {o.exe, o.package, o.output};
  switch (fw::appendPackageToExecutable(*ctx, o.appendSkipModelCheck, session.pane())) {
    case fw::AppendStatus::Done:
      break;
    case fw::AppendStatus::AlreadyCarriesPackage:
    case fw::AppendStatus::PackageEmpty:
      session.fail(kExitUsage);
      break;
    default:
      session.fail(kExitFailed);
      break;
  }
}

void runMakeDownloader(Session& session, const FwOptions& o) {
  Context* ctx = session.context();
  if (!ctx) return;
  std::vector<uint8_t> image;
  std::string error;
  if (!fw::readWholeFile(o.image, image, fw::kMaxDownloadImage, error)) return usage(session, error);
  session.ui().files = {o.exe};
  fw::ImageWriteStatus s = fw::writeImageIntoExecutable(*ctx, image);
  if (s == fw::ImageWriteStatus::OpenFailed || s == fw::ImageWriteStatus::MarkerNotFound ||
      s == fw::ImageWriteStatus::TooLarge) {
    session.fail(kExitUsage);
  } else if (s != fw::ImageWriteStatus::Written) {
    session.fail(kExitFailed);
  }
}

void runLockModel(Session& session, const FwOptions& o) {
  Context* ctx = session.context();
  if (!ctx) return;
  if (o.brand < 0 || o.brand >= kBrandCount) return usage(session, "--brand must be 0 to 4");
  if (!readable(session, o.exe)) return;
  session.ui().files = {o.exe, o.output};
  if (!fw::lockModel(*ctx, static_cast<uint8_t>(o.brand), session.pane())) session.fail(kExitFailed);
}

void runRmaVariant(Session& session, const FwOptions& o) {
  Context* ctx = session.context();
  if (!ctx) return;
  if (o.letter.size() != 1 || o.letter[0] < 'A' || o.letter[0] > 'Z')
    return usage(session, "--letter must be one upper-case letter (A as built, B with the firmware update)");
  if (!readable(session, o.exe)) return;
  if (!fw::writeRmaVariant(*ctx, o.exe, o.output, o.letter[0], session.pane())) session.fail(kExitFailed);
}

// A version one step newer: the last digit goes up (carrying into the
// digits before it); without digits the last character does.
std::string nextVersion(std::string v) {
  v.resize(fw::kVersionLength, ' ');
  for (size_t i = v.size(); i-- > 0;) {
    if (!std::isdigit(static_cast<unsigned char>(v[i]))) continue;
    for (size_t k = i + 1; k-- > 0;) {
      if (!std::isdigit(static_cast<unsigned char>(v[k]))) break;
      if (v[k] != '9') {
        ++v[k];
        return v;
      }
      v[k] = '0';
    }
    return v;
  }
  if (v.back() < '~') ++v.back();
  return v;
}

void runDemoPackage(Session& session, const FwOptions& o) {
  Context* ctx = session.enumeratedContext();
  if (!ctx) return;
  Context& c = *ctx;
  if (c.ucDriveCount == 0 || c.ucDriveCount > kMaxDrives) {
    session.err() << "zorvctl: no drive of the brand is attached\n";
    session.fail(kExitFailed);
    return;
  }
  // One package for both model classes: the rows carry 16-byte IDs (a
  // class 0 drive's nine bytes, zero-filled, match them over the first
  // 15), and class 0 images are stored complemented here, as the class 0
  // download expects.
  std::vector<fw::PackageRow> rows;
  const uint8_t selected = c.ucSelDrive;
  for (uint8_t i = 0; i < c.ucDriveCount; ++i) {
    c.ucSelDrive = i;
    const DriveEntry& e = c.DriveTable[i];
    InfoSsdRecord record;
    if (!ReadInfoSsd(c, record).ok()) {
      session.err() << "zorvctl: " << e.strModel << ": the Info SSD record cannot be read; left out\n";
      continue;
    }
    const uint16_t cls = e.usModelClass;
    std::span<const uint8_t> id = record.hardwareId(cls);
    fw::ImageSpec recipe;
    recipe.usModelClass = cls;
    recipe.hwid.assign(id.begin(), id.end());
    recipe.version = nextVersion(record.firmwareVersion());
    fw::MadeImage made = fw::makeImage(recipe);
    if (!made.ok) {
      session.err() << "zorvctl: " << e.strModel << ": " << made.error << "; left out\n";
      continue;
    }
    if (cls == 0)
      for (uint8_t& b : made.image) b = static_cast<uint8_t>(~b);
    fw::PackageRow row;
    row.firmwareId.assign(16, 0);
    std::copy(id.begin(), id.end(), row.firmwareId.begin());
    row.modelName = e.strKnownModel.empty() ? e.strModel.substr(0, 16) : e.strKnownModel;
    if (row.modelName.size() > fw::kModelNameLength) row.modelName.resize(fw::kModelNameLength);
    row.image = std::move(made.image);
    bool duplicate = std::any_of(rows.begin(), rows.end(),
                                 [&](const fw::PackageRow& r) { return r.firmwareId == row.firmwareId; });
    if (duplicate) continue;
    session.out() << e.strModel << ": HWID " << fw::formatIdHex(id) << ", " << record.firmwareVersion() << " -> "
                  << recipe.version << '\n';
    rows.push_back(std::move(row));
  }
  c.ucSelDrive = selected;
  if (rows.empty()) {
    session.err() << "zorvctl: no image could be made\n";
    session.fail(kExitFailed);
    return;
  }
  lh5::EncoderOptions eo;
  eo.optimalParse = false;
  eo.maxChain = 64;
  fw::BuildResult built = fw::buildPackage(rows, 1, eo);
  std::string error;
  if (!built.ok) {
    session.err() << "zorvctl: " << built.error << '\n';
    session.fail(kExitFailed);
    return;
  }
  if (!fw::writeWholeFile(o.output, built.bytes, "", error)) {
    session.err() << "zorvctl: " << error << '\n';
    session.fail(kExitFailed);
    return;
  }
  session.out() << o.output << ": " << rows.size() << " rows, " << built.bytes.size() << " bytes\n";
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<FwOptions>();
  CLI::App* fwApp = app.add_subcommand("fw", "Firmware download and one-file updaters");
  fwApp->require_subcommand(1);

  CLI::App* update = fwApp->add_subcommand(
      "update", "Download firmware into the selected drive: a package's row for it, a BIN image, or (with neither) "
                "the package appended to this program");
  update->add_option("--package", o->package, "Package file (\"Download QZ\")");
  update->add_option("--bin", o->bin, "Raw image file (\"Open Bin\")");
  update->add_option("--row", o->row, "With --package: download this row's image without comparing IDs")
      ->check(CLI::NonNegativeNumber);
  update->add_flag("--disable-power-down", o->disablePowerDown, "\"Disable Power Down Mode\" before the download");
  update->add_flag("--abnormal-debug", o->abnormalDebug, "\"Enable Abnormal Debug\" before the download");
  update->add_flag("--rs232", o->rs232, "\"Enable RS323 (Need Disable Power Down)\" before the download");
  update->add_flag("--skip-model-name-check", o->skipModelNameCheck,
                   "\"Enable Skip Model Name Check\" before the download");
  update->callback([&session, o] { runUpdate(session, *o); });

  CLI::App* append = fwApp->add_subcommand("append-qz", "Write EXE + options byte + marker + PKG to OUT (\"Append QZ\")");
  append->add_option("EXE", o->exe, "Executable")->required();
  append->add_option("PKG", o->package, "Package file")->required();
  append->add_option("OUT", o->output, "Output file")->required();
  append->add_flag("--skip-model-check", o->appendSkipModelCheck,
                   "Options byte 26h: the updater sends \"Enable Skip Model Name Check\" first");
  append->callback([&session, o] { runAppend(session, *o); });

  CLI::App* make = fwApp->add_subcommand("make-downloader", "Write IMG into the reserved block of EXE, in place");
  make->add_option("EXE", o->exe, "Executable to change")->required();
  make->add_option("IMG", o->image, "Image, as it is to be stored")->required();
  make->callback([&session, o] { runMakeDownloader(session, *o); });

  CLI::App* lock = fwApp->add_subcommand("lock-model", "Write a copy of EXE that accepts one brand (\"Model Lock\")");
  lock->add_option("EXE", o->exe, "Executable")->required();
  lock->add_option("OUT", o->output, "Output file")->required();
  lock->add_option("--brand", o->brand, "Brand index: 0 VXA, 1 VXATEK, 2 ORBENNE, 3 KALDRIX, 4 MERIDO")->required();
  lock->callback([&session, o] { runLockModel(session, *o); });

  CLI::App* variant = fwApp->add_subcommand(
      "rma-variant", "Write a copy of EXE with another RMA variant letter ('B': the RMA run updates the firmware)");
  variant->add_option("EXE", o->exe, "Executable")->required();
  variant->add_option("OUT", o->output, "Output file")->required();
  variant->add_option("--letter", o->letter, "The variant letter, A to Z")->required();
  variant->callback([&session, o] { runRmaVariant(session, *o); });

  CLI::App* demo = fwApp->add_subcommand("demo-package", "Write a package with a newer image for every accepted drive");
  demo->add_option("OUT", o->output, "Output file")->required();
  demo->callback([&session, o] { runDemoPackage(session, *o); });
}

static CommandRegistrar reg{"fw", &install};

}  // namespace

}  // namespace zorv::cli
