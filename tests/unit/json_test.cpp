#include "json/json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <locale.h>
#endif

namespace plovatek {
namespace {

// The reader's message for text, or "" when it reads.
std::string FaultOf(const std::string& text) {
  try {
    ParseJson(text);
  } catch (const std::runtime_error& fault) {
    return fault.what();
  }
  return "";
}

std::string Bytes(const std::string& text) {
  std::string hex;
  char piece[4];
  for (const unsigned char c : text) {
    std::snprintf(piece, sizeof piece, "%02X ", c);
    hex += piece;
  }
  return hex;
}

TEST(ParseJson, FaultsNameTheirPosition) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::string ended = "the text ended too soon";
  const Case cases[] = {
      {"", "JSON error at character 0: " + ended},
      {"   ", "JSON error at character 3: " + ended},
      {"[", "JSON error at character 1: " + ended},
      {"{\"a\":1,", "JSON error at character 7: " + ended},
      {"{\"a\":1,}", "JSON error at character 7: expected a name in quotes"},
      {"{1:2}", "JSON error at character 1: expected a name in quotes"},
      {"{ ,}", "JSON error at character 2: expected a name in quotes"},
      {"[1,]", "JSON error at character 3: expected a value"},
      {"[1 2]", "JSON error at character 3: expected ']'"},
      {"{\"a\" 1}", "JSON error at character 5: expected ':'"},
      {"{\"a\":1 \"b\":2}", "JSON error at character 7: expected '}'"},
      {"{\"a\":}", "JSON error at character 5: expected a value"},
      {"tru", "JSON error at character 0: expected a value"},
      {"true false", "JSON error at character 5: unexpected extra text"},
      {"trueish", "JSON error at character 4: unexpected extra text"},
      {"nul", "JSON error at character 0: expected a value"},
      {"\"abc", "JSON error at character 4: text in quotes never ended"},
      {"\"ab\\", "JSON error at character 4: text in quotes never ended"},
      {"\"\\u12\"", "JSON error at character 3: bad \\u character"},
      {"\"\\u", "JSON error at character 3: bad \\u character"},
      {"\xEF\xBB\xBF{}", "JSON error at character 0: expected a value"},
      {"\f{}", "JSON error at character 0: expected a value"},
      {"[\f]", "JSON error at character 1: expected a value"},
      {"- 1", "JSON error at character 0: expected a value"},
      {"0x", "JSON error at character 1: unexpected extra text"},
      {"1 \n\t\r x", "JSON error at character 6: unexpected extra text"},
      {"/* no */ 1", "JSON error at character 0: expected a value"},
      {"'a'", "JSON error at character 0: expected a value"},
  };
  for (const Case& c : cases) EXPECT_EQ(FaultOf(c.text), c.message) << Bytes(c.text);
}

TEST(ParseJson, ReadsStructureInDocumentOrder) {
  EXPECT_EQ(ParseJson("{}").kind, JsonKind::Object);
  EXPECT_TRUE(ParseJson("{}").members.empty());
  EXPECT_EQ(ParseJson("[]").kind, JsonKind::Array);
  EXPECT_TRUE(ParseJson(" [ ] ").items.empty());

  const JsonValue value = ParseJson(" {\"b\" : [true, false, null, \"x\"], \"a\":{\"c\":-2.5}}\r\n");
  ASSERT_EQ(value.kind, JsonKind::Object);
  ASSERT_EQ(value.members.size(), 2u);
  EXPECT_EQ(value.members[0].name, "b");
  EXPECT_EQ(value.members[1].name, "a");
  const JsonValue& items = value.members[0].value;
  ASSERT_EQ(items.items.size(), 4u);
  EXPECT_EQ(items.items[0].kind, JsonKind::Bool);
  EXPECT_TRUE(items.items[0].boolean);
  EXPECT_EQ(items.items[1].kind, JsonKind::Bool);
  EXPECT_FALSE(items.items[1].boolean);
  EXPECT_EQ(items.items[2].kind, JsonKind::Null);
  EXPECT_EQ(items.items[3].text, "x");
  EXPECT_EQ(value.members[1].value.members[0].value.number, -2.5);
  // Fields of other kinds stay empty.
  EXPECT_TRUE(items.text.empty());
  EXPECT_EQ(items.items[3].number, 0.0);
  EXPECT_TRUE(items.items[3].items.empty());
}

TEST(ParseJson, NestingIsBoundedSoNoDocumentExhaustsTheStack) {
  const auto nested = [](int depth, const char* open, const char* close) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    text += "1";
    for (int i = 0; i < depth; ++i) text += close;
    return text;
  };
  EXPECT_EQ(FaultOf(nested(kMaxJsonDepth, "[", "]")), "");
  EXPECT_EQ(FaultOf(nested(kMaxJsonDepth, "{\"a\":", "}")), "");
  EXPECT_EQ(FaultOf(nested(kMaxJsonDepth + 1, "[", "]")),
            "JSON error at character 256: the text is nested too deeply");
  // Objects count too: the 257th opening is the fault, wherever it stands.
  const std::string objects = nested(kMaxJsonDepth, "{\"a\":", "}");
  const size_t innermost = objects.find('1');
  EXPECT_EQ(FaultOf(objects.substr(0, innermost) + "[" + objects.substr(innermost)),
            "JSON error at character 1280: the text is nested too deeply");
  // Far deeper than any stack: refused at the bound, long before the end.
  EXPECT_EQ(FaultOf(std::string(1000000, '[')), "JSON error at character 256: the text is nested too deeply");
  // Depth is nesting, not count: many siblings are fine.
  std::string siblings = "[";
  for (int i = 0; i < 10000; ++i) siblings += "[],";
  siblings += "[]]";
  EXPECT_EQ(ParseJson(siblings).items.size(), 10001u);
}

