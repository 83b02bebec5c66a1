// The text form of a printer default in its block slot: every kind comes back as it went in,
// and what does not fit comes back as no value rather than as something else.
#include "platform/cups/defaults-slot.h"
#include "platform/printers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace vellumora::printers {
namespace {

using Kind = DefaultValue::Kind;

DefaultValue RoundTrip(const DefaultValue& v) {
  std::array<char, kSlotValue> slot;
  slot.fill('\x55');
  EncodeSlotValue(v, slot);
  return DecodeSlotValue(slot);
}

DefaultValue Decode(std::string_view bytes) {
  std::array<char, kSlotValue> slot{};
  std::memcpy(slot.data(), bytes.data(), std::min(bytes.size(), slot.size()));
  return DecodeSlotValue(slot);
}

DefaultValue Text(Kind kind, std::string text) {
  DefaultValue v;
  v.kind = kind;
  v.text = std::move(text);
  return v;
}

TEST(DefaultsSlot, EveryKindKeepsItsTypeAndValue) {
  DefaultValue integer, enumeration, resolution, perCm;
  integer.kind = Kind::kInteger, integer.number = -2147483647 - 1;
  enumeration.kind = Kind::kEnum, enumeration.number = 4;
  resolution.kind = Kind::kResolution, resolution.x = 600, resolution.y = 1200;
  perCm = resolution, perCm.perCm = true;
  const DefaultValue values[] = {
      integer,
      enumeration,
      Text(Kind::kKeyword, "iso_a4_210x297mm"),
      Text(Kind::kName, "Tray 2 (Letterhead)"),
      Text(Kind::kName, std::string(kSlotTextMax, 'n')),  // exactly fills the slot
      resolution,
      perCm,
      DefaultValue{},
  };
  for (const auto& v : values) EXPECT_EQ(RoundTrip(v), v) << static_cast<int>(v.kind) << v.text;
}

TEST(DefaultsSlot, WhatCannotBeHeldWhollyIsNoValue) {
  EXPECT_EQ(RoundTrip(Text(Kind::kKeyword, std::string(kSlotTextMax + 1, 'k'))), DefaultValue{});
  EXPECT_EQ(RoundTrip(Text(Kind::kName, std::string("a\0b", 3))), DefaultValue{});
  EXPECT_EQ(RoundTrip(Text(Kind::kKeyword, "")), DefaultValue{});
}

TEST(DefaultsSlot, StoredSlotsOfEveryFormReadBack) {
  struct Case {
    std::string_view bytes;
    DefaultValue expected;
  };
  DefaultValue copies, res, resNoUnits;
  copies.kind = Kind::kInteger, copies.number = 3;
  res.kind = Kind::kResolution, res.x = 300, res.y = 300;
  resNoUnits = res;
  const Case cases[] = {
      {"i3", copies},
      // Blocks stored before names had a letter of their own keep reading as keywords.
      {"kface-down", Text(Kind::kKeyword, "face-down")},
      {"r300x300dpi", res},
      {"r300x300", resNoUnits},
      // Numbers that are not whole or do not fit are no value, not a wrapped number.
      {"i99999999999", {}},
      {"e12abc", {}},
      {"i", {}},
      {"r300x300dpx", {}},
      {"rx300dpi", {}},
      {"q1", {}},
      {"", {}},
  };
  for (const auto& tc : cases) EXPECT_EQ(Decode(tc.bytes), tc.expected) << tc.bytes;
}

// A block as the print server's defaults give it: "VLDB", the slot count, then the slots.
std::vector<uint8_t> BlockOf(const std::vector<std::pair<std::string, std::string>>& slots) {
  std::vector<uint8_t> block = {'V', 'L', 'D', 'B', 0, 0, 0, 0};
  block[4] = static_cast<uint8_t>(slots.size());
  for (const auto& [option, value] : slots) {
    std::array<char, kSlotSize> slot{};
    std::memcpy(slot.data(), option.data(), option.size());
    std::memcpy(slot.data() + kSlotName, value.data(), value.size());
    block.insert(block.end(), slot.begin(), slot.end());
  }
  return block;
}

TEST(DriverSettingsBlock, AChoiceChangesOnlyItsOwnSlotAndNothingElseGetsIn) {
  const std::vector<uint8_t> start =
      BlockOf({{"media", "kiso_a4_210x297mm"}, {"sides", "kone-sided"}});
  struct Case {
    const char* option;
    std::string token;
    bool taken;
    const char* media;  // what the block then records for media
  } cases[] = {
      {"media", "kiso_a5_148x210mm", true, "kiso_a5_148x210mm"},
      {"media", "", true, ""},                      // no value: the printer's own stays
      {"media", "r600x600dpi", true, "r600x600dpi"},  // the slot holds any kind
      {"media", "xunknown-kind", false, "kiso_a4_210x297mm"},
      {"media", "e12z", false, "kiso_a4_210x297mm"},
      {"media", std::string("kA4\0x", 5), false, "kiso_a4_210x297mm"},
      {"media", "k" + std::string(kSlotValue, 'a'), false, "kiso_a4_210x297mm"},
      {"output-bin", "kface-up", false, "kiso_a4_210x297mm"},  // the block has no slot for it
      {"", "kface-up", false, "kiso_a4_210x297mm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " = " + c.token);
    std::vector<uint8_t> block = start;
    EXPECT_EQ(SetBlockSetting(block, c.option, c.token), c.taken);
    EXPECT_EQ(block.size(), start.size());
    EXPECT_EQ(BlockSetting(block, "media"), c.media);
    EXPECT_EQ(BlockSetting(block, "sides"), "kone-sided");
  }
  // A damaged block is never written into.
  std::vector<uint8_t> damaged = start;
  damaged.pop_back();
  EXPECT_FALSE(SetBlockSetting(damaged, "media", "kiso_a5_148x210mm"));
  EXPECT_EQ(BlockSetting(damaged, "media"), "");
}

}  // namespace
}  // namespace vellumora::printers
