#pragma once
// Keeps the install home's launcher copy, which shortcuts and registered
// commands start, equal to the release's launcher (or the running one, unstamped).

#include <filesystem>
#include <string>

#include "update/release_manifest.h"

namespace plovatek {

// False only when the copy had to be written and could not be; error says why
// whenever something went wrong, also when the result is true.
bool ReplaceLauncherCopy(const std::filesystem::path& home, const std::string& website,
                         const ReleaseManifest& manifest, std::string& error);

}  // namespace plovatek
