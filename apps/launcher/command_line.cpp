#include "command_line.h"

#include "install_home.h"

namespace plovatek {
namespace {

constexpr std::string_view kLinkScheme = "plovatek:";

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// The last element of a Windows path, as the path library splits it: after the
// root name ("C:" or "\\server") and after the last separator.
std::string_view FileName(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    path.remove_prefix(2);
  } else if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
    const size_t end = path.find_first_of("/\\", 2);
    path = end == std::string_view::npos ? std::string_view() : path.substr(end);
  }
  const size_t last = path.find_last_of("/\\");
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

}  // namespace

std::string LowerCaseExtension(std::string_view argument) {
  std::string_view name = FileName(argument);
  // An alternate-stream suffix ("file.json:stream") is not part of the name's extension.
  name = name.substr(0, name.find(':'));
  if (name == "." || name == "..") return {};
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  std::string extension(name.substr(dot));
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

bool IsPlaceFile(std::string_view argument) {
  const std::string extension = LowerCaseExtension(argument);
  return extension == ".plovlvl" || extension == ".json" || extension == ".plovl";
}

bool IsModelFile(std::string_view argument) { return LowerCaseExtension(argument) == ".plovm"; }

void ScanArguments(const std::vector<std::string>& arguments, LaunchRequest& request) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool hasNext = i + 1 < arguments.size();
    if (argument.starts_with(kLinkScheme)) {
      request.link = argument;
    } else if (argument == "--studio") {
      request.openStudio = true;
    } else if (argument == "--uninstall") {
      request.removePlatform = true;
    } else if (argument == "--no-start") {
      request.noStart = true;
    } else if (argument == "--website" && hasNext) {
      request.websiteAddress = NormaliseWebsiteAddress(arguments[++i]);
    } else if (argument == "--home" && hasNext) {
      request.installHome = PathFromUtf8(arguments[++i]);
    } else if (IsPlaceFile(argument) || IsModelFile(argument)) {
      request.fileToOpen = argument;
      request.openStudio = true;
    }
  }
}

std::string SettleWebsiteAddress(const LaunchRequest& request, std::string_view stamp) {
  if (!request.websiteAddress.empty()) return request.websiteAddress;
  if (!stamp.empty()) return std::string(stamp);
  std::string address = NormaliseWebsiteAddress(FirstLine(request.websiteFileText));
  if (!address.empty() || request.link.empty()) return address;
  return NormaliseWebsiteAddress(PercentDecode(QueryParameter(request.link, "origin")));
}

std::string QueryParameter(std::string_view link, std::string_view name) {
  const size_t question = link.find('?');
  if (question == std::string_view::npos) return {};
  std::string_view query = link.substr(question + 1);
  while (true) {
    const size_t amp = query.find('&');
    const std::string_view parameter = query.substr(0, amp);
    const size_t equals = parameter.find('=');
    if (equals != std::string_view::npos && parameter.substr(0, equals) == name)
      return std::string(parameter.substr(equals + 1));
    if (amp == std::string_view::npos) return {};
    query.remove_prefix(amp + 1);
  }
}

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
      decoded.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else if (c == '+') {
      decoded.push_back(' ');
    } else {
      decoded.push_back(c);
    }
  }
  return decoded;
}

}  // namespace plovatek
