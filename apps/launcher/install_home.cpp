#include "install_home.h"

#include <fstream>
#include <system_error>

#ifdef _WIN32
#include "messages.h"
#endif

namespace plovatek {
namespace {

bool IsStampWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::filesystem::path InstallHomeFrom(const std::filesystem::path& localAppData,
                                      const std::filesystem::path& temporary) {
  const std::filesystem::path& base = !localAppData.empty() ? localAppData : temporary;
  // With no base at all there is no install home; a bare relative "Plovatek"
  // would land wherever the launcher happened to be started.
  if (base.empty()) return {};
  return base / "Plovatek";
}

std::filesystem::path InstalledVersionFolder(const std::filesystem::path& home) {
  std::string text;
  if (!ReadWholeFile(home / kCurrentFile, text)) return {};
  while (!text.empty() && IsStampWhitespace(text.back())) text.pop_back();
  if (!IsValidVersionName(text)) return {};
  std::filesystem::path folder = home / kVersionsFolder / PathFromUtf8(text);
  std::error_code error;
  if (!std::filesystem::exists(folder / kInstalledMarker, error) || error) return {};
  return folder;
}

std::string NormaliseWebsiteAddress(std::string_view text) {
  while (!text.empty() && (text.back() == '/' || IsStampWhitespace(text.back()))) text.remove_suffix(1);
  while (!text.empty() && IsStampWhitespace(text.front())) text.remove_prefix(1);
  if (!text.starts_with("http://") && !text.starts_with("https://")) return {};
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || c == '"' || c == '<' || c == '>' || c == '\\') return {};
  }
  if (text.size() > kMaxWebsiteAddress) return {};
  return std::string(text);
}

std::string ReadWebsiteStamp(std::string_view bytes) {
  const size_t window = bytes.size() > kStampWindow ? bytes.size() - kStampWindow : 0;
  const size_t marker = bytes.rfind(WebsiteStampMarker);
  if (marker == std::string_view::npos || marker < window) return {};
  const std::string_view tail = bytes.substr(marker + WebsiteStampMarker.size());
  if (tail.size() < 2) return {};
  const size_t end = tail.find("\r\n");
  if (end == std::string_view::npos || end != tail.size() - 2) return {};
  return NormaliseWebsiteAddress(tail.substr(0, end));
}

std::string StripWebsiteStamp(std::string_view bytes) {
  if (ReadWebsiteStamp(bytes).empty()) return std::string(bytes);
  return std::string(bytes.substr(0, bytes.rfind(WebsiteStampMarker)));
}

std::string FirstLine(std::string_view text) {
  return std::string(text.substr(0, text.find_first_of("\r\n")));
}

bool IsValidVersionName(std::string_view text) {
  if (text.empty() || text.size() > 40 || text.front() == '.') return false;
  for (const char c : text) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '-' && c != '.') return false;
  }
  return true;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
  // Windows refuses to open a folder as a file; other systems open it and fail later.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string content;
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (size < 0) return false;  // not a seekable file (a folder, say): nothing to read whole
  file.seekg(0, std::ios::beg);
  content.resize(static_cast<size_t>(size));
  if (size > 0 && !file.read(content.data(), size)) return false;
  // The file may have grown since it was measured; take the rest too.
  char more[4096];
  while (file.read(more, sizeof more) || file.gcount() > 0) content.append(more, static_cast<size_t>(file.gcount()));
  if (file.bad()) return false;
  bytes.swap(content);
  return true;
}

bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::error_code ignored;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

std::filesystem::path PathFromUtf8(std::string_view text) {
#ifdef _WIN32
  return std::filesystem::path(Utf8ToWide(text));
#else
  return std::filesystem::path(std::string(text));
#endif
}

std::string PathToUtf8(const std::filesystem::path& path) {
#ifdef _WIN32
  return WideToUtf8(path.native());
#else
  return path.native();
#endif
}

}  // namespace plovatek