TEST(ParseJson, NumbersAreStrtodForms) {
  struct Case {
    std::string text;
    double value;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"0", 0.0},
      {"12", 12.0},
      {"-2.5", -2.5},
      {"+5", 5.0},
      {"007", 7.0},
      {".5", 0.5},
      {"5.", 5.0},
      {"1E2", 100.0},
      {"1e+2", 100.0},
      {"25e-1", 2.5},
      {"0x1A", 26.0},
      {"0X1a", 26.0},
      {"-0x10", -16.0},
      {"0x1p-2", 0.25},
      {"0x.8", 0.5},
      {"1e400", inf},
      {"-1e400", -inf},
      {"0x1p1024", inf},
      {"1e-400", 0.0},
      {"inf", inf},
      {"-Infinity", -inf},
      {"INF", inf},
      {"0.1", 0.1},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"9007199254740993", 9007199254740992.0},  // ties to even
      {"\v\f 7", 7.0},
      {"18446744073709551616", 18446744073709551616.0},
  };
  for (const Case& c : cases) {
    const JsonValue value = ParseJson(c.text);
    EXPECT_EQ(value.kind, JsonKind::Number) << c.text;
    EXPECT_EQ(value.number, c.value) << c.text;
    EXPECT_EQ(std::signbit(value.number), std::signbit(c.value)) << c.text;
  }
  EXPECT_TRUE(std::signbit(ParseJson("-0").number));
  EXPECT_TRUE(std::signbit(ParseJson("-1e-400").number));
  EXPECT_TRUE(std::isnan(ParseJson("nan").number));
  EXPECT_TRUE(std::isnan(ParseJson("NaN(12ab)").number));
  EXPECT_TRUE(std::isnan(ParseJson("-nan").number));
  // strtod stops where its form ends; the rest is extra text.
  EXPECT_EQ(FaultOf("1e"), "JSON error at character 1: unexpected extra text");
  EXPECT_EQ(FaultOf("0x1p"), "JSON error at character 3: unexpected extra text");
  EXPECT_EQ(FaultOf("infinit"), "JSON error at character 3: unexpected extra text");
  EXPECT_EQ(FaultOf("nan("), "JSON error at character 3: unexpected extra text");
  EXPECT_EQ(FaultOf("1.5.5"), "JSON error at character 3: unexpected extra text");
  EXPECT_EQ(FaultOf("--1"), "JSON error at character 0: expected a value");
  EXPECT_EQ(FaultOf("+-1"), "JSON error at character 0: expected a value");
  EXPECT_EQ(FaultOf("."), "JSON error at character 0: expected a value");
  EXPECT_EQ(FaultOf("0x-1"), "JSON error at character 1: unexpected extra text");
  // An exponent sign must be followed by digits; a second sign ends the number
  // before its 'p' (GCC 12's hexadecimal from_chars read "p+-1400" as an exponent).
  EXPECT_EQ(FaultOf("0x1p+-1400"), "JSON error at character 3: unexpected extra text");
  EXPECT_EQ(FaultOf("0x1.8p-+1"), "JSON error at character 5: unexpected extra text");
  EXPECT_EQ(FaultOf("1e+-5"), "JSON error at character 1: unexpected extra text");
  EXPECT_EQ(ParseJson("[1,\f2]").items[1].number, 2.0);
}

