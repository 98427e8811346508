#include <gtest/gtest.h>

#include "support/test_support.h"

namespace zorv {
namespace {

TEST(Messages, PaneLinesAreCutAt99CharactersAndSilencedInMode2) {
  test::RecordingPort port;
  test::TestContext t(port);
  std::string longText(150, 'x');
  PrintError(t.ctx, "%s", longText.c_str());
  EXPECT_EQ(t.pane.text(), std::string(99, 'x') + "\n");

  StringSink box;
  t.pane.clear();
  t.ctx.ucMsgMode = kMsgModeSilent;
  PrintMessage(t.ctx, "quiet");
  AppendMessage(t.ctx, "quiet\r\n", box);
  EXPECT_EQ(t.pane.text(), "");
  EXPECT_EQ(box.text(), "");

  t.ctx.ucMsgMode = kMsgModeNormal;
  AppendMessage(t.ctx, "Model\r\n", box);
  PrintHighlight(t.ctx, "Value %02X", 0xAB);
  EXPECT_EQ(box.text(), "Model\r\n");
  EXPECT_EQ(t.pane.text(), "Value AB\n");
}

}  // namespace
}  // namespace zorv
