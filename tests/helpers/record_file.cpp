#include "record_file.h"

#include <windows.h>
#include <shellapi.h>

#include "json_line.h"
#include "win/unique_handle.h"

namespace plovatek::testing {

std::wstring EnvironmentValue(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

bool AppendLine(const std::wstring& path, std::string_view line) {
  if (path.empty()) return false;
  UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::string bytes(line);
  bytes += '\n';
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string ArgumentsJson() {
  JsonArray arguments;
  int count = 0;
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  if (split == nullptr) return arguments.Text();
  UniqueLocalMem owner(split);
  for (int i = 0; i < count; ++i) arguments.AddRaw(JsonString(split[i]));
  return arguments.Text();
}

}  // namespace plovatek::testing
