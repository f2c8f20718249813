#pragma once
// The release manifest: manifest.json (version, files with fingerprint and
// size, optional launcher entry) and manifest.sig (64-byte r||s over its bytes).

#include "net/fingerprint.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plovatek {

struct JsonValue;

struct ManifestFile {
  std::string path;    // relative to the release's folder, as written in the manifest
  std::string sha256;  // 64 lowercase hex characters
  std::uint64_t size = 0;
};

struct ReleaseManifest {
  std::string version;
  std::vector<ManifestFile> files;
  ManifestFile launcher;  // empty path when the release names no launcher
};

inline constexpr char kNoReleaseKeySentence[] =
    "This copy of the launcher was built before the release key was made (see apps/launcher/README.txt)";
inline constexpr char kNotSignedSentence[] = "The update isn't signed by Plovatek, so it wasn't installed";
inline constexpr char kManifestNonsenseStart[] = "The update's list of files doesn't make sense (";

// Checks the signature with the built-in release key, then reads and validates
// the JSON. False leaves one sentence in error; the manifest must not be used then.
bool ParseReleaseManifest(std::string_view manifestBytes, std::string_view signatureBytes, ReleaseManifest& manifest,
                          std::string& error);
// The same against a given key: the release tool, and tests of a launcher without a key.
bool ParseReleaseManifest(std::string_view manifestBytes, std::string_view signatureBytes, PublicKeyBytes publicKey,
                          ReleaseManifest& manifest, std::string& error);

// True for a valid file entry (its path also well-formed UTF-8). An object gets
// path and sha256 filled before they are tested, so on false the entry may be partly filled.
bool ReadManifestFile(const JsonValue& value, ManifestFile& file);

// 1 to 300 bytes, not starting with '/' or '\', no ':', and no empty, "." or
// ".." piece between the separators '/' and '\'.
bool IsSafeRelativePath(std::string_view path);
// Well-formed UTF-8, as the strict conversion to UTF-16 takes it.
bool IsWellFormedUtf8(std::string_view text);
// Exactly 64 bytes of 0-9 and a-f.
bool IsFingerprintText(std::string_view text);

}  // namespace plovatek
