// Values as the tool shows and reads them: every type's text, JSON and command-line form.
#include <vlx/errors.h>
#include <vlx/reg_file.h>
#include <vlx/value_text.h>

#include <gtest/gtest.h>

#include <tuple>

namespace vlx::cli {
namespace {

using namespace std::string_literals;

TEST(VlxValueText, TypedDataReadsBackAsItsTextAndJson) {
  // type, as typed, as stored, as shown, as JSON
  const std::tuple<uint32_t, std::string, std::string, std::string, nlohmann::json> cases[] = {
      {reg::kTypeSz, "a\tb", "a\tb\0"s, "a\\tb", "a\tb"},
      {reg::kTypeExpandSz, "%X%", "%X%\0"s, "%X%", "%X%"},
      {reg::kTypeMultiSz, "one\\0two", "one\0two\0\0"s, "one\\0two", {"one", "two"}},
      {reg::kTypeMultiSz, "", "\0"s, "", nlohmann::json::array()},
      {reg::kTypeDword, "0xFFFFFFFF", "\xff\xff\xff\xff"s, "0xffffffff (4294967295)", 4294967295u},
      {reg::kTypeDword, "7", "\x07\0\0\0"s, "0x7 (7)", 7},
      {reg::kTypeQword, "0x100000000", "\0\0\0\0\x01\0\0\0"s, "0x100000000 (4294967296)",
       4294967296u},
      {reg::kTypeBinary, "00, ff,10", "\0\xff\x10"s, "00ff10", "00ff10"},
      {reg::kTypeNone, "", "", "", ""},
  };
  for (const auto &[type, typed, stored, shown, json] : cases) {
    SCOPED_TRACE(typeText(type) + " " + typed);
    EXPECT_EQ(parseData(type, typed), stored);
    EXPECT_EQ(dataText(type, stored), shown);
    EXPECT_EQ(dataJson(type, stored), json);
  }
  // Data of the wrong size for its type is shown as the bytes it is.
  EXPECT_EQ(dataText(reg::kTypeDword, "\x01\x02\x03"), "010203");
  EXPECT_EQ(dataJson(reg::kTypeQword, "\x01"), "01");
  // A text without its ending zero keeps all of its characters.
  EXPECT_EQ(dataText(reg::kTypeSz, "ab"), "ab");
}

TEST(VlxValueText, TypeNamesAndRefusedData) {
  EXPECT_EQ(typeNamed("dword"), reg::kTypeDword);
  EXPECT_EQ(typeNamed("REG_multi_sz"), reg::kTypeMultiSz);
  EXPECT_EQ(typeNamed("REG_LINK"), std::nullopt);
  EXPECT_EQ(typeText(6), "REG_TYPE_6");
  const std::pair<uint32_t, const char *> refused[] = {
      {reg::kTypeDword, "-1"},         {reg::kTypeDword, "4294967296"}, {reg::kTypeDword, "0x"},
      {reg::kTypeQword, "1.5"},        {reg::kTypeBinary, "abc"},       {reg::kTypeBinary, "0x01"},
      {reg::kTypeMultiSz, "a\\0\\0b"}, {reg::kTypeMultiSz, "a\\0"},
  };
  for (const auto &[type, typed] : refused) {
    SCOPED_TRACE(typed);
    try {
      parseData(type, typed);
      ADD_FAILURE() << "accepted";
    } catch (const Failure &f) {
      EXPECT_EQ(f.exitStatus, 2);
    }
  }
}

} // namespace
} // namespace vlx::cli
