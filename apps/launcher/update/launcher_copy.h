#pragma once
// Keeping the install home's copy of the launcher current.

#include <filesystem>
#include <string>

#include "update/release_manifest.h"

namespace plovatek {

// Makes home\PlovatekLauncher.exe equal to the release's launcher, or to this
// launcher without its stamp, and remembers the website in website.txt.
// error is empty on entry and receives a sentence on failure.
bool ReplaceLauncherCopy(const std::filesystem::path& home, const std::string& website,
                         const ReleaseManifest& manifest, std::string& error);

}  // namespace plovatek
