#pragma once
// One JSON object per line, for records that a test reads back from Python.
// Texts arrive as UTF-16 from Windows and are written as UTF-8; an unpaired
// surrogate is kept as a \u escape instead of being replaced, so a test sees
// exactly what the window or command line held.

#include <cstdint>
#include <string>
#include <string_view>

namespace plovatek::testing {

std::string JsonString(std::wstring_view text);

class JsonObject {
 public:
  JsonObject& AddText(std::string_view key, std::wstring_view text);
  JsonObject& AddNumber(std::string_view key, std::int64_t number);
  JsonObject& AddBool(std::string_view key, bool value);
  // value must already be JSON (an object, an array, a number).
  JsonObject& AddRaw(std::string_view key, std::string_view value);
  std::string Text() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};

class JsonArray {
 public:
  JsonArray& AddRaw(std::string_view value);
  std::string Text() const { return body_ + "]"; }

 private:
  std::string body_ = "[";
};

}  // namespace plovatek::testing
