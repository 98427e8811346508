#include <gtest/gtest.h>

#include "discovery/brands.h"
#include "discovery/enumerate.h"
#include "fake_bay.h"

namespace zorv {
namespace {

using test::BayContext;
using test::FakeDrive;
using test::makeIdentify;

FakeDrive drive(const std::string& model, const std::string& serial, uint64_t sectors, uint8_t bus = kBusSata,
                const std::string& fw = "FW1.0", const std::string& w135 = "") {
  FakeDrive d;
  d.busType = bus;
  d.identify = makeIdentify(model, serial, fw, sectors, w135);
  return d;
}

TEST(BrandCheck, FirstCharactersUpperCasedOnTheDriveSideOnly) {
  BayContext b;
  struct Case {
    const char* text;
    uint8_t first, end, skip;
    bool accepted;
  } cases[] = {
      {"ORBENNEPA256 SN 238G SATA", 2, 3, 0, true},
      {"orbennepa256", 2, 3, 0, true},    // drive text is upper-cased
      {"ORBENN", 2, 3, 0, false},         // shorter than the brand word
      {"XORBENNE", 2, 3, 0, false},       // only the first characters count
      {"VXA1", 2, 3, 0, false},           // outside the accepted range
      {"VXA1", 0, 1, 0, true},            // a copy locked to brand 0
      {"KALDRIXTA1T", 2, 4, 0, true},     // range of two brands
      {"MERIDO", 4, 200, 0, true},        // range end clamped to the list
      {"MERIDO", 9, 9, 0, false},         // range beyond the list accepts nothing
      {"FOREIGN DISK", 2, 3, 1, true},    // skip-model-check accepts everything
      // Near misses: every letter of the brand word counts, the last one too.
      {"ORBENNFPA256", 2, 3, 0, false},
      {"ORBENNDPA256", 2, 3, 0, false},
      {"KALDRIYTA1T", 2, 4, 0, false},
      {"MERIDPTA1T", 4, 5, 0, false},
      {"VXATEJ", 1, 2, 0, false},
      {"VXB", 0, 1, 0, false},
      {"PRBENNEPA256", 2, 3, 0, false},  // and the first
  };
  for (const Case& c : cases) {
    b.ctx.ucBrandFirst = c.first;
    b.ctx.ucBrandEnd = c.end;
    b.ctx.fgSkipModelCheck = c.skip;
    EXPECT_EQ(passesBrandCheck(b.ctx, c.text), c.accepted) << c.text << " " << int(c.first) << ".." << int(c.end);
  }
}

TEST(KnownModel, LastMatchingFragmentWins) {
  DriveEntry e;
  EXPECT_TRUE(applyKnownModel(e, "ORBENNEPA1TTARN"));
  EXPECT_EQ(e.strKnownModel, "TARN");
  EXPECT_EQ(e.usModelClass, 1);
  EXPECT_TRUE(applyKnownModel(e, "ORBENNEPM480"));
  EXPECT_EQ(e.strKnownModel, "PM480");
  EXPECT_EQ(e.usModelClass, 0);
  EXPECT_FALSE(applyKnownModel(e, "ORBENNEXYZ"));
  EXPECT_EQ(e.strKnownModel, "PM480");
}

TEST(IdentifyText, ModelSerialCapacityAndFirmwareTexts) {
  IdentifyData id = makeIdentify("ABC SSD 128", "01 2  345   6789AB", "V1.2", 250069680);
  EXPECT_EQ(modelText(id), "ABCSSD128");
  EXPECT_EQ(modelField(id), "ABC SSD 128                             ");
  EXPECT_EQ(serialText(id), "01 2345 6789AB");  // pairs of spaces go, odd ones keep one
  EXPECT_EQ(firmwareText(id), "V1.2    ");
  EXPECT_EQ(capacityText(sectorsLo(id), sectorsHi(id)), "119G");

  struct Cap {
    uint64_t sectors;
    const char* text;
  } caps[] = {
      {500118192, "238G"},
      {1953525168, "931G"},
      {uint64_t{1} << 32, "2048G"},                   // the high dword shifted in
      {uint64_t{1} << 52, "-2147483648G"},            // shown as a signed 32-bit number
      {2097151, "0G"},
  };
  for (const Cap& c : caps) {
    EXPECT_EQ(capacityText(static_cast<uint32_t>(c.sectors), static_cast<uint32_t>(c.sectors >> 32)), c.text);
  }
  EXPECT_EQ(capacityDecimalGB(1953525168), 1000u);
  EXPECT_EQ(capacityDecimalGB(250069680), 128u);
  EXPECT_EQ(capacityDecimalGB(~uint64_t{0}), ~uint64_t{0} / 1953125);  // no overflow

  // NUL ends the texts.
  IdentifyData nul = makeIdentify("ORBENNE PA256", "SN1", "FW", 0);
  nul[54 + 9] = 0;  // text position 8 (the P) is stored at byte 9 of the field
  EXPECT_EQ(modelField(nul), "ORBENNE ");
}

TEST(Enumeration, AcceptedDrivesKeepPhysicalOrderAndTheLastIsSelected) {
  BayContext b;
  b.bay.put(0, drive("ORBENNE PA256", "AA11", 500118192));
  b.bay.put(2, drive("Orbenne TA1T", "BB22", 250069680, kBusUsb, "T2"));
  b.bay.put(3, drive("OTHERCO DISK", "CC33", 250069680));
  b.bay.put(5, drive("ORBENNE PM480", "DD44", 1953525168));
  DriveListModel list;
  ASSERT_TRUE(EnumerateDrives(b.ctx, list));

  std::vector<std::string> expected = {
      "Physical Drive 0 ORBENNEPA256 AA11 238G SATA",
      "Physical Drive 2 OrbenneTA1T BB22 119G USB",
      "Physical Drive 5 ORBENNEPM480 DD44 931G SATA",
  };
  EXPECT_EQ(list.lines(), expected);
  EXPECT_EQ(b.ctx.ucDriveCount, 3);
  EXPECT_EQ(b.ctx.ucSelDrive, 2);
  EXPECT_EQ(list.currentSelection(), 2);
  EXPECT_TRUE(list.isEnabled());
  EXPECT_EQ(b.ctx.fgFamilyDrive, 1);
  EXPECT_EQ(b.ctx.DriveTable[0].strDevicePath, "rec:0");
  EXPECT_EQ(b.ctx.DriveTable[1].strDevicePath, "rec:2");
  EXPECT_EQ(b.ctx.DriveTable[1].ucBusType, kBusUsb);
  EXPECT_EQ(b.ctx.DriveTable[1].strKnownModel, "TA1T");
  EXPECT_EQ(b.ctx.DriveTable[1].usModelClass, 1);
  EXPECT_EQ(b.ctx.DriveTable[2].strKnownModel, "PM480");
  EXPECT_EQ(b.ctx.DriveTable[2].sectorCount(), 1953525168u);

  std::string model = "ORBENNE PA256" + std::string(27, ' ');
  EXPECT_EQ(b.pane.text(),
            "Model Name      : " + model + "\r\nFirmware Version: FW1.0   \r\n\n\n"
            "Model Name      : Orbenne TA1T" + std::string(28, ' ') + "\r\nFirmware Version: T2      \r\n\n\n"
            "Model Name      : ORBENNE PM480" + std::string(27, ' ') + "\r\nFirmware Version: FW1.0   \r\n\n\n");
}

TEST(Enumeration, NothingAcceptedLeavesNoSelectionAndSaysSo) {
  BayContext b;
  b.bay.put(1, drive("OTHERCO DISK", "X", 1000));
  b.bay.put(4, drive("ORBENNE PA256", "Y", 1000));
  b.bay.drives["rec:4"].identifyFails = true;
  b.ctx.fgFamilyDrive = 1;
  b.pane.append("old text");
  DriveListModel list;
  list.insertLine(0, "stale");
  EnumerateDrives(b.ctx, list);
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(b.ctx.ucDriveCount, kNoDrive);
  EXPECT_EQ(b.ctx.ucSelDrive, kNoDrive);
  EXPECT_EQ(b.ctx.fgFamilyDrive, 0);
  EXPECT_EQ(b.pane.text(), "No VXA Device Attached\r\n\n\n");
}

TEST(Enumeration, DrivesThatCannotBeOpenedAreExplained) {
  BayContext b;
  FakeDrive denied;
  denied.openError = IoError::PermissionDenied;
  b.bay.put(0, denied);
  b.bay.put(1, denied);
  FakeDrive busy;
  busy.openError = IoError::Busy;
  b.bay.put(2, busy);
  FakeDrive noRawIo = drive("ORBENNE PA256", "A", 1000);  // opens, but SG_IO is refused
  noRawIo.identifyError = IoError::PermissionDenied;
  b.bay.put(3, noRawIo);
  DriveListModel list;
  ProbeReport report;
  EnumerateDrives(b.ctx, list, &report);
  EXPECT_EQ(report.deniedPaths, (std::vector<std::string>{"rec:0", "rec:1", "rec:3"}));
  EXPECT_EQ(b.pane.text(),
            "No VXA Device Attached\r\n\n\n"
            "No permission to use rec:0, rec:1, rec:3: run as root or with CAP_SYS_RAWIO (the group zorv may open the family's drives: README, \"Installing\")\r\n"
            "Cannot open rec:2: in use (mounted or held by another program): unmount its file systems or end that "
            "program, then scan again\r\n");
}

TEST(Enumeration, SkipModelCheckAcceptsEveryDriveThatAnswers) {
  BayContext b;
  b.bay.put(1, drive("OTHERCO DISK", "X1", 1000));
  b.bay.put(3, drive("ORBENNE PA128", "X3", 1000));
  b.bay.put(6, drive("NO ANSWER", "X6", 1000));
  b.bay.drives["rec:6"].identifyFails = true;
  b.ctx.fgSkipModelCheck = 1;
  DriveListModel list;
  EnumerateDrives(b.ctx, list);
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.line(0), "Physical Drive 1 OTHERCODISK X1 0G SATA");
  EXPECT_EQ(b.ctx.ucDriveCount, 2);
}

TEST(Enumeration, EntriesAreRebuiltForEachDrive) {
  BayContext b;
  b.ctx.DriveTable[0].usModelClass = 1;
  b.ctx.DriveTable[0].strKnownModel = "TX4T";
  b.ctx.DriveTable[0].ucBusType = kBusUsb;
  b.bay.put(0, drive("ORBENNE NEWMODEL", "S", 1000, 1 /* SCSI: not a bus the tool names */));
  b.bay.put(1, drive("ORBENNE NEWMODEL", "S", 1000));
  DriveListModel list;
  EnumerateDrives(b.ctx, list);
  // Drive 0 is not sent IDENTIFY down the USB path left in the entry.
  EXPECT_TRUE(b.bay.scsiRequests.empty());
  ASSERT_EQ(b.ctx.ucDriveCount, 1);
  EXPECT_EQ(b.ctx.DriveTable[0].strDevicePath, "rec:1");
  EXPECT_EQ(b.ctx.DriveTable[0].strKnownModel, "");
  EXPECT_EQ(b.ctx.DriveTable[0].usModelClass, 0);
}

TEST(Enumeration, RunsOnTheAttachedListWhenCalledWithoutOne) {
  BayContext b;
  b.bay.put(2, drive("ORBENNE PA256", "SN", 1000));
  DriveListModel list;
  {
    DriveListAttachment attach(b.ctx, list);
    EnumerateDrives(b.ctx);
    EXPECT_EQ(selectedDriveLine(b.ctx), "Physical Drive 2 ORBENNEPA256 SN 0G SATA");
  }
  EXPECT_EQ(list.count(), 1);
  EXPECT_EQ(attachedDriveList(b.ctx), nullptr);
  // Without a list the line is rebuilt from the table.
  EXPECT_EQ(selectedDriveLine(b.ctx), "Physical Drive 2 ORBENNEPA256 SN 0G SATA");
}

TEST(Selection, SelectingALinePrintsThatDrive) {
  BayContext b;
  b.bay.put(0, drive("ORBENNE PA256", "A", 1000, kBusSata, "F0"));
  b.bay.put(1, drive("ORBENNE PA512", "B", 1000, kBusSata, "F1"));
  DriveListModel list;
  EnumerateDrives(b.ctx, list);
  b.pane.clear();
  list.select(0);
  OnDriveSelected(b.ctx, list);
  EXPECT_EQ(b.ctx.ucSelDrive, 0);
  EXPECT_EQ(b.pane.take(), "Model Name      : ORBENNE PA256" + std::string(27, ' ') +
                               "\r\nFirmware Version: F0      \r\n\n\n");

  // A drive that stops answering: no identity printed, the list stays disabled.
  b.bay.drives["rec:1"].identifyFails = true;
  list.select(1);
  OnDriveSelected(b.ctx, list);
  EXPECT_EQ(b.ctx.ucSelDrive, 1);
  EXPECT_EQ(b.pane.text().find("Model Name"), std::string::npos);
  EXPECT_FALSE(list.isEnabled());

  // A line the table does not hold selects nothing.
  list.insertLine(2, "Physical Drive 7 stray");
  list.select(2);
  OnDriveSelected(b.ctx, list);
  EXPECT_EQ(b.ctx.ucSelDrive, kNoDrive);
}

TEST(Selection, ADriveThatCannotBeReachedSaysWhy) {
  BayContext b;
  b.bay.put(0, drive("ORBENNE PA256", "A", 1000));
  DriveListModel list;
  EnumerateDrives(b.ctx, list);
  b.pane.clear();
  // Opens, but the pass-through now needs a capability the program lacks.
  b.bay.drives["rec:0"].identifyError = IoError::PermissionDenied;
  list.select(0);
  OnDriveSelected(b.ctx, list);
  EXPECT_EQ(b.pane.text(), "Cause: " + std::string(ioErrorName(IoError::PermissionDenied)) + "\n");
  EXPECT_FALSE(list.isEnabled());
}

TEST(Selection, SelectPhysicalDriveFindsTheAcceptedEntry) {
  BayContext b;
  b.bay.put(3, drive("ORBENNE PA256", "A", 1000));
  b.bay.put(6, drive("ORBENNE PA512", "B", 1000));
  DriveListModel list;
  DriveListAttachment attach(b.ctx, list);
  EnumerateDrives(b.ctx);
  EXPECT_TRUE(selectPhysicalDrive(b.ctx, 3));
  EXPECT_EQ(b.ctx.ucSelDrive, 0);
  EXPECT_EQ(list.currentSelection(), 0);
  EXPECT_FALSE(selectPhysicalDrive(b.ctx, 4));
  EXPECT_FALSE(selectPhysicalDrive(b.ctx, 8));
  EXPECT_EQ(b.ctx.ucSelDrive, 0);
}

TEST(Probe, KeepsThePathOnlyForADriveOfTheBrand) {
  BayContext b;
  b.bay.put(0, drive("ORBENNE PA256", "A", 1000));
  b.bay.put(2, drive("ORBENNE PA512", "SER2", 1000, kBusUsb));
  b.bay.put(4, drive("OTHERCO", "X", 1000));
  DriveListModel list;
  EnumerateDrives(b.ctx, list);
  std::string serial, model;
  ASSERT_TRUE(ProbePhysicalDrive(b.ctx, 2, serial, model));
  EXPECT_EQ(model, "ORBENNE PA512" + std::string(27, ' '));
  EXPECT_EQ(serial, "SER2" + std::string(16, ' '));
  EXPECT_EQ(b.ctx.selectedDrive().strDevicePath, "rec:2");
  EXPECT_EQ(b.ctx.selectedDrive().ucBusType, kBusUsb);

  for (int n : {4, 5, -1, 8}) {
    EXPECT_FALSE(ProbePhysicalDrive(b.ctx, n, serial, model)) << n;
    EXPECT_EQ(b.ctx.selectedDrive().strDevicePath, "rec:2") << n;
    EXPECT_EQ(b.ctx.selectedDrive().ucBusType, kBusUsb) << n;
  }
  EXPECT_EQ(list.count(), 2);
}

TEST(DeviceChange, DeviceIdAndText) {
  EXPECT_EQ(deviceIdFromInterfaceName(
                "\\\\?\\USBSTOR#Disk&Ven_Orbenne&Prod_PA256#0123456789AB#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"),
            "USBSTOR\\DISK&VEN_ORBENNE&PROD_PA256\\0123456789AB");
  EXPECT_EQ(deviceIdFromInterfaceName("abc"), "");
  EXPECT_EQ(deviceIdFromInterfaceName("\\\\?\\noguid"), "NOGUID");
  EXPECT_EQ(deviceChangeText({DeviceEventKind::Removal, "\\\\?\\SCSI#Disk&Ven_X#1#{g}"}),
            "Removing SCSI\\DISK&VEN_X\\1\r\n");
  EXPECT_EQ(deviceChangeText({DeviceEventKind::Arrival, "\\\\?\\SCSI#Disk&Ven_X#1#{g}"}),
            "Adding SCSI\\DISK&VEN_X\\1\r\n");
}

TEST(DeviceChange, OnlyDevicesNamingAnAcceptedBrandRescan) {
  struct Case {
    const char* name;
    DeviceEventKind kind;
    uint8_t first, end, skip;
    int runs;
  } cases[] = {
      {"\\\\?\\USBSTOR#Disk&Ven_Orbenne&Prod_PA256#01#{g}", DeviceEventKind::Arrival, 2, 3, 0, 1},
      {"\\\\?\\USBSTOR#Disk&Ven_Orbenne&Prod_PA256#01#{g}", DeviceEventKind::Removal, 2, 3, 0, 1},
      {"\\\\?\\SCSI#Disk&Ven_Otherco&Prod_X#01#{g}", DeviceEventKind::Arrival, 2, 3, 0, 0},
      {"\\\\?\\ROOT#Disk&Ven_Orbenne#01#{g}", DeviceEventKind::Arrival, 2, 3, 0, 0},
      {"\\\\?\\ROOT#Disk&Ven_Otherco#01#{g}", DeviceEventKind::Arrival, 2, 3, 1, 0},
      {"\\\\?\\SCSI#Disk&Ven_Otherco&Prod_X#01#{g}", DeviceEventKind::Arrival, 2, 3, 1, 1},
      {"\\\\?\\USBSTOR#Disk&Ven_VXATEK#01#{g}", DeviceEventKind::Arrival, 0, 2, 0, 2},  // VXA and VXATEK
      {"\\\\?\\USBSTOR#Disk&Ven_X#01#{Orbenne}", DeviceEventKind::Arrival, 2, 3, 0, 0},  // the cut-off part
  };
  for (const Case& c : cases) {
    BayContext b;
    b.bay.put(0, drive("ORBENNE PA256", "A", 1000));
    b.ctx.ucBrandFirst = c.first;
    b.ctx.ucBrandEnd = c.end;
    b.ctx.fgSkipModelCheck = c.skip;
    DriveListModel list;
    list.insertLine(0, "before");
    EXPECT_EQ(OnDeviceChange(b.ctx, {c.kind, c.name}, list), c.runs) << c.name;
    if (c.runs == 0) {
      EXPECT_EQ(list.lines(), std::vector<std::string>{"before"}) << c.name;
      EXPECT_EQ(b.bay.identifyCount(), 0) << c.name;
    } else {
      EXPECT_NE(list.line(0), "before") << c.name;
    }
  }
}

TEST(StartupDefaults, ApplyTheBuiltInRangeAndSwitches) {
  BayContext b;
  b.ctx.ucBrandFirst = 0;
  b.ctx.ucBrandEnd = 5;
  b.ctx.usTimeoutMid = 1;
  applyStartupDefaults(b.ctx);
  EXPECT_EQ(b.ctx.ucBrandFirst, 2);
  EXPECT_EQ(b.ctx.ucBrandEnd, 3);
  EXPECT_EQ(b.ctx.usTimeoutShort, 7);
  EXPECT_EQ(b.ctx.usTimeoutMid, 30);
  EXPECT_EQ(b.ctx.usTimeoutLong, 255);
  EXPECT_EQ(b.ctx.fgVendorCdbEnable, 1);
  EXPECT_EQ(b.ctx.SectorBuffer[0], 0xFF);
  EXPECT_EQ(b.ctx.SectorBuffer[kSectorBufferSize - 1], 0xFF);
  StartupFiles files = startupFiles();
  EXPECT_FALSE(files.workingDirectory.empty());
  EXPECT_EQ(files.scriptFile, files.workingDirectory + "/ZRV.SCR");
  EXPECT_EQ(files.logFile, "ZRV.LOG");
}

}  // namespace
}  // namespace zorv
