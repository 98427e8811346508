// The commands an engineer starts by hand with no drive attached say so on
// the message pane instead of nothing, and send nothing.

#include <gtest/gtest.h>

#include <functional>

#include "identify/ata_console.h"
#include "identify/sector_buffer_window.h"
#include "identify/identify_view.h"
#include "support/test_support.h"

namespace zorv {
namespace {

TEST(NoDrive, HandStartedCommandsSayThatNoDriveIsSelected) {
  const struct {
    const char* command;
    std::function<bool(Context&)> run;
  } commands[] = {
      {"ATA Wr Buff",
       [](Context& ctx) {
         StringSink dump;
         return BufferViewer(ctx, dump).writeBuffer();
       }},
      {"ATA Rd Buff",
       [](Context& ctx) {
         StringSink dump;
         return BufferViewer(ctx, dump).readBuffer();
       }},
      {"Identify", [](Context& ctx) { return IdentifyView().identify(ctx, ".").identified; }},
      {"Any ATA Send",
       [](Context& ctx) {
         AnyAtaConsole console;
         console.open(ctx);
         console.edits[kEditCommand] = "EC";
         console.edits[kEditSectorCnt] = "01";
         return console.send(ctx);
       }},
  };
  for (const auto& c : commands) {
    test::RecordingPort port;
    test::TestContext t(port);
    t.ctx.ucSelDrive = kNoDrive;
    t.ctx.ucDriveCount = kNoDrive;
    EXPECT_FALSE(c.run(t.ctx)) << c.command;
    EXPECT_NE(t.pane.text().find("No drive is selected"), std::string::npos)
        << c.command << ": " << t.pane.text();
    EXPECT_TRUE(port.ataRequests.empty()) << c.command;
    EXPECT_EQ(t.ctx.fgBusy, 0) << c.command;
  }
}

}  // namespace
}  // namespace zorv
