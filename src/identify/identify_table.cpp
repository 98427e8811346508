#include "identify/identify_table.h"

#include <charconv>
#include <initializer_list>

#include "transport/byte_order.h"
#include "transport/message.h"

namespace zorv {

namespace {

struct BitLine {
  const char* bits;     // "7", "15:8"
  const char* meaning;
};

// A description is its title line, then each bit or bit range right-aligned
// in six columns, a space and its meaning.
void addRow(std::vector<IdentifyWordRow>& rows, uint16_t first, uint8_t count, const char* title,
            std::initializer_list<BitLine> bits = {}) {
  std::string text = title;
  for (const BitLine& b : bits) text += formatText("\r\n%6s %s", b.bits, b.meaning);
  rows.push_back({first, count, std::move(text)});
}

std::vector<IdentifyWordRow> buildTable() {
  std::vector<IdentifyWordRow> t;
  t.reserve(kIdentifyRowCount);

  addRow(t, 0, 1, "General configuration bit-significant information:",
         {{"15", "0 = ATA device"},
          {"14:8", "Retired"},
          {"7", "1 = removable media device"},
          {"6", "Obsolete"},
          {"5:3", "Retired"},
          {"2", "1 = the IDENTIFY DEVICE data is incomplete"},
          {"1", "Retired"},
          {"0", "Reserved"}});
  addRow(t, 1, 6, "Words 1-6:",
         {{"1", "Obsolete"},
          {"2", "Specific configuration"},
          {"3", "Obsolete"},
          {"4:5", "Retired"},
          {"6", "Obsolete"}});
  addRow(t, 7, 2, "Reserved for the CompactFlash Association (words 7-8)");
  addRow(t, 9, 1, "Retired");
  addRow(t, 10, 10, "Serial number (20 ASCII characters)");
  addRow(t, 20, 3, "Words 20-22:", {{"20:21", "Retired"}, {"22", "Obsolete"}});
  addRow(t, 23, 4, "Firmware revision (8 ASCII characters)");
  addRow(t, 27, 20, "Model number (40 ASCII characters)");
  addRow(t, 47, 1, "READ/WRITE MULTIPLE support:",
         {{"15:8", "80h"},
          {"7:0", "00h = reserved"},
          {"", "01h-FFh = most logical sectors moved per DRQ data block by READ/WRITE MULTIPLE"}});
  addRow(t, 48, 1, "Trusted Computing feature set options:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13:1", "Reserved for the Trusted Computing Group"},
          {"0", "1 = Trusted Computing feature set is supported"}});
  addRow(t, 49, 1, "Capabilities:",
         {{"15:14", "Reserved for the IDENTIFY PACKET DEVICE command"},
          {"13", "1 = standby timer values are as this standard defines; 0 = vendor specific"},
          {"12", "Reserved for the IDENTIFY PACKET DEVICE command"},
          {"11", "1 = IORDY supported; 0 = IORDY may be supported"},
          {"10", "1 = IORDY may be disabled"},
          {"9", "1 = LBA supported"},
          {"8", "1 = DMA supported"},
          {"7:2", "Reserved"},
          {"1:0", "Long Physical Sector Alignment Error reporting"}});
  addRow(t, 50, 1, "Capabilities:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13:2", "Reserved"},
          {"1", "Obsolete"},
          {"0", "1 = the device has a vendor-specific minimum standby timer value"}});
  addRow(t, 51, 2, "Obsolete (words 51-52)");
  addRow(t, 53, 1, "Field validity and free-fall sensitivity:",
         {{"15:8", "Free-fall Control Sensitivity"},
          {"7:3", "Reserved"},
          {"2", "1 = the fields reported in word 88 are valid"},
          {"1", "1 = the fields reported in words 64-70 are valid"},
          {"0", "Obsolete"}});
  addRow(t, 54, 5, "Obsolete (words 54-58)");
  addRow(t, 59, 1, "Sanitize and READ/WRITE MULTIPLE setting:",
         {{"15", "1 = BLOCK ERASE EXT command supported"},
          {"14", "1 = OVERWRITE EXT command supported"},
          {"13", "1 = CRYPTO SCRAMBLE EXT command supported"},
          {"12", "1 = Sanitize feature set supported"},
          {"11:9", "Reserved"},
          {"8", "1 = the multiple logical sector setting is valid"},
          {"7:0", "Logical sectors now moved per DRQ data block by READ/WRITE MULTIPLE"}});
  addRow(t, 60, 2, "Total number of user addressable logical sectors for 28-bit commands (words 60-61)");
  addRow(t, 62, 1, "Obsolete (single word DMA modes in earlier standards):",
         {{"15:8", "Single word DMA mode selected"}, {"7:0", "Single word DMA modes supported"}});
  addRow(t, 63, 1, "Multiword DMA modes:",
         {{"15:11", "Reserved"},
          {"10", "1 = Multiword DMA mode 2 is selected"},
          {"9", "1 = Multiword DMA mode 1 is selected"},
          {"8", "1 = Multiword DMA mode 0 is selected"},
          {"7:3", "Reserved"},
          {"2", "1 = Multiword DMA mode 2 and below are supported"},
          {"1", "1 = Multiword DMA mode 1 and below are supported"},
          {"0", "1 = Multiword DMA mode 0 is supported"}});
  addRow(t, 64, 1, "PIO modes:",
         {{"15:8", "Reserved"},
          {"7:2", "Reserved"},
          {"1", "1 = PIO mode 4 supported"},
          {"0", "1 = PIO mode 3 supported"}});
  addRow(t, 65, 1, "Minimum Multiword DMA transfer cycle time per word (ns)");
  addRow(t, 66, 1, "Manufacturer's recommended Multiword DMA transfer cycle time (ns)");
  addRow(t, 67, 1, "Minimum PIO transfer cycle time without flow control (ns)");
  addRow(t, 68, 1, "Minimum PIO transfer cycle time with IORDY flow control (ns)");
  addRow(t, 69, 1, "Additional supported:",
         {{"15", "Reserved for the CompactFlash Association"},
          {"14", "1 = deterministic read after TRIM supported"},
          {"13", "1 = Long Physical Sector Alignment Error Reporting Control supported"},
          {"12", "1 = DEVICE CONFIGURATION IDENTIFY DMA and SET DMA supported"},
          {"11", "1 = READ BUFFER DMA supported"},
          {"10", "1 = WRITE BUFFER DMA supported"},
          {"9", "1 = SET MAX SET PASSWORD DMA and SET MAX UNLOCK DMA supported"},
          {"8", "1 = DOWNLOAD MICROCODE DMA supported"},
          {"7", "Reserved for IEEE 1667"},
          {"6", "1 = optional 28-bit commands supported"},
          {"5", "1 = trimmed LBA ranges read back as zeroed data"},
          {"4", "1 = the device encrypts all user data"},
          {"3:0", "Reserved"}});
  addRow(t, 70, 1, "Reserved");
  addRow(t, 71, 4, "Reserved for the IDENTIFY PACKET DEVICE command (words 71-74)");
  addRow(t, 75, 1, "Queue depth:", {{"15:5", "Reserved"}, {"4:0", "Maximum queue depth - 1"}});
  addRow(t, 76, 1, "Serial ATA capabilities:",
         {{"15", "1 = READ LOG DMA EXT supported as an equivalent of READ LOG EXT"},
          {"14", "1 = device automatic Partial to Slumber transitions supported"},
          {"13", "1 = host automatic Partial to Slumber transitions supported"},
          {"12", "1 = NCQ priority information supported"},
          {"11", "1 = unload while NCQ commands are outstanding supported"},
          {"10", "1 = SATA Phy Event Counters log supported"},
          {"9", "1 = host initiated power management requests supported"},
          {"8", "1 = NCQ feature set supported"},
          {"7:4", "Reserved for Serial ATA"},
          {"3", "1 = SATA Gen3 signalling speed (6.0 Gb/s) supported"},
          {"2", "1 = SATA Gen2 signalling speed (3.0 Gb/s) supported"},
          {"1", "1 = SATA Gen1 signalling speed (1.5 Gb/s) supported"},
          {"0", "Shall be cleared to zero"}});
  addRow(t, 77, 1, "Serial ATA additional capabilities:",
         {{"15:7", "Reserved for Serial ATA"},
          {"6", "1 = SEND and RECEIVE FPDMA QUEUED supported"},
          {"5", "1 = NCQ queue management command supported"},
          {"4", "1 = NCQ streaming supported"},
          {"3:1", "Current negotiated Serial ATA signal speed (coded)"},
          {"0", "Shall be cleared to zero"}});
  addRow(t, 78, 1, "Serial ATA features supported:",
         {{"15:8", "Reserved for Serial ATA"},
          {"7", "1 = automatic Partial to Slumber transitions supported"},
          {"6", "1 = Software Settings Preservation supported"},
          {"5", "1 = Asynchronous Notification supported"},
          {"4", "1 = in-order data delivery supported"},
          {"3", "1 = device initiated power management supported"},
          {"2", "1 = DMA Setup auto-activation supported"},
          {"1", "1 = non-zero buffer offsets supported"},
          {"0", "Shall be cleared to zero"}});
  addRow(t, 79, 1, "Serial ATA features enabled:",
         {{"15:8", "Reserved for Serial ATA"},
          {"7", "1 = automatic Partial to Slumber transitions enabled"},
          {"6", "1 = Software Settings Preservation enabled"},
          {"5", "1 = Asynchronous Notification enabled"},
          {"4", "1 = in-order data delivery enabled"},
          {"3", "1 = device initiated power management enabled"},
          {"2", "1 = DMA Setup auto-activation enabled"},
          {"1", "1 = non-zero buffer offsets in use"},
          {"0", "Shall be cleared to zero"}});
  addRow(t, 80, 1, "Major version number (0000h or FFFFh = not reported):",
         {{"15:10", "Reserved"},
          {"9", "1 = supports ACS-2"},
          {"8", "1 = supports ATA8-ACS"},
          {"7", "1 = supports ATA/ATAPI-7"},
          {"6", "1 = supports ATA/ATAPI-6"},
          {"5", "1 = supports ATA/ATAPI-5"},
          {"4:1", "Obsolete"},
          {"0", "Reserved"}});
  addRow(t, 81, 1, "Minor version number (0000h or FFFFh = not reported)");
  addRow(t, 82, 1, "Commands and feature sets supported:",
         {{"15", "Obsolete"},
          {"14", "1 = NOP command supported"},
          {"13", "1 = READ BUFFER command supported"},
          {"12", "1 = WRITE BUFFER command supported"},
          {"11:10", "Obsolete"},
          {"9", "Shall be cleared to zero (DEVICE RESET)"},
          {"8:7", "Obsolete"},
          {"6", "1 = read look-ahead supported"},
          {"5", "1 = volatile write cache supported"},
          {"4", "Shall be cleared to zero (PACKET feature set)"},
          {"3", "1 = Power Management feature set supported"},
          {"2", "Obsolete"},
          {"1", "1 = Security feature set supported"},
          {"0", "1 = SMART feature set supported"}});
  addRow(t, 83, 1, "Commands and feature sets supported:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13", "1 = FLUSH CACHE EXT command supported"},
          {"12", "1 = FLUSH CACHE command supported"},
          {"11", "Obsolete"},
          {"10", "1 = 48-bit Address feature set supported"},
          {"9:7", "Obsolete"},
          {"6", "1 = SET FEATURES subcommand required to spin up after power-up"},
          {"5", "1 = Power-Up In Standby feature set supported"},
          {"4", "Obsolete"},
          {"3", "1 = Advanced Power Management feature set supported"},
          {"2", "1 = CFA feature set supported"},
          {"1", "Obsolete"},
          {"0", "1 = DOWNLOAD MICROCODE command supported"}});
  addRow(t, 84, 1, "Commands and feature sets supported:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13", "1 = IDLE IMMEDIATE with UNLOAD feature supported"},
          {"12:9", "Obsolete"},
          {"8", "1 = world wide name supported"},
          {"7", "Obsolete"},
          {"6", "1 = WRITE DMA FUA EXT and WRITE MULTIPLE FUA EXT supported"},
          {"5", "1 = General Purpose Logging feature set supported"},
          {"4", "1 = Streaming feature set supported"},
          {"3:2", "Obsolete"},
          {"1", "1 = SMART self-test supported"},
          {"0", "1 = SMART error logging supported"}});
  addRow(t, 85, 1, "Commands and feature sets supported or enabled:",
         {{"15", "Obsolete"},
          {"14", "1 = NOP command supported"},
          {"13", "1 = READ BUFFER command supported"},
          {"12", "1 = WRITE BUFFER command supported"},
          {"11:10", "Obsolete"},
          {"9", "Shall be cleared to zero (DEVICE RESET)"},
          {"8:7", "Obsolete"},
          {"6", "1 = read look-ahead enabled"},
          {"5", "1 = volatile write cache enabled"},
          {"4", "Shall be cleared to zero (PACKET feature set)"},
          {"3", "1 = Power Management feature set supported"},
          {"2", "Obsolete"},
          {"1", "1 = Security feature set enabled"},
          {"0", "1 = SMART feature set enabled"}});
  addRow(t, 86, 1, "Commands and feature sets supported or enabled:",
         {{"15", "1 = words 119-120 are valid"},
          {"14", "Reserved"},
          {"13", "1 = FLUSH CACHE EXT command supported"},
          {"12", "1 = FLUSH CACHE command supported"},
          {"11", "Obsolete"},
          {"10", "1 = 48-bit Address feature set supported"},
          {"9:7", "Obsolete"},
          {"6", "1 = SET FEATURES subcommand required to spin up after power-up"},
          {"5", "1 = Power-Up In Standby feature set enabled"},
          {"4", "Obsolete"},
          {"3", "1 = Advanced Power Management feature set enabled"},
          {"2", "1 = CFA feature set supported"},
          {"1", "Obsolete"},
          {"0", "1 = DOWNLOAD MICROCODE command supported"}});
  addRow(t, 87, 1, "Commands and feature sets supported or enabled:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13", "1 = IDLE IMMEDIATE with UNLOAD feature supported"},
          {"12:9", "Obsolete"},
          {"8", "1 = world wide name supported"},
          {"7", "Obsolete"},
          {"6", "1 = WRITE DMA FUA EXT and WRITE MULTIPLE FUA EXT supported"},
          {"5", "1 = General Purpose Logging feature set supported"},
          {"4:2", "Obsolete"},
          {"1", "1 = SMART self-test supported"},
          {"0", "1 = SMART error logging supported"}});
  addRow(t, 88, 1, "Ultra DMA modes:",
         {{"15", "Reserved"},
          {"14", "1 = Ultra DMA mode 6 is selected"},
          {"13", "1 = Ultra DMA mode 5 is selected"},
          {"12", "1 = Ultra DMA mode 4 is selected"},
          {"11", "1 = Ultra DMA mode 3 is selected"},
          {"10", "1 = Ultra DMA mode 2 is selected"},
          {"9", "1 = Ultra DMA mode 1 is selected"},
          {"8", "1 = Ultra DMA mode 0 is selected"},
          {"7", "Reserved"},
          {"6", "1 = Ultra DMA mode 6 and below are supported"},
          {"5", "1 = Ultra DMA mode 5 and below are supported"},
          {"4", "1 = Ultra DMA mode 4 and below are supported"},
          {"3", "1 = Ultra DMA mode 3 and below are supported"},
          {"2", "1 = Ultra DMA mode 2 and below are supported"},
          {"1", "1 = Ultra DMA mode 1 and below are supported"},
          {"0", "1 = Ultra DMA mode 0 is supported"}});
  addRow(t, 89, 1, "Time required for a normal-mode SECURITY ERASE UNIT command:",
         {{"15:8", "Reserved"},
          {"7:0", "0 = not reported; 1-254 = value x 2 minutes; 255 = more than 508 minutes"}});
  addRow(t, 90, 1, "Time required for an enhanced-mode SECURITY ERASE UNIT command:",
         {{"15:8", "Reserved"},
          {"7:0", "0 = not reported; 1-254 = value x 2 minutes; 255 = more than 508 minutes"}});
  addRow(t, 91, 1, "Current Advanced Power Management level:",
         {{"15:8", "Reserved"}, {"7:0", "Current Advanced Power Management level value"}});
  addRow(t, 92, 1, "Master Password Identifier");
  addRow(t, 93, 1, "Hardware reset results (parallel ATA; zero on Serial ATA):",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13", "1 = CBLID- above ViHB; 0 = CBLID- below ViL"},
          {"12", "Reserved (device 1 result)"},
          {"11", "1 = device 1 asserted PDIAG-"},
          {"10:9", "How device 1 took its device number: 01b jumper, 10b CSEL, 11b other"},
          {"8", "Shall be set to one (device 1 result)"},
          {"7", "Reserved (device 0 result)"},
          {"6", "1 = device 0 responds when device 1 is selected"},
          {"5", "1 = device 0 detected the assertion of DASP-"},
          {"4", "1 = device 0 detected the assertion of PDIAG-"},
          {"3", "1 = device 0 passed diagnostics"},
          {"2:1", "How device 0 took its device number: 01b jumper, 10b CSEL, 11b other"},
          {"0", "Shall be set to one (device 0 result)"}});
  addRow(t, 94, 1, "Obsolete (acoustic management in earlier standards):",
         {{"15:8", "Vendor's recommended acoustic management value"},
          {"7:0", "Current acoustic management value"}});
  addRow(t, 95, 1, "Stream Minimum Request Size");
  addRow(t, 96, 1, "Streaming Transfer Time - DMA");
  addRow(t, 97, 1, "Streaming Access Latency - DMA and PIO");
  addRow(t, 98, 1, "Streaming Performance Granularity (low word of the doubleword in words 98-99)");
  addRow(t, 100, 4, "Total Number of user LBA for 48-bit Address feature set.");
  addRow(t, 104, 1, "Streaming Transfer Time - PIO");
  addRow(t, 105, 1, "Maximum number of 512-byte blocks of LBA range entries per DATA SET MANAGEMENT command");
  addRow(t, 106, 1, "Physical sector size / logical sector size:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13", "1 = the device has several logical sectors per physical sector"},
          {"12", "1 = the logical sector is longer than 256 words"},
          {"11:4", "Reserved"},
          {"3:0", "2^X logical sectors per physical sector"}});
  addRow(t, 107, 1, "Inter-seek delay for ISO/IEC 7779 standard acoustic testing (microseconds)");
  addRow(t, 108, 1, "World wide name:",
         {{"15:12", "NAA (5h)"}, {"11:0", "IEEE OUI, bits 23:12"}});
  addRow(t, 109, 1, "World wide name:", {{"15:4", "IEEE OUI, bits 11:0"}, {"3:0", "Unique ID, bits 35:32"}});
  addRow(t, 110, 1, "World wide name:", {{"15:0", "Unique ID, bits 31:16"}});
  addRow(t, 111, 1, "World wide name:", {{"15:0", "Unique ID, bits 15:0"}});
  addRow(t, 112, 4, "Reserved for a 128-bit world wide name extension (words 112-115)");
  addRow(t, 116, 1, "Obsolete");
  addRow(t, 117, 2, "Logical sector size in words (doubleword, words 117-118)");
  addRow(t, 119, 1, "Commands and feature sets supported:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13:8", "Reserved"},
          {"7", "1 = Extended Power Conditions feature set supported"},
          {"6", "1 = Sense Data Reporting feature set supported"},
          {"5", "1 = Free-fall Control feature set supported"},
          {"4", "1 = DOWNLOAD MICROCODE with offsets (mode 3) supported"},
          {"3", "1 = READ LOG DMA EXT and WRITE LOG DMA EXT supported"},
          {"2", "1 = WRITE UNCORRECTABLE EXT command supported"},
          {"1", "1 = Write-Read-Verify feature set supported"},
          {"0", "Obsolete"}});
  addRow(t, 120, 1, "Commands and feature sets supported or enabled:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13:8", "Reserved"},
          {"7", "1 = Extended Power Conditions feature set enabled"},
          {"6", "1 = Sense Data Reporting feature set enabled"},
          {"5", "1 = Free-fall Control feature set enabled"},
          {"4", "1 = DOWNLOAD MICROCODE with offsets (mode 3) supported"},
          {"3", "1 = READ LOG DMA EXT and WRITE LOG DMA EXT supported"},
          {"2", "1 = WRITE UNCORRECTABLE EXT command supported"},
          {"1", "1 = Write-Read-Verify feature set enabled"},
          {"0", "Obsolete"}});
  addRow(t, 121, 6, "Reserved for expanded supported and enabled settings (words 121-126)");
  addRow(t, 127, 1, "Obsolete");
  addRow(t, 128, 1, "Security status:",
         {{"15:9", "Reserved"},
          {"8", "Master Password Capability: 0 = High, 1 = Maximum"},
          {"7:6", "Reserved"},
          {"5", "1 = Enhanced security erase supported"},
          {"4", "1 = Security count expired"},
          {"3", "1 = Security frozen"},
          {"2", "1 = Security locked"},
          {"1", "1 = Security enabled"},
          {"0", "1 = Security supported"}});
  addRow(t, 129, 31, "Vendor specific");
  addRow(t, 160, 1, "CFA power mode:",
         {{"15", "1 = word 160 is supported"},
          {"14", "Reserved"},
          {"13", "1 = CFA power mode 1 is required for one or more commands"},
          {"12", "1 = CFA power mode 1 is disabled"},
          {"11:0", "Maximum current in mA"}});
  addRow(t, 161, 7, "Reserved for the CompactFlash Association (words 161-167)");
  addRow(t, 168, 1, "Device nominal form factor:",
         {{"15:4", "Reserved"},
          {"3:0", "0 = not reported, 1 = 5.25\", 2 = 3.5\", 3 = 2.5\", 4 = 1.8\", 5 = smaller than 1.8\""}});
  addRow(t, 169, 1, "DATA SET MANAGEMENT command support:",
         {{"15:1", "Reserved"}, {"0", "1 = the TRIM bit of DATA SET MANAGEMENT is supported"}});
  addRow(t, 170, 4, "Additional product identifier (8 ASCII characters, words 170-173)");
  addRow(t, 174, 2, "Reserved (words 174-175)");
  addRow(t, 176, 30, "Current media serial number (60 ASCII characters)");
  addRow(t, 206, 1, "SCT Command Transport:",
         {{"15:12", "Vendor specific"},
          {"11:8", "Reserved"},
          {"7", "Reserved for Serial ATA"},
          {"6", "Reserved"},
          {"5", "1 = SCT Data Tables supported"},
          {"4", "1 = SCT Feature Control supported"},
          {"3", "1 = SCT Error Recovery Control supported"},
          {"2", "1 = SCT Write Same supported"},
          {"1", "Obsolete"},
          {"0", "1 = SCT Command Transport supported"}});
  addRow(t, 207, 2, "Reserved for CE-ATA (words 207-208)");
  addRow(t, 209, 1, "Alignment of logical blocks within a physical block:",
         {{"15", "Shall be cleared to zero"},
          {"14", "Shall be set to one"},
          {"13:0", "Offset of the first logical sector within the first physical sector"}});
  addRow(t, 210, 2, "Write-Read-Verify sector count, mode 3 (words 210-211)");
  addRow(t, 212, 2, "Write-Read-Verify sector count, mode 2 (words 212-213)");
  addRow(t, 214, 1, "Obsolete (NV Cache capabilities)");
  addRow(t, 215, 1, "Obsolete (NV Cache size, low word)");
  addRow(t, 216, 1, "Obsolete (NV Cache size, high word)");
  addRow(t, 217, 1, "Nominal media rotation rate:",
         {{"15:0", "0000h = not reported"},
          {"", "0001h = non-rotating media (solid state)"},
          {"", "0002h-0400h = reserved"},
          {"", "0401h-FFFEh = nominal rotation rate in rotations per minute"},
          {"", "FFFFh = reserved"}});
  addRow(t, 218, 1, "Reserved");
  addRow(t, 219, 1, "Obsolete (NV Cache options)");
  addRow(t, 220, 1, "Write-Read-Verify feature set current mode:",
         {{"15:8", "Reserved"}, {"7:0", "Write-Read-Verify feature set current mode"}});
  addRow(t, 221, 1, "Reserved");
  addRow(t, 222, 1, "Transport major version number (0000h or FFFFh = not reported):",
         {{"15:12", "Transport type: 0h = parallel, 1h = serial, 2h-Fh = reserved"},
          {"11:6", "Reserved"},
          {"5", "1 = SATA Revision 3.0 (serial)"},
          {"4", "1 = SATA Revision 2.6 (serial)"},
          {"3", "1 = SATA Revision 2.5 (serial)"},
          {"2", "1 = SATA II: Extensions (serial)"},
          {"1", "1 = SATA 1.0a (serial)"},
          {"0", "1 = ATA8-AST (serial) or ATA8-APT (parallel)"}});
  addRow(t, 223, 1, "Transport minor version number");
  addRow(t, 224, 6, "Reserved (words 224-229)");
  addRow(t, 230, 4, "Reserved (words 230-233)");
  addRow(t, 234, 1, "Minimum number of 512-byte data blocks per DOWNLOAD MICROCODE mode 03h operation");
  addRow(t, 235, 1, "Maximum number of 512-byte data blocks per DOWNLOAD MICROCODE mode 03h operation");
  addRow(t, 236, 19, "Reserved (words 236-254)");
  addRow(t, 255, 1, "Integrity word");
  return t;
}

