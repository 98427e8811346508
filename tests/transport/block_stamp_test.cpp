#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "transport/block_stamp.h"

namespace zorv {
namespace {

TEST(BlockStamp, LayoutOfOneBlock) {
  std::vector<uint8_t> b(512);
  StampBlocks(1, 0x12345678, b.data());
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 22),
            (std::vector<uint8_t>{0xAA, 0x55, 0xAA, 0x55, 0x12, 0x34, 0x56, 0x78, 0x01, 0x23, 0x45,
                                  0x67, 0x00, 0x08, 'V', 'X', 'A', 'w', 'D', 'V', 'D', 0x00}));
  // First generated word: state = (L + 1) * 1103515245 + 12345, bits 16..31.
  uint32_t state = (0x12345678u + 1) * 1103515245u + 12345u;
  EXPECT_EQ(b[22] | (b[23] << 8), static_cast<int>(state >> 16));
  EXPECT_EQ(b[510] | (b[511] << 8), stampChecksum(b.data()));
}

// Whole blocks, written out apart from the code from the block layout and
// its generator: a checksum over fewer words, over big-endian words, or a
// word left unfilled shows here.
const char* const kBlock0 =
    "AA55AA55000000000000000000005658417744564400C6417E9681276BC44BF9"
    "FB95E2D9FB9C54BFF60FBD0ADF317C231CAFE17D87C401E2BFD231E2DEE356E9"
    "72930F504728672C6675874259B3AA4D88E43CF759EFEAEE565613E17BCAD231"
    "85ADA199D8693CB5543B557D2F10371BAE7A65DE5BB4DAE30261797A9883CC28"
    "E3E01A9F764B8E855FFAD92899878F381F753F49368FEE48432078BF4D1E0D3D"
    "FA33BEEFA636DAADE43086058E14DCC229596D0C4EB3FF62569FE1AB701D20A6"
    "FBA68FF1B18458D305339056C5DD09F8DC1D53EBCD7BAAE33BB7485699E75214"
    "D32352119DEE06E09F1AEA11B5A5C2E6061C13C898DB4999B2FE01201E37AC60"
    "326E88F231FD9CB252B74610953A711E36FE8FD357CDF61E39BA1DE5168AFA3C"
    "8813749FF57898CE7C7E173D5CE6415FBBB06DBD71C38E8C0FCC702C5992C7E3"
    "015B1BB92FDA330C3D7B91C6C0DE1D4AA5510DE40D18AB2633A48D577EA55EC8"
    "8F353EA7E6B86848743EA64D3AB5B110C3209384117DA80E6430C7D2DB2CCA46"
    "E02D60C8E13CF314BFCE091600C76725A26FE3EA256CA0F221CC31458715D553"
    "6258C5A1A88D4F687E982E3609AD6BEB94919FA1B0966DBDA9309EC05A400B2D"
    "4643700F8042B64DCF5D47C70CACA666A5CB2AA2D855AC46FB64A0F1EBF1B708"
    "79E6247472D22395922648158024C5EBA644A784851AB702D7AD8C4F9042E4C6";
const char* const kBlock12345678 =
    "AA55AA55123456780123456700085658417744564400374DEA319BAE9A878E91"
    "664BC9BBA53A3E36D982B0D203782CAE3AAE47271AAEF9435F816D75C73010B9"
    "17EED874D37C6FC9076AC49F3537362045B657B80AE4F208B684D6385511A6E9"
    "28178A9A76719D512EB4701F6B21F228BF8DA48ACA16DC4C8D758AF37A71BAA4"
    "267BC19F352DE27BCD4FC98FBE6E29AC160C6E2AE16832E544B3FC322F95771C"
    "639021F676BC19F22449A059020B67967B42BB3A972C307CFAB25D47292CC9E3"
    "EB7E0B3E6193DD0A30BA8940D105F78CDB6B4CA5F153D1408DEFA373E1C15A9E"
    "8F10A376DDFD8979B2BAD7927F02E49DE7DCA5CAB8E0CF969DD97E1D8C2D95B0"
    "DEA0CD2D918F38FE28509D5925A8F8EF0CF408B27254A5C688C763FD2302A6EF"
    "250D2BB0E393C515D15DAE889A11C0727A097939672090AD6EE5854E5BFE7651"
    "75A42039FB7DCBA9AC949D2E743D858E205FBB459C15886D2E25D6FEAD7CB29C"
    "9D17CF22C058A5C07863BCA40B7E53D4AC1050F2DAD44B1D662E09DF4EE3C518"
    "2B691C16D9366E2DB4E620BF75E9F4AD8F037CC1A73E5178764E92D23714D93D"
    "6EDDA83AACA202409FD89BFC89C9F50DF6D642CC4AE3D88E7D68A3FF1DDDD964"
    "75EAD866610EFA743981BFB6DF0B9F1FD2D365F2CB72D97559E530FF79677077"
    "1028CE4FDF43B2253FA6E151CEB1FEF6D0DC670AF02C0FF7AAA3EB0C80A89682";

std::vector<uint8_t> fromHex(const char* hex) {
  std::vector<uint8_t> out;
  for (const char* p = hex; p[0] && p[1]; p += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

TEST(BlockStamp, WholeBlocksArePinned) {
  const struct {
    uint32_t number;
    const char* hex;
    uint16_t checksum;
  } cases[] = {{0, kBlock0, 0xC6E4}, {0x12345678, kBlock12345678, 0x8296}};
  for (const auto& c : cases) {
    std::vector<uint8_t> expected = fromHex(c.hex);
    ASSERT_EQ(expected.size(), 512u);
    std::vector<uint8_t> b(512, 0xEE);
    StampBlocks(1, c.number, b.data());
    EXPECT_EQ(b, expected) << std::hex << c.number;
    EXPECT_EQ(stampChecksum(expected.data()), c.checksum) << std::hex << c.number;
    EXPECT_EQ(expected[510] | expected[511] << 8, c.checksum);
  }
}

TEST(BlockStamp, CheckFindsWrongNumberAndBadSum) {
  test::RecordingPort port;
  test::TestContext t(port);
  std::vector<uint8_t> buf(4 * 512);
  StampBlocks(4, 100, buf.data());
  EXPECT_EQ(CheckStampedBlocks(t.ctx, buf.data(), 100, 4), "");
  EXPECT_EQ(CheckStampedBlocks(t.ctx, buf.data(), 101, 4), "Block No Check Error");

  auto damaged = buf;
  damaged[2 * 512 + 300] ^= 0x40;
  EXPECT_EQ(CheckStampedBlocks(t.ctx, damaged.data(), 100, 4), "Compare Check Sum Error");
  EXPECT_NE(t.pane.text().find("Block 66  Check Sum = "), std::string::npos) << t.pane.text();

  // Signature bytes are not compared: a changed signature with a matching sum
  // passes, the same change without fixing the sum fails on the sum.
  auto resigned = buf;
  resigned[0] = 0x00;
  EXPECT_EQ(CheckStampedBlocks(t.ctx, resigned.data(), 100, 1), "Compare Check Sum Error");
  uint16_t sum = stampChecksum(resigned.data());
  resigned[510] = static_cast<uint8_t>(sum);
  resigned[511] = static_cast<uint8_t>(sum >> 8);
  EXPECT_EQ(CheckStampedBlocks(t.ctx, resigned.data(), 100, 1), "");
}

}  // namespace
}  // namespace zorv
