#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <system_error>
#include <vector>

#include "install_home.h"
#include "win/unique_handle.h"

namespace plovatek {
namespace {

unsigned long SystemModuleFileName(wchar_t* buffer, unsigned long capacity) {
  return GetModuleFileNameW(nullptr, buffer, capacity);
}

ModuleFileNameFunction g_moduleFileName = &SystemModuleFileName;

}  // namespace

std::wstring KnownFolderPath(const _GUID& folderId) {
  UniqueCoTaskString buffer;
  // The buffer is freed in every case, also when the call fails.
  const HRESULT result = SHGetKnownFolderPath(folderId, 0, nullptr, buffer.put());
  if (FAILED(result) || !buffer) return {};
  return std::wstring(buffer.get());
}

void RemoveTree(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return;
  }
  // std::filesystem::remove_all is no use here: on Windows it follows junctions and
  // directory links into whatever they point at, and it stops at the first failure.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
      entries.push_back(it->path());
    }
    for (const std::filesystem::path& entry : entries) RemoveTree(entry);
  }
  RemoveDirectoryW(path.c_str());  // a link goes as itself
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
  const DWORD capacity = static_cast<DWORD>(std::size(buffer));
  const DWORD length = g_moduleFileName(buffer, capacity);
  // A name that fills the buffer was cut short, and Wine (like Windows XP) then
  // leaves no terminating zero to read up to: a cut name is another file's, so
  // the launcher does without its own file rather than read the wrong one.
  if (length == 0 || length >= capacity) return {};
  return std::filesystem::path(std::wstring(buffer, length));
}

ModuleFileNameFunction ReplaceModuleFileNameForTesting(ModuleFileNameFunction replacement) {
  const ModuleFileNameFunction previous = g_moduleFileName;
  g_moduleFileName = replacement ? replacement : &SystemModuleFileName;
  return previous;
}

}  // namespace plovatek
