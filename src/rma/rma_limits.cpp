#include "rma/rma_limits.h"

#include "transport/message.h"

namespace zorv::rma {

std::string openingText(const RmaLimits& limits, const WriteReadRange& range) {
  std::string text =
      "Please Input Serial Number First\r\n<<Press F1 Select Input Edit>>\r\n<<Press F2 Force Run "
      "Process>>\r\n";
  text +=
      "In Intel Rapid Storage Technology Drive.......\r\nPlease reflash drive manually before procedure\r\n";
  text += formatText("Write LBA Start: 0x%X\r\n", range.startLba);
  text += formatText("Write Total Length: 0x%X\r\n", range.totalLength);
  text += formatText("Write Length: 0x%X\r\n", range.commandLength);
  text += formatText(
      "RmaTime: %d\r\nBBLife:  %d\r\nPELife:  %d\r\nWorstTemp: %d\r\nAvgEC:   %d\r\nTotalWrtGB: %d\r\nPOH: "
      "%d\r\n"
      "Time Interval: %d Sec\r\n",
      limits.RmaTime, limits.BBLife, limits.PELife, limits.WorstTemp, limits.AvgEC, limits.TotalWrtGB, limits.POH,
      limits.TimeInterval);
  return text;
}

}  // namespace zorv::rma
