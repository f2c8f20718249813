#pragma once
// Bringing the install home up to the release the website offers.

#include <filesystem>
#include <string>

#include "progress.h"
#include "update/release_manifest.h"

namespace plovatek {

struct UpdateResult {
  bool websiteAnswered = false;  // the last manifest request got a response
  bool upToDate = false;         // the website's release is installed and current: the only success
  std::string version;           // the accepted manifest's version
  std::string error;             // one sentence when not upToDate
  ReleaseManifest manifest;      // the accepted manifest
};

// website: a normalised WebsiteAddress, possibly empty. Failures come back in
// the result, never as exceptions; progress goes through reporter.
UpdateResult RunUpdate(const std::string& website, const std::filesystem::path& home,
                       const ProgressReporter& reporter);

}  // namespace plovatek