TEST(ParseJson, NumbersIgnoreTheProcessLocale) {
  const char* const commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "French"};
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const char* chosen = nullptr;
  for (const char* name : commaLocales) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr && std::localeconv()->decimal_point[0] == ',') {
      chosen = name;
      break;
    }
  }
  if (chosen == nullptr) {
    std::setlocale(LC_NUMERIC, saved.c_str());
    GTEST_SKIP() << "no locale with a decimal comma is installed here";
  }
  const double half = ParseJson("1.5").number;
  const std::string commaFault = FaultOf("1,5");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(half, 1.5) << chosen;
  EXPECT_EQ(commaFault, "JSON error at character 1: unexpected extra text") << chosen;
}

TEST(ParseJson, StringEscapes) {
  struct Case {
    std::string text;
    std::string value;
  };
  const Case cases[] = {
      {R"("a\"b\\c\/d")", "a\"b\\c/d"},
      {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
      {R"("\q\x\'")", "qx'"},
      {R"("\u0041")", "A"},
      {R"("\u00e9")", "\xC3\xA9"},
      {R"("\u00E9")", "\xC3\xA9"},
      {R"("\u07FF")", "\xDF\xBF"},
      {R"("\u20AC")", "\xE2\x82\xAC"},
      // Surrogate halves are not paired: each escape stands alone.
      {R"("\uD83D\uDE00")", "\xED\xA0\xBD\xED\xB8\x80"},
      // Read as strtoul does: it stops at the first non-hex byte, nothing read is 0,
      // and it takes leading spaces, a sign and a 0x; four bytes go either way.
      {R"("\u12zz")", "\x12"},
      {R"("\uzzzz")", std::string(1, '\0')},
      {R"("\u 7FF")", "\xDF\xBF"},
      {R"("\u0x7F")", "\x7F"},
      {R"("\u+7F!")", "\x7F"},
      {R"("\u-001")", "\xFF\xBF\xBF"},
      // The four bytes are taken even when a quote stands among them.
      {"\"\\u12\"\"\"", "\x12"},
      // Bytes pass unchecked: controls, and invalid UTF-8 too.
      {"\"\x01\n\xFF\xC3\"", "\x01\n\xFF\xC3"},
  };
  for (const Case& c : cases) {
    const JsonValue value = ParseJson(c.text);
    EXPECT_EQ(value.kind, JsonKind::String) << c.text;
    EXPECT_EQ(Bytes(value.text), Bytes(c.value)) << c.text;
  }
  EXPECT_EQ(ParseJson(std::string("\"a\0b\"", 5)).text, std::string("a\0b", 3));
}

TEST(JsonValue, LookupsTakeTheFirstMemberAndNeverThrow) {
  const JsonValue value = ParseJson(R"({"a":1,"a":2,"s":"text","n":null,"":"empty"})");
  ASSERT_EQ(value.members.size(), 5u);  // duplicates are kept
  EXPECT_EQ(value.members[1].value.number, 2.0);
  ASSERT_NE(value.Find("a"), nullptr);
  EXPECT_EQ(value.Find("a")->number, 1.0);
  EXPECT_EQ(value.Find("A"), nullptr);
  EXPECT_EQ(value.Find("missing"), nullptr);
  EXPECT_EQ(value.StringMember("s"), "text");
  EXPECT_EQ(value.StringMember(""), "empty");
  EXPECT_EQ(value.StringMember("a"), "");
  EXPECT_EQ(value.StringMember("n"), "");
  EXPECT_EQ(value.StringMember("missing"), "");
  // Names are bytes: no normalisation.
  EXPECT_EQ(ParseJson(R"({"\u00e9":1})").Find("\xC3\xA9")->number, 1.0);
  // A value that is not an object has no members.
  EXPECT_EQ(ParseJson(R"(["a"])").Find("a"), nullptr);
  EXPECT_EQ(ParseJson(R"("a")").StringMember("a"), "");
  EXPECT_EQ(JsonValue().kind, JsonKind::Null);
}

TEST(JsonValue, MovingTakesTheWholeSubtree) {
  JsonValue value = ParseJson(R"({"a":["x",{"b":"y"}]})");
  JsonValue moved = std::move(value);
  EXPECT_TRUE(value.members.empty());
  EXPECT_EQ(moved.Find("a")->items[1].StringMember("b"), "y");

  JsonValue text = ParseJson("\"a long enough string to live on the heap, not inline\"");
  JsonValue target;
  target = std::move(text);
  EXPECT_TRUE(text.text.empty());
  EXPECT_EQ(target.text, "a long enough string to live on the heap, not inline");
}

#ifndef _WIN32
// Natively the C library is at hand to compare with: the reader must take
// exactly strtod's bytes and value in the "C" locale, and strtoul's for \u.
TEST(ReadCNumber, TakesWhatStrtodTakes) {
  const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  ASSERT_NE(c, static_cast<locale_t>(0));
  const char* const texts[] = {
      "1", "-1", "+.5e-3x", "0x", "0x.", "0x.8p1", "0xg", "0x1P+", "0x1p-1075", "0x1.fffffffffffff8p1023",
      "1e", "1e+", "1e-", "5.e3", ".e3", "infinity", "INFINITE", "nan(", "nan()", "nan(_a1)", "nAn(1 2)", "-",
      "\t\v\f\r\n 3", "2.4703282292062327e-324", "2.4703282292062328e-324", "1e-324000000000000000000000000",
      "1e999999999999999999999999", ".0000000000000000000000000000000001e99999", "0e999999", "0x0p999999",
      "123456789012345678901234567890123456789012345678901234567890e-40", "00000000000000000000.1e1",
      "0x1p+-1400", "0x1.8p+-1", "0x1p-+3", "1e+-5"};
  for (const char* text : texts) {
    char* end = nullptr;
    const double expected = strtod_l(text, &end, c);
    double value = -1234.5;
    const size_t taken = ReadCNumber(text, value);
    EXPECT_EQ(taken, static_cast<size_t>(end - text)) << text;
    if (taken == 0) continue;
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(value)) << text;
      EXPECT_EQ(std::signbit(value), std::signbit(expected)) << text;
    } else {
      EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text << ": " << value << " vs " << expected;
    }
  }
  freelocale(c);
}

TEST(ParseJson, UnicodeEscapesReadFourBytesAsStrtoulDoes) {
  const std::string alphabet = "019afAFgxX+- \t\v";
  const auto encoded = [](unsigned long c) {
    std::string out;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>((0xE0 | (c >> 12)) & 0xFF);
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
  };
  int compared = 0;
  for (const char a : alphabet)
    for (const char b : alphabet)
      for (const char c : alphabet)
        for (const char d : alphabet) {
          const std::string four{a, b, c, d};
          const unsigned long expected = std::strtoul(four.c_str(), nullptr, 16);
          const std::string got = ParseJson("\"\\u" + four + "\"").text;
          ASSERT_EQ(Bytes(got), Bytes(encoded(expected))) << "\\u" << four;
          ++compared;
        }
  EXPECT_EQ(compared, 15 * 15 * 15 * 15);
}
#endif

}  // namespace
}  // namespace plovatek
