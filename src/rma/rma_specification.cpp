#include "rma/rma_specification.h"

#include "transport/message.h"

namespace zorv::rma {

std::string openingText(const RmaSpecification& spec, const WriteReadRange& range) {
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
      spec.RmaTime, spec.BBLife, spec.PELife, spec.WorstTemp, spec.AvgEC, spec.TotalWrtGB, spec.POH,
      spec.TimeInterval);
  return text;
}

}  // namespace zorv::rma
