#include "json/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace plovatek {
namespace {

// isspace() of the "C" locale.
bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsJsonWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWithNoCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if ((text[i] | 0x20) != word[i]) return false;
  }
  return true;
}

bool IsNanSequenceByte(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// from_chars reports a result out of range without saying which way; strtod
// gives infinity for a huge magnitude and zero for a tiny one. An overflowing
// number is far above 1 and an underflowing one far below, so the position of
// its first significant digit plus its exponent tells which.
bool MagnitudeAtLeastOne(std::string_view digits, bool hex) {
  const char exponentLetter = hex ? 'p' : 'e';
  long long integerDigits = 0;    // significant digits before the point
  long long zerosAfterPoint = 0;  // zeros between the point and the first significant digit
  bool significant = false;
  bool afterPoint = false;
  size_t i = 0;
  for (; i < digits.size(); ++i) {
    const char c = digits[i];
    if (c == '.') {
      afterPoint = true;
      continue;
    }
    if ((c | 0x20) == exponentLetter) break;
    if (!significant) {
      if (c == '0') {
        if (afterPoint) ++zerosAfterPoint;
        continue;
      }
      significant = true;
    }
    if (!afterPoint) ++integerDigits;
  }
  // The power of the radix of the first significant digit.
  const long long leading = integerDigits > 0 ? integerDigits - 1 : -(zerosAfterPoint + 1);
  long long exponent = 0;
  if (i < digits.size()) {
    ++i;
    bool negative = false;
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) negative = digits[i++] == '-';
    for (; i < digits.size() && IsDecimalDigit(digits[i]); ++i) {
      if (exponent < 1000000000) exponent = exponent * 10 + (digits[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return (hex ? leading * 4 + exponent : leading + exponent) >= 0;
}

// strtoul(bytes, nullptr, 16) of the "C" locale on four bytes, as the 32-bit
// unsigned long of Windows sees it: spaces, a sign and a 0x are taken too.
std::uint32_t ReadHexLikeStrtoul(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && IsCSpace(bytes[i])) ++i;
  bool negative = false;
  if (i < bytes.size() && (bytes[i] == '+' || bytes[i] == '-')) negative = bytes[i++] == '-';
  if (i + 2 < bytes.size() && bytes[i] == '0' && (bytes[i + 1] | 0x20) == 'x' && HexDigitValue(bytes[i + 2]) >= 0) {
    i += 2;
  }
  std::uint32_t value = 0;
  for (; i < bytes.size() && HexDigitValue(bytes[i]) >= 0; ++i) value = value * 16 + static_cast<std::uint32_t>(HexDigitValue(bytes[i]));
  return negative ? 0u - value : value;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>((0xC0 | (c >> 6)) & 0xFF);
    out += static_cast<char>((0x80 | (c & 0x3F)) & 0xFF);
  } else {
    out += static_cast<char>((0xE0 | (c >> 12)) & 0xFF);
    out += static_cast<char>((0x80 | ((c >> 6) & 0x3F)) & 0xFF);
    out += static_cast<char>((0x80 | (c & 0x3F)) & 0xFF);
  }
}

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  JsonValue ReadDocument() {
    JsonValue value = ReadValue(0);
    SkipWhitespace();
    if (position_ != text_.size()) Fail("unexpected extra text");
    return value;
  }

 private:
  [[noreturn]] void Fail(std::string_view fault) const {
    throw std::runtime_error("JSON error at character " + std::to_string(position_) + ": " + std::string(fault));
  }

  void SkipWhitespace() {
    while (position_ < text_.size() && IsJsonWhitespace(text_[position_])) ++position_;
  }

  char Peek() {
    SkipWhitespace();
    if (position_ >= text_.size()) Fail("the text ended too soon");
    return text_[position_];
  }

  void Expect(char c) {
    if (Peek() != c) Fail(std::string("expected '") + c + "'");
    ++position_;
  }

  // depth: how many arrays and objects enclose this value.
  JsonValue ReadValue(int depth) {
    const char first = Peek();
    if (first == '{' || first == '[') {
      if (depth >= kMaxJsonDepth) Fail("the text is nested too deeply");
      return first == '{' ? ReadObject(depth + 1) : ReadArray(depth + 1);
    }
    JsonValue value;
    if (first == '"') {
      value.kind = JsonKind::String;
      value.text = ReadString();
      return value;
    }
    // Prefix matches: what follows the word is left for the caller to reject.
    const std::string_view rest = text_.substr(position_);
    if (rest.starts_with("true")) {
      value.kind = JsonKind::Bool;
      value.boolean = true;
      position_ += 4;
    } else if (rest.starts_with("false")) {
      value.kind = JsonKind::Bool;
      position_ += 5;
    } else if (rest.starts_with("null")) {
      position_ += 4;
    } else {
      const size_t taken = ReadCNumber(rest, value.number);
      if (taken == 0) Fail("expected a value");
      value.kind = JsonKind::Number;
      position_ += taken;
    }
    return value;
  }

  JsonValue ReadObject(int depth) {
    ++position_;  // '{'
    JsonValue object;
    object.kind = JsonKind::Object;
    if (Peek() == '}') {
      ++position_;
      return object;
    }
    for (;;) {
      if (Peek() != '"') Fail("expected a name in quotes");
      JsonMember member;
      member.name = ReadString();
      Expect(':');
      member.value = ReadValue(depth);
      object.members.push_back(std::move(member));
      if (Peek() != ',') break;
      ++position_;
    }
    Expect('}');
    return object;
  }

  JsonValue ReadArray(int depth) {
    ++position_;  // '['
    JsonValue array;
    array.kind = JsonKind::Array;
    if (Peek() == ']') {
      ++position_;
      return array;
    }
    array.items.push_back(ReadValue(depth));
    while (Peek() == ',') {
      ++position_;
      array.items.push_back(ReadValue(depth));
    }
    Expect(']');
    return array;
  }

  std::string ReadString() {
    Expect('"');
    std::string out;
    for (;;) {
      // Plain bytes (control bytes and 0x80 and up included) are copied in runs.
      const size_t special = text_.find_first_of("\"\\", position_);
      if (special == std::string_view::npos) {
        position_ = text_.size();
        Fail("text in quotes never ended");
      }
      out.append(text_.substr(position_, special - position_));
      position_ = special + 1;
      if (text_[special] == '"') return out;
      if (position_ >= text_.size()) Fail("text in quotes never ended");
      const char escaped = text_[position_++];
      switch (escaped) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u':
          if (text_.size() - position_ < 4) Fail("bad \\u character");
          // Each escape stands alone: surrogate halves are not paired.
          AppendUtf8(out, ReadHexLikeStrtoul(text_.substr(position_, 4)));
          position_ += 4;
          break;
        default: out += escaped; break;
      }
    }
  }

  std::string_view text_;
  size_t position_ = 0;
};

}  // namespace

