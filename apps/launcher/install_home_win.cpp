#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "install_home.h"
#include "win/unique_handle.h"

namespace plovatek {

std::wstring KnownFolderPath(const _GUID& folderId) {
  UniqueCoTaskString buffer;
  // The buffer is freed in every case, also when the call fails.
  const HRESULT result = SHGetKnownFolderPath(folderId, 0, nullptr, buffer.put());
  if (FAILED(result) || !buffer) return {};
  return std::wstring(buffer.get());
}

std::filesystem::path DefaultInstallHome() {
  std::error_code error;
  std::filesystem::path temporary;
  std::filesystem::path localAppData = KnownFolderPath(FOLDERID_LocalAppData);
  if (localAppData.empty()) {
    temporary = std::filesystem::temp_directory_path(error);
    if (error) temporary.clear();
  }
  return InstallHomeFrom(localAppData, temporary);
}

std::filesystem::path OwnExecutablePath() {
  wchar_t buffer[1040] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0) return {};
  return std::filesystem::path(std::wstring(buffer));
}

}  // namespace plovatek
