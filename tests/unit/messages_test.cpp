#include "messages.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace plovatek {
namespace {

struct ShownBox {
  std::wstring text;
  std::wstring title;
  unsigned style;
};
std::vector<ShownBox> g_shown;
int g_answer = IDYES;

int RecordBox(const wchar_t* text, const wchar_t* title, unsigned style) {
  g_shown.push_back({text, title, style});
  return g_answer;
}

class Boxes : public ::testing::Test {
 protected:
  void SetUp() override {
    g_shown.clear();
    previous_ = ReplaceMessageBoxForTesting(&RecordBox);
  }
  void TearDown() override { ReplaceMessageBoxForTesting(previous_); }
  MessageBoxFunction previous_ = nullptr;
};

TEST_F(Boxes, EachKindHasItsExactStyleAndTheTitle) {
  g_answer = IDYES;
  EXPECT_TRUE(AskYesNo("Go?"));
  ShowMessage("Careful", MessageKind::Warning);
  ShowMessage("Done \xC3\xA9", MessageKind::Information);
  ASSERT_EQ(g_shown.size(), 3u);
  EXPECT_EQ(g_shown[0].style, 0x00040024u);
  EXPECT_EQ(g_shown[1].style, 0x00040030u);
  EXPECT_EQ(g_shown[2].style, 0x00040040u);
  for (const ShownBox& box : g_shown) EXPECT_EQ(box.title, L"Plovatek");
  EXPECT_EQ(g_shown[2].text, L"Done \u00E9");
}

TEST_F(Boxes, OnlyYesCountsAsYes) {
  for (const int answer : {IDNO, IDCANCEL, 0}) {
    g_answer = answer;
    EXPECT_FALSE(AskYesNo("Go?")) << answer;
  }
}

TEST_F(Boxes, MalformedTextIsRefusedBeforeAnyBox) {
  EXPECT_THROW(ShowMessage("bad \xC3", MessageKind::Warning), std::range_error);
  EXPECT_THROW(AskYesNo("\xFF"), std::range_error);
  EXPECT_TRUE(g_shown.empty());
}

TEST(StrictConversion, RoundTripsAndRefusesMalformedText) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
  const std::wstring wide = Utf8ToWide(text);
  EXPECT_EQ(wide, std::wstring(L"a\u00E9\u20AC\xD83D\xDE00"));
  EXPECT_EQ(WideToUtf8(wide), text);

  for (const char* bad : {"\xC3", "\xC3(", "\xED\xA0\x80" /* encoded surrogate */, "\xC0\xAF" /* overlong */,
                          "\xF8\x88\x80\x80\x80", "ok\xFF"}) {
    EXPECT_THROW(Utf8ToWide(bad), std::range_error) << bad;
  }
  EXPECT_THROW(WideToUtf8(std::wstring(1, wchar_t(0xD800))), std::range_error);
  EXPECT_THROW(WideToUtf8(std::wstring(L"a") + wchar_t(0xDC00) + L"b"), std::range_error);
  // Embedded zeros are text like any other.
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(WindowsErrorText, AppendsTheLastErrorAsUnsignedDecimal) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(WindowsErrorText("Windows wouldn't start it"), "Windows wouldn't start it (Windows error 2)");
  SetLastError(0x80070005u);
  EXPECT_EQ(WindowsErrorText("x"), "x (Windows error 2147942405)");
  SetLastError(0xFFFFFFFFu);
  EXPECT_EQ(WindowsErrorText(""), " (Windows error 4294967295)");
}

}  // namespace
}  // namespace plovatek