JsonValue::JsonValue(JsonValue&& other) noexcept
    : kind(other.kind),
      boolean(other.boolean),
      number(other.number),
      text(std::move(other.text)),
      items(std::move(other.items)),
      members(std::move(other.members)) {
  // A moved-from string is only "valid"; the model promises it empty.
  other.text.clear();
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
  if (this != &other) {
    kind = other.kind;
    boolean = other.boolean;
    number = other.number;
    text = std::move(other.text);
    items = std::move(other.items);
    members = std::move(other.members);
    other.text.clear();
    other.items.clear();
    other.members.clear();
  }
  return *this;
}

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const JsonMember& member : members) {
    if (member.name == name) return &member.value;
  }
  return nullptr;
}

std::string JsonValue::StringMember(std::string_view name) const {
  const JsonValue* value = Find(name);
  if (value == nullptr || value->kind != JsonKind::String) return {};
  return value->text;
}

JsonValue ParseJson(std::string_view text) { return JsonReader(text).ReadDocument(); }

// strtod itself follows the process locale (the decimal point) and differs
// between C runtimes (older msvcrt reads no hexadecimal, inf or nan). Here the
// extent of the number is found by strtod's own grammar, and from_chars, which
// is locale-free and correctly rounded everywhere, converts exactly that span.
// (The span matters: GCC 12's hexadecimal from_chars takes "p+-1" as an exponent.)
std::size_t ReadCNumber(std::string_view text, double& value) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::string_view rest = text.substr(i);

  if (StartsWithNoCase(rest, "inf")) {
    i += StartsWithNoCase(rest, "infinity") ? 8 : 3;
    value = negative ? -HUGE_VAL : HUGE_VAL;
    return i;
  }
  if (StartsWithNoCase(rest, "nan")) {
    i += 3;
    // "nan(" letters, digits and '_' ")" is taken whole; without its ')' only "nan" is.
    if (i < n && text[i] == '(') {
      size_t close = i + 1;
      while (close < n && IsNanSequenceByte(text[close])) ++close;
      if (close < n && text[close] == ')') i = close + 1;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    value = negative ? -nan : nan;
    return i;
  }

  const auto isDigit = [](char c, bool hex) { return hex ? HexDigitValue(c) >= 0 : IsDecimalDigit(c); };
  // "0x" counts only when a hexadecimal number follows; otherwise the 0 alone is read.
  bool hex = false;
  if (rest.size() >= 3 && rest[0] == '0' && (rest[1] | 0x20) == 'x') {
    hex = HexDigitValue(rest[2]) >= 0 || (rest.size() >= 4 && rest[2] == '.' && HexDigitValue(rest[3]) >= 0);
  }
  const size_t mantissa = hex ? i + 2 : i;
  size_t end = mantissa;
  size_t digits = 0;
  while (end < n && isDigit(text[end], hex)) ++end, ++digits;
  if (end < n && text[end] == '.') {
    ++end;
    while (end < n && isDigit(text[end], hex)) ++end, ++digits;
  }
  if (digits == 0) return 0;
  if (end < n && (text[end] | 0x20) == (hex ? 'p' : 'e')) {
    size_t exponent = end + 1;
    if (exponent < n && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < n && IsDecimalDigit(text[exponent])) {
      while (exponent < n && IsDecimalDigit(text[exponent])) ++exponent;
      end = exponent;
    }
  }

  const std::string_view span = text.substr(mantissa, end - mantissa);
  double result = 0.0;
  const std::from_chars_result read = std::from_chars(span.data(), span.data() + span.size(), result,
                                                      hex ? std::chars_format::hex : std::chars_format::general);
  if (read.ec == std::errc::invalid_argument) return 0;
  if (read.ec == std::errc::result_out_of_range) result = MagnitudeAtLeastOne(span, hex) ? HUGE_VAL : 0.0;
  value = negative ? -result : result;
  return end;
}

}  // namespace plovatek
