#include "net/download.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

#include "messages.h"
#include "win/unique_handle.h"

namespace plovatek {
namespace {

struct WinHttpTraits {
  using Type = HINTERNET;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueAny<WinHttpTraits>;

// The body length the server announced; 0 when it sent none that reads.
std::uint64_t AnnouncedLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  std::uint64_t value = 0;
  for (const wchar_t* c = text; *c != L'\0'; ++c) {
    if (*c < L'0' || *c > L'9' || value > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return 0;
    value = value * 10 + static_cast<std::uint64_t>(*c - L'0');
  }
  return value;
}

}  // namespace

bool DownloadUrl(std::string_view url, std::string& body, std::string& error, bool& reached,
                 std::uint64_t expectedSize, const DownloadProgress& progress) {
  reached = false;
  body.clear();
  // A website address may hold any byte from 0x7F up; one that is not UTF-8
  // names nothing WinHTTP could reach, and must not throw out of the update.
  std::wstring wideUrl;
  try {
    wideUrl = Utf8ToWide(url);
  } catch (const std::range_error&) {
    error = "That isn't a web address: " + std::string(url);
    return false;
  }

  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  wchar_t extra[2048] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = static_cast<DWORD>(std::size(extra));
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
    error = "That isn't a web address: " + std::string(url);
    return false;
  }

  // Declared in this order so they close request, connection, session.
  UniqueInternet session(
      WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    // Automatic proxy needs Windows 8.1; older systems take the default.
    session.reset(
        WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  }
  if (!session) {
    error = WindowsErrorText("Couldn't start downloading");
    return false;
  }
  DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
  WinHttpSetOption(session.get(), WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);
  WinHttpSetTimeouts(session.get(), 15000, 15000, 30000, 60000);

  UniqueInternet connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
  if (!connection) {
    error = WindowsErrorText("Couldn't reach the website");
    return false;
  }

  const std::wstring object = std::wstring(path) + extra;
  UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request || !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    error = "Couldn't reach " + WideToUtf8(host) + " (is the internet on?)";
    return false;
  }

  reached = true;
  DWORD status = 0;
  DWORD statusSize = sizeof status;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
  if (status != 200) {
    error = "The website said " + std::to_string(status);
    if (status == 404) error += " (there's no release on it yet)";
    return false;
  }

  // One allocation for the whole body: grown by doubling, a large file is copied at
  // every step and held twice over at the last. Only a size that both the caller
  // and the server vouch for is reserved, so a wrong one on either side costs nothing.
  const std::uint64_t vouched = std::min(expectedSize, AnnouncedLength(request.get()));
  if (vouched > 0 && vouched <= body.max_size()) body.reserve(static_cast<std::size_t>(vouched));

  std::vector<char> chunk;
  while (true) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available)) {
      error = "The download stopped part way (is the internet on?)";
      return false;
    }
    if (available == 0) return true;
    if (chunk.size() < available) chunk.resize(available);
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), chunk.data(), available, &read)) {
      error = "The download stopped part way (is the internet on?)";
      return false;
    }
    body.append(chunk.data(), read);
    if (progress) progress(body.size(), expectedSize);
  }
}

}  // namespace plovatek
