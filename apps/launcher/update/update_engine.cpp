#include "update/update_engine.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#include "install_home.h"
#include "messages.h"
#include "net/download.h"
#include "net/fingerprint.h"
#include "net/release_key.h"

namespace plovatek {
namespace {

// The system's own words for an error code, English where Windows has them.
std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0) {
    length = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  }
  std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t' || text.back() == L'\r' || text.back() == L'\n'))
    text.pop_back();
  if (text.empty()) return "unknown error";
  try {
    return WideToUtf8(text);
  } catch (const std::range_error&) {
    return "unknown error";
  }
}

struct ReusableFile {
  std::string sha256;
  std::filesystem::path path;
};

// Files of the installed version, by fingerprint, when its stored manifest still checks out.
std::vector<ReusableFile> ReuseList(const std::filesystem::path& installed, PublicKeyBytes releaseKey) {
  std::vector<ReusableFile> list;
  if (installed.empty()) return list;
  std::string json, signature, ignored;
  if (!ReadWholeFile(installed / "manifest.json", json) || !ReadWholeFile(installed / "manifest.sig", signature))
    return list;
  ReleaseManifest stored;
  if (!ParseReleaseManifest(json, signature, releaseKey, stored, ignored)) return list;
  for (const ManifestFile& file : stored.files) list.push_back({file.sha256, installed / PathFromUtf8(file.path)});
  return list;
}

const ReusableFile* Find(const std::vector<ReusableFile>& list, const std::string& sha256) {
  const auto it = std::find_if(list.begin(), list.end(), [&](const ReusableFile& f) { return f.sha256 == sha256; });
  return it == list.end() ? nullptr : &*it;
}

}  // namespace

std::string InstalledMarkerText(const std::string& version) {
  return "Plovatek " + version +
         ", installed by PlovatekLauncher.exe.\r\n"
         "Your own files (logins, settings, saves, places) are in the folder two up from here.\r\n";
}

double ProgressFraction(std::uint64_t done, std::uint64_t total) {
  return total == 0 ? -1.0 : static_cast<double>(done) / static_cast<double>(total);
}

std::string ProgressText(const std::string& label, std::uint64_t done, std::uint64_t total) {
  std::string text = label + "... ";
  if (total == 0) return text;
  // done * 100 overflows only for sizes no real file has; fall back to floating point there.
  const std::uint64_t percent = done <= std::numeric_limits<std::uint64_t>::max() / 100
                                    ? done * 100 / total
                                    : static_cast<std::uint64_t>(static_cast<long double>(done) * 100 / total);
  return text + std::to_string(percent) + "%";
}

UpdateResult RunUpdate(const std::string& website, const std::filesystem::path& home, const ProgressReporter& reporter) {
  return RunUpdate(website, home, reporter, ReleasePublicKey);
}

UpdateResult RunUpdate(const std::string& website, const std::filesystem::path& home, const ProgressReporter& reporter,
                       PublicKeyBytes releaseKey) {
  UpdateResult result;
  if (website.empty()) {
    result.error = "No website to update from";
    return result;
  }
  reporter("Checking for updates...", -1.0);

  std::string manifestBytes, signatureBytes;
  if (!DownloadUrl(website + "/client/manifest.json", manifestBytes, result.error, result.websiteAnswered, 0, {}) ||
      !DownloadUrl(website + "/client/manifest.sig", signatureBytes, result.error, result.websiteAnswered, 0, {})) {
    return result;
  }
  if (!ParseReleaseManifest(manifestBytes, signatureBytes, releaseKey, result.manifest, result.error)) return result;
  result.version = result.manifest.version;

  const std::filesystem::path versions = home / kVersionsFolder;
  const std::filesystem::path target = versions / PathFromUtf8(result.version);
  const std::filesystem::path staging = versions / PathFromUtf8(result.version + kStagingSuffix);
  const std::string currentText = result.version + "\n";
  std::error_code ignored;

  if (std::filesystem::exists(target / kInstalledMarker, ignored)) {
    WriteWholeFile(home / kCurrentFile, currentText);
    result.upToDate = true;
    return result;
  }

  const std::filesystem::path installed = InstalledVersionFolder(home);
  const std::string label = installed.empty() ? "Installing Plovatek" : "Updating Plovatek";
  const std::vector<ReusableFile> reusable = ReuseList(installed, releaseKey);

  std::uint64_t total = 0;
  for (const ManifestFile& file : result.manifest.files) {
    if (!Find(reusable, file.sha256)) total += file.size;
  }
  std::uint64_t done = 0;

  // A leftover staging folder is never resumed: build it again from the start.
  RemoveTree(staging);
  std::filesystem::create_directories(staging, ignored);

  for (const ManifestFile& file : result.manifest.files) {
    const std::filesystem::path destination = staging / PathFromUtf8(file.path);
    std::string bytes;
    bool have = false;
    if (const ReusableFile* reuse = Find(reusable, file.sha256)) {
      // Read and fingerprinted in full: a file changed on disk is fetched again.
      have = ReadWholeFile(reuse->path, bytes) && Sha256Hex(bytes) == file.sha256;
    }
    if (!have) {
      const DownloadProgress progress = [&](std::uint64_t received, std::uint64_t) {
        const std::uint64_t reached = std::min(received, file.size) + done;
        reporter(ProgressText(label, reached, total), ProgressFraction(reached, total));
      };
      progress(0, file.size);
      bool answered = false;  // file downloads never change websiteAnswered
      std::string downloadError;
      if (!DownloadUrl(website + "/client/files/" + file.sha256, bytes, downloadError, answered, file.size,
                       progress)) {
        result.error = "Couldn't download " + file.path + ": " + downloadError;
        return result;
      }
      if (Sha256Hex(bytes) != file.sha256) {
        result.error = file.path + " came out wrong (it didn't match its fingerprint): try again";
        return result;
      }
      done += file.size;
    }
    if (!WriteWholeFile(destination, bytes)) {
      result.error = "Couldn't write " + PathToUtf8(destination) + " (is the disk full?)";
      return result;
    }
  }

  WriteWholeFile(staging / "manifest.json", manifestBytes);
  WriteWholeFile(staging / "manifest.sig", signatureBytes);
  WriteWholeFile(staging / kInstalledMarker, InstalledMarkerText(result.version));

  // A folder of that name without a marker is not an installed version.
  RemoveTree(target);
  if (!MoveFileExW(staging.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    const DWORD code = GetLastError();
    result.error = "Couldn't finish installing (" + SystemMessage(code) + ")";
    return result;
  }
  WriteWholeFile(home / kCurrentFile, currentText);

  // Keep the new version and the one that was running; everything else goes.
  std::vector<std::filesystem::path> leftovers;
  std::filesystem::directory_iterator listing(versions, ignored);
  for (const std::filesystem::directory_iterator end; !ignored && listing != end; listing.increment(ignored)) {
    const std::filesystem::path& entry = listing->path();
    if (entry != target && entry != installed) leftovers.push_back(entry);
  }
  for (const std::filesystem::path& entry : leftovers) RemoveTree(entry);

  result.upToDate = true;
  return result;
}

}  // namespace plovatek
