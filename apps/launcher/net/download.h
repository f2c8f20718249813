#pragma once
// One HTTP GET into memory: everything the launcher takes from the website.

#include <cstdint>
#include <string>
#include <string_view>

#include "progress.h"

namespace plovatek {

inline constexpr wchar_t kUserAgent[] = L"PlovatekLauncher/1.0";

// True only for status 200 with the whole body read. reached turns true as soon
// as the website answers with any status; error is left alone on success.
bool DownloadUrl(std::string_view url, std::string& body, std::string& error, bool& reached,
                 std::uint64_t expectedSize, const DownloadProgress& progress);

}  // namespace plovatek
