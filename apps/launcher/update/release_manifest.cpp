#include "update/release_manifest.h"

#include "install_home.h"
#include "json/json.h"
#include "net/release_key.h"

#include <exception>
#include <stdexcept>

namespace plovatek {

// Well-formed UTF-8 as the strict conversion to UTF-16 takes it: no stray or
// missing continuation bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsWellFormedUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto byte = static_cast<unsigned char>(text[i + k]);
      if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

bool ParseReleaseManifest(std::string_view manifestBytes, std::string_view signatureBytes, ReleaseManifest& manifest,
                          std::string& error) {
  return ParseReleaseManifest(manifestBytes, signatureBytes, ReleasePublicKey, manifest, error);
}

bool ParseReleaseManifest(std::string_view manifestBytes, std::string_view signatureBytes, PublicKeyBytes publicKey,
                          ReleaseManifest& manifest, std::string& error) {
  if (!PublicKeyIsSet(publicKey)) {
    error = kNoReleaseKeySentence;
    return false;
  }
  // Nothing of an unsigned manifest is read, not even its JSON.
  if (!VerifyReleaseSignature(manifestBytes, signatureBytes, publicKey)) {
    error = kNotSignedSentence;
    return false;
  }
  try {
    const JsonValue document = ParseJson(manifestBytes);
    manifest = ReleaseManifest{};
    manifest.version = document.StringMember("version");
    if (!IsValidVersionName(manifest.version)) throw std::runtime_error("bad version");
    const JsonValue* files = document.Find("files");
    if (files == nullptr || files->kind != JsonKind::Array || files->items.empty()) throw std::runtime_error("no files");
    for (const JsonValue& item : files->items) {
      ManifestFile file;
      if (!ReadManifestFile(item, file)) throw std::runtime_error("bad file");
      manifest.files.push_back(std::move(file));
    }
    const JsonValue* launcher = document.Find("launcher");
    if (launcher != nullptr && !ReadManifestFile(*launcher, manifest.launcher)) throw std::runtime_error("bad launcher");
  } catch (const std::exception& fault) {
    error = std::string(kManifestNonsenseStart) + fault.what() + ")";
    return false;
  }
  return true;
}

bool ReadManifestFile(const JsonValue& value, ManifestFile& file) {
  if (value.kind != JsonKind::Object) return false;
  file.path = value.StringMember("path");
  file.sha256 = value.StringMember("sha256");
  const JsonValue* size = value.Find("size");
  if (size == nullptr || size->kind != JsonKind::Number) return false;
  // Not below 0, and a byte count at all: NaN, infinity and anything from 2^64
  // up have no conversion to 64 bits (the cast would be undefined).
  if (!(size->number >= 0.0 && size->number < 18446744073709551616.0)) return false;
  file.size = static_cast<std::uint64_t>(size->number);  // drops the fraction
  // A path that is not UTF-8 names no file on Windows: writing it could only fail
  // by an exception, so the entry is refused here, before anything is fetched.
  return IsSafeRelativePath(file.path) && IsWellFormedUtf8(file.path) && IsFingerprintText(file.sha256);
}

bool IsSafeRelativePath(std::string_view path) {
  if (path.empty() || path.size() > 300) return false;
  if (path.front() == '/' || path.front() == '\\') return false;
  if (path.find(':') != std::string_view::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of("/\\", start);
    const std::string_view piece = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (piece.empty() || piece == "." || piece == "..") return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool IsFingerprintText(std::string_view text) {
  if (text.size() != kFingerprintLength) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace plovatek
