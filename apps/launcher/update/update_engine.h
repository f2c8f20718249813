#pragma once
// Brings the install home up to the release the website offers now.

#include <filesystem>
#include <string>

#include "progress.h"
#include "update/release_manifest.h"

namespace plovatek {

struct UpdateResult {
  bool websiteAnswered = false;  // the last manifest request got a response
  bool upToDate = false;         // the website's release is installed and current: the only sign of success
  std::string version;           // the accepted manifest's version
  std::string error;             // one sentence for the user when not upToDate
  ReleaseManifest manifest;      // the accepted manifest
};

UpdateResult RunUpdate(const std::string& website, const std::filesystem::path& home, const ProgressReporter& reporter);
// The same against a given release key (tests sign with keys of their own).
UpdateResult RunUpdate(const std::string& website, const std::filesystem::path& home, const ProgressReporter& reporter,
                       PublicKeyBytes releaseKey);

// The text of the marker file that makes a version folder count as installed.
std::string InstalledMarkerText(const std::string& version);

// "label... 42%" and its fraction, from the bytes done and the bytes to fetch.
std::string ProgressText(const std::string& label, std::uint64_t done, std::uint64_t total);
double ProgressFraction(std::uint64_t done, std::uint64_t total);

}  // namespace plovatek