std::string bitsText(uint16_t w) {
  std::string s;
  for (int bit = 15; bit >= 0; --bit) {
    s.push_back(((w >> bit) & 1) ? '1' : '0');
    if (bit % 4 == 0 && bit != 0) s.push_back(' ');
  }
  s.push_back('b');
  return s;
}

}  // namespace

const std::vector<IdentifyWordRow>& identifyWordTable() {
  static const std::vector<IdentifyWordRow> table = buildTable();
  return table;
}

bool isIdentifyStringRow(const IdentifyWordRow& row) {
  return row.usFirstWord == 10 || row.usFirstWord == 23 || row.usFirstWord == 27 || row.usFirstWord == 176;
}

IdentifyWords identifyWordsFromBytes(const uint8_t* data, size_t size) {
  IdentifyWords words{};
  for (size_t w = 0; w < words.size() && 2 * w + 1 < size; ++w) {
    words[w] = le16(&data[2 * w]);
  }
  return words;
}

std::string identifyValueText(const IdentifyWordRow& row, const IdentifyWords& words) {
  const size_t first = row.usFirstWord;
  const size_t count = std::min<size_t>(row.ucWordCount, words.size() - std::min(first, words.size()));
  std::string s;
  if (isIdentifyStringRow(row)) {
    for (size_t i = 0; i < count; ++i) {
      uint16_t w = words[first + i];
      char hi = static_cast<char>(w >> 8);
      char lo = static_cast<char>(w & 0xFF);
      s.push_back(hi == 0 ? ' ' : hi);
      s.push_back(lo == 0 ? ' ' : lo);
    }
    return s;
  }
  if (count == 1) {
    uint16_t w = words[first];
    return std::string(15, ' ') + formatText("%04XH", w) + "\r\n" + bitsText(w);
  }
  // Built from the first word on, each word put in front of the text, so the
  // most significant group of four words ends up first.
  for (size_t i = 0; i < count; ++i) {
    s.insert(0, formatText(i % 4 == 0 ? "%04XH" : "%04X ", words[first + i]));
    if (i % 4 == 3) s.insert(0, "\r\n");
  }
  return s;
}

