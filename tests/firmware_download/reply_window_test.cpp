// The download's refusals are shown in the reply window's "Message 2" form
// (the text and only "Cancel"), not in a message box.

#include <gtest/gtest.h>

#include "firmware/download.h"
#include "fwdl_support.h"

namespace zorv::fwdl {
namespace {

struct ReplyRecorder : test::RecordingUi {
  void showCancelOnly(std::string_view text) override { cancelOnly.emplace_back(text); }
  std::vector<std::string> cancelOnly;
};

TEST(DownloadReply, RefusalsUseTheCancelOnlyReplyWindow) {
  test::SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  ReplyRecorder ui;
  sim.ctx().ui = &ui;
  NullProgress progress;
  firmware::DownloadRequest request;  // no image: refused before anything is sent
  request.versionCompareLength = 6;
  firmware::DownloadResult r = firmware::downloadFirmware(sim.ctx(), request, progress);
  EXPECT_FALSE(r.updated());
  ASSERT_EQ(ui.cancelOnly.size(), 1u);
  EXPECT_EQ(ui.cancelOnly[0], r.messageText);
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace zorv::fwdl
