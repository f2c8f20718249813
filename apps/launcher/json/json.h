#pragma once
// The launcher's own JSON: one record type for every value, and a reader that
// names the byte position of the first fault.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plovatek {

enum class JsonKind : std::int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

struct JsonMember;

// Not a tagged union: every value holds every field; those of other kinds stay empty.
struct JsonValue {
  JsonKind kind = JsonKind::Null;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;

  JsonValue() = default;
  JsonValue(const JsonValue&) = default;
  JsonValue& operator=(const JsonValue&) = default;
  // A moved-from value keeps no text and no children.
  JsonValue(JsonValue&& other) noexcept;
  JsonValue& operator=(JsonValue&& other) noexcept;
  ~JsonValue() = default;

  // The first member with exactly this name, or null (always null for a non-object).
  const JsonValue* Find(std::string_view name) const;
  // That member's text when it is a String; otherwise empty. Never throws.
  std::string StringMember(std::string_view name) const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// Arrays and objects may nest this deep; one level more is a fault, so no
// document can run the reader (or the destructor) out of stack.
inline constexpr int kMaxJsonDepth = 256;

// The whole text as one value. Throws std::runtime_error
// "JSON error at character N: <fault>" (N = byte position from 0).
JsonValue ParseJson(std::string_view text);

// What C's strtod takes from the start of text in the "C" locale, whatever the
// process locale: returns the bytes taken (0 when none) and sets value.
std::size_t ReadCNumber(std::string_view text, double& value);

}  // namespace plovatek
