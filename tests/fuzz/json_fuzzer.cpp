// ParseJson on any bytes: it either reads or throws its one kind of fault,
// with a position inside the text; numbers are exactly strtod's in the C locale.
#include "json/json.h"

#include <locale.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

const char* const kFaults[] = {
    "the text ended too soon", "expected ':'",     "expected '}'",  "expected ']'",
    "expected a name in quotes", "expected a value", "text in quotes never ended",
    "bad \\u character",       "unexpected extra text", "the text is nested too deeply",
};

void CheckFault(const std::string& message, size_t size) {
  const std::string prefix = "JSON error at character ";
  if (message.rfind(prefix, 0) != 0) std::abort();
  size_t end = 0;
  const unsigned long long position = std::stoull(message.substr(prefix.size()), &end);
  if (position > size) std::abort();
  const std::string fault = message.substr(prefix.size() + end);
  for (const char* known : kFaults) {
    if (fault == std::string(": ") + known) return;
  }
  std::abort();
}

void CheckNumber(const std::string& text) {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  char* end = nullptr;
  const double expected = strtod_l(text.c_str(), &end, c);
  double value = 0;
  const size_t taken = plovatek::ReadCNumber(text, value);
  if (taken != static_cast<size_t>(end - text.c_str())) std::abort();
  if (taken == 0) return;
  if (std::isnan(expected) ? !std::isnan(value) || std::signbit(value) != std::signbit(expected)
                           : std::memcmp(&value, &expected, sizeof value) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const plovatek::JsonValue value = plovatek::ParseJson(text);
    (void)value;
  } catch (const std::runtime_error& fault) {
    CheckFault(fault.what(), size);
  }
  CheckNumber(text);
  return 0;
}
