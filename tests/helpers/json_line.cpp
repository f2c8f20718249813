#include "json_line.h"

namespace plovatek::testing {
namespace {

void AppendEscaped(std::string& out, unsigned unit) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string JsonString(std::wstring_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned unit = static_cast<unsigned>(text[i]) & 0xFFFF;
    if (unit == '"') {
      out += "\\\"";
    } else if (unit == '\\') {
      out += "\\\\";
    } else if (unit == '\n') {
      out += "\\n";
    } else if (unit == '\r') {
      out += "\\r";
    } else if (unit == '\t') {
      out += "\\t";
    } else if (unit < 0x20) {
      AppendEscaped(out, unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
               (static_cast<unsigned>(text[i + 1]) & 0xFFFF) >= 0xDC00 &&
               (static_cast<unsigned>(text[i + 1]) & 0xFFFF) <= 0xDFFF) {
      const unsigned low = static_cast<unsigned>(text[i + 1]) & 0xFFFF;
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendEscaped(out, unit);  // unpaired: keep it visible
    } else {
      AppendUtf8(out, unit);
    }
  }
  out += "\"";
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (body_.size() > 1) body_ += ",";
  body_ += "\"";
  body_ += key;  // keys are plain ASCII names chosen in code
  body_ += "\":";
}

JsonObject& JsonObject::AddText(std::string_view key, std::wstring_view text) {
  Key(key);
  body_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::AddNumber(std::string_view key, std::int64_t number) {
  Key(key);
  body_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::AddBool(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view value) {
  Key(key);
  body_ += value;
  return *this;
}

JsonArray& JsonArray::AddRaw(std::string_view value) {
  if (body_.size() > 1) body_ += ",";
  body_ += value;
  return *this;
}

}  // namespace plovatek::testing
