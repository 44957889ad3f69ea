// Packing and unpacking of variables in the agent's report copies, over a
// small device with report ids, fields that do not sit on byte boundaries,
// signed fields, a 1-bit button, constant padding and a scaled field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/varnel.h"
#include "hid/varnel_interface.h"
#include "support/sim_fixture.h"

namespace pts {
namespace {

using testing::SimRig;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kPage = 0xFF00;

// Output report 2 (32 bits): u3 | s5 | s12 | button | 3 bits padding | u8 scaled 0..1000.
// Input report 3: s16. Feature report 4: u8.
Bytes SyntheticDescriptor() {
  return {
      0x06, 0x00, 0xFF,  // Usage Page (0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x85, 0x02,        //   Report ID (2)
      0x95, 0x01,        //   Report Count (1)
      0x15, 0x00,        //   Logical Minimum (0)
      0x25, 0x07,        //   Logical Maximum (7)
      0x75, 0x03,        //   Report Size (3)
      0x09, 0x01,        //   Usage (1)
      0x91, 0x02,        //   Output (Data, Var, Abs)         bits 0..2
      0x15, 0xF0,        //   Logical Minimum (-16)
      0x25, 0x0F,        //   Logical Maximum (15)
      0x75, 0x05,        //   Report Size (5)
      0x09, 0x02,        //   Usage (2)
      0x91, 0x02,        //   Output                          bits 3..7
      0x16, 0x00, 0xF8,  //   Logical Minimum (-2048)
      0x26, 0xFF, 0x07,  //   Logical Maximum (2047)
      0x75, 0x0C,        //   Report Size (12)
      0x09, 0x03,        //   Usage (3)
      0x91, 0x02,        //   Output                          bits 8..19
      0x15, 0x00,        //   Logical Minimum (0)
      0x25, 0x01,        //   Logical Maximum (1)
      0x75, 0x01,        //   Report Size (1)
      0x09, 0x04,        //   Usage (4)
      0x91, 0x02,        //   Output                          bit 20
      0x75, 0x03,        //   Report Size (3)
      0x91, 0x01,        //   Output (Constant)               bits 21..23
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x35, 0x00,        //   Physical Minimum (0)
      0x46, 0xE8, 0x03,  //   Physical Maximum (1000)
      0x75, 0x08,        //   Report Size (8)
      0x09, 0x05,        //   Usage (5)
      0x91, 0x02,        //   Output                          bits 24..31
      0x85, 0x03,        //   Report ID (3)
      0x45, 0x00,        //   Physical Maximum (0)
      0x16, 0x00, 0x80,  //   Logical Minimum (-32768)
      0x26, 0xFF, 0x7F,  //   Logical Maximum (32767)
      0x75, 0x10,        //   Report Size (16)
      0x09, 0x06,        //   Usage (6)
      0x81, 0x02,        //   Input
      0x85, 0x04,        //   Report ID (4)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
      0x09, 0x07,        //   Usage (7)
      0xB1, 0x02,        //   Feature
      0xC0,              // End Collection
  };
}

class Synthetic {
 public:
  Synthetic() : rig_({.statuses = {}, .open = false}) {
    rig_.backend.AddDevice(0x1234, 0x5678, SyntheticDescriptor(), 0, "synthetic");
    rig_.varnel.SearchOnVID(false);
    rig_.varnel.SearchOnPID(false);
    EXPECT_TRUE(rig_.varnel.OpenDevices());
    rig_.varnel.SelectOpenIntf(0);
  }
  Varnel& V() { return rig_.varnel; }
  hid::SimulatedBackend& Sim() { return rig_.backend; }
  int32_t Out(int32_t usage) { return rig_.varnel.FindVar(kPage, usage, 1, false); }
  // Writes the output report and returns what the device received.
  Bytes Send() {
    V().SelectRpt(V().VarRptIndex(Out(1)));
    EXPECT_TRUE(V().WriteRpt());
    return Sim().LastReport(1);
  }

