#pragma once
// The checked content of a release manifest.

#include <cstdint>
#include <string>
#include <vector>

namespace plovatek {

struct ManifestFile {
  std::string path;    // relative to the release's folder, as written in the manifest
  std::string sha256;  // 64 lowercase hexadecimal characters
  std::uint64_t size = 0;
};

struct ReleaseManifest {
  std::string version;
  std::vector<ManifestFile> files;
  ManifestFile launcher;  // empty path when the release names no launcher
};

}  // namespace plovatek