const std::array<IdentifyColumn, 5>& identifyColumns() {
  static const std::array<IdentifyColumn, 5> columns = {
      {{86, "WD Offset"}, {60, "Length"}, {170, "Value 1"}, {170, "Value 2"}, {608, "Description"}}};
  return columns;
}

namespace {

IdentifyListRow listRow(const IdentifyWordRow& row, const IdentifyWords& words) {
  IdentifyListRow r;
  r.offset = formatText("%d", row.usFirstWord);
  r.length = formatText("%d", row.ucWordCount);
  r.value1 = identifyValueText(row, words);
  r.description = row.description;
  return r;
}

}  // namespace

std::vector<IdentifyListRow> identifySingleRows(const IdentifyWords& words) {
  std::vector<IdentifyListRow> rows;
  rows.reserve(kIdentifyRowCount);
  for (const IdentifyWordRow& row : identifyWordTable()) rows.push_back(listRow(row, words));
  return rows;
}

std::vector<IdentifyListRow> identifyCompareRows(const IdentifyWords& first, const IdentifyWords& second) {
  std::vector<IdentifyListRow> rows;
  rows.reserve(kIdentifyRowCount);
  for (const IdentifyWordRow& row : identifyWordTable()) {
    IdentifyListRow r = listRow(row, first);
    r.value2 = identifyValueText(row, second);
    rows.push_back(std::move(r));
  }
  return rows;
}

std::vector<std::string> identifyDifferences(const std::vector<IdentifyListRow>& compareRows) {
  std::vector<std::string> out;
  for (size_t i = 0; i < compareRows.size(); ++i) {
    const IdentifyListRow& r = compareRows[i];
    if (r.value1 != r.value2) out.push_back(formatText("Item %d offset: %s, ", static_cast<int>(i), r.offset.c_str()));
  }
  return out;
}

std::optional<int> identifyDifferenceRow(std::string_view entry) {
  constexpr std::string_view kItem = "Item ";
  size_t begin = entry.find(kItem);
  if (begin == std::string_view::npos) return std::nullopt;
  begin += kItem.size();
  size_t end = entry.find(" offset:", begin);
  if (end == std::string_view::npos) return std::nullopt;
  int row = -1;
  auto [ptr, ec] = std::from_chars(entry.data() + begin, entry.data() + end, row);
  if (ec != std::errc() || ptr != entry.data() + end) return std::nullopt;
  if (row < 0 || row >= kIdentifyRowCount) return std::nullopt;
  return row;
}

}  // namespace zorv