 private:
  SimRig rig_;
};

TEST(BitPacking, NumbersEveryDataElementButNotThePadding) {
  Synthetic s;
  EXPECT_EQ(s.V().VarCount(), 7);
  EXPECT_EQ(s.V().RptCount(), 3);
  for (int32_t usage = 1; usage <= 5; ++usage) EXPECT_EQ(s.Out(usage), usage - 1);
  EXPECT_EQ(s.V().FindVar(kPage, 6, 0, false), 5);
  EXPECT_EQ(s.V().FindVar(kPage, 7, 2, false), 6);
  EXPECT_TRUE(s.V().VarIsButton(3));
  EXPECT_FALSE(s.V().VarIsButton(0));
  s.V().SelectVar(1);
  EXPECT_EQ(s.V().LogicalMinimum(), -16);
  EXPECT_EQ(s.V().SizeInBits(), 5);
}

struct PackCase {
  std::string name;
  int32_t usage;
  int32_t written;
  int32_t read_back;
  Bytes report;  // report id, then the 4 bytes of the report
};

class PackTest : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackTest, WritesTheBitsAndReadsThemBack) {
  const PackCase& c = GetParam();
  Synthetic s;
  const int32_t var = s.Out(c.usage);
  s.V().SetUnscaled(var, c.written);
  EXPECT_EQ(s.V().GetUnscaled(var), c.read_back);
  EXPECT_EQ(s.Send(), c.report);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PackTest,
    ::testing::Values(PackCase{"Unsigned3", 1, 5, 5, {2, 0x05, 0, 0, 0}},
                      PackCase{"Unsigned3Truncated", 1, 9, 1, {2, 0x01, 0, 0, 0}},
                      PackCase{"Signed5Negative", 2, -3, -3, {2, 0xE8, 0, 0, 0}},
                      PackCase{"Signed5TruncatedWraps", 2, 20, -12, {2, 0xA0, 0, 0, 0}},
                      PackCase{"Signed12Minimum", 3, -2048, -2048, {2, 0, 0x00, 0x08, 0}},
                      PackCase{"Signed12Maximum", 3, 2047, 2047, {2, 0, 0xFF, 0x07, 0}},
                      PackCase{"Signed12MinusOne", 3, -1, -1, {2, 0, 0xFF, 0x0F, 0}},
                      PackCase{"Button", 4, 1, 1, {2, 0, 0, 0x10, 0}},
                      PackCase{"Unsigned8", 5, 200, 200, {2, 0, 0, 0, 0xC8}},
                      PackCase{"Unsigned8Truncated", 5, 0x1FF, 255, {2, 0, 0, 0, 0xFF}}),
    [](const auto& info) { return info.param.name; });

TEST(BitPacking, NeighboursKeepTheirBits) {
  Synthetic s;
  s.V().SetUnscaled(s.Out(1), 5);
  s.V().SetUnscaled(s.Out(2), -3);
  s.V().SetUnscaled(s.Out(3), -2048);
  s.V().SetUnscaled(s.Out(4), 1);
  s.V().SetUnscaled(s.Out(5), 200);
  EXPECT_EQ(s.Send(), (Bytes{2, 0xED, 0x00, 0x18, 0xC8}));
  s.V().SetUnscaled(s.Out(2), 0);
  s.V().SetUnscaled(s.Out(4), 0);
  EXPECT_EQ(s.Send(), (Bytes{2, 0x05, 0x00, 0x08, 0xC8}));
  EXPECT_EQ(s.V().GetUnscaled(s.Out(1)), 5);
  EXPECT_EQ(s.V().GetUnscaled(s.Out(3)), -2048);
}

TEST(BitPacking, SignedInputArrivesSignExtended) {
  Synthetic s;
  const int32_t in = s.V().FindVar(kPage, 6, 0, false);
  s.V().SelectRpt(s.V().VarRptIndex(in));
  for (const auto& [bytes, value] : std::vector<std::pair<Bytes, int32_t>>{
           {{0x00, 0x80}, -32768}, {{0xFF, 0x7F}, 32767}, {{0xFE, 0xFF}, -2}}) {
    s.Sim().SetInputReport(1, bytes);
    ASSERT_TRUE(s.V().ReadRpt());
    EXPECT_EQ(s.V().GetUnscaled(in), value);
  }
}

TEST(BitPacking, FeatureReportsAreNotTransferred) {
  Synthetic s;
  s.V().SelectRpt(s.V().VarRptIndex(6));
  EXPECT_FALSE(s.V().ReadRpt());
  EXPECT_FALSE(s.V().WriteRpt());
  EXPECT_EQ(s.Sim().TotalReceived(1), 0u);
}

TEST(BitPacking, ScaledValuesMapLogicalToPhysical) {
  Synthetic s;
  const int32_t scaled = s.Out(5);  // logical 0..255, physical 0..1000
  const int32_t plain = s.Out(3);   // no physical range: scaled is logical
  struct Row {
    int32_t unscaled, scaled;
  };
  for (const Row r : {Row{0, 0}, Row{255, 1000}, Row{128, 502}, Row{51, 200}}) {
    s.V().SetUnscaled(scaled, r.unscaled);
    EXPECT_EQ(s.V().GetScaled(scaled), r.scaled) << r.unscaled;
  }
  s.V().SetScaled(scaled, 1000);
  EXPECT_EQ(s.V().GetUnscaled(scaled), 255);
  s.V().SetScaled(scaled, 500);
  EXPECT_EQ(s.V().GetUnscaled(scaled), 128);
  s.V().SetScaled(plain, -5);
  EXPECT_EQ(s.V().GetUnscaled(plain), -5);
  EXPECT_EQ(s.V().GetScaled(plain), -5);
}

// Every width and bit position against a bit-at-a-time model of the packing,
// over a report with marked neighbours; wider than 32 bits included.
TEST(BitPacking, AnyWidthAtAnyPositionMatchesTheBitModel) {
  hid::AgentInterface in;
  in.reports.assign(1, Bytes(12));
  for (const uint32_t width : {1u, 3u, 7u, 8u, 9u, 16u, 31u, 32u, 33u, 40u, 70u}) {
    for (uint32_t pos = 0; pos + width <= 96; pos += 5) {
      for (const bool is_signed : {false, true}) {
        for (const int32_t value : {0x5A5A5A5A, -3, 1, -0x7FFFFFFF}) {
          hid::AgentVar v;
          v.bit_pos = pos;
          v.bits = width;
          v.is_signed = is_signed;
          Bytes want(12, 0xA5);
          for (uint32_t i = 0; i < width; ++i) {
            const bool on = i < 32 ? ((uint32_t(value) >> i) & 1u) != 0 : (value < 0 && is_signed);
            const auto mask = uint8_t(1u << ((pos + i) % 8));
            want[(pos + i) / 8] = on ? want[(pos + i) / 8] | mask : want[(pos + i) / 8] & ~mask;
          }
          in.reports[0].assign(12, 0xA5);
          hid::SetUnscaledValue(in, v, value);
          ASSERT_EQ(in.reports[0], want) << width << " bits at " << pos << " signed " << is_signed;
          const uint32_t bits = std::min(width, 32u);
          int64_t back = int64_t{uint32_t(value)} & ((int64_t{1} << bits) - 1);
          if (is_signed && (back >> (bits - 1)) != 0) back -= int64_t{1} << bits;
          EXPECT_EQ(hid::GetUnscaledValue(in, v), int32_t(back)) << width << " at " << pos;
        }
      }
    }
  }
}

}  // namespace
}  // namespace pts
