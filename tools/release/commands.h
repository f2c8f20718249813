#pragma once
// The four commands of plovatek-release. Each prints what it did on out, its
// sentences on err, and returns the process exit code (0 done, 1 refused or failed).

#include "signing.h"

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

namespace plovatek::release {

inline constexpr char kPrivateKeyFile[] = "release_private.pem";
inline constexpr char kPublicKeyFile[] = "release_public.hex";
// The launcher entry's path in the manifest.
inline constexpr char kLauncherPath[] = "PlovatekLauncher.exe";

int Keygen(const std::filesystem::path& folder, std::ostream& out, std::ostream& err);

struct PublishOptions {
  std::filesystem::path site;
  std::filesystem::path key;
  std::string version;
  std::filesystem::path launcher;  // empty: the release names no launcher
  std::filesystem::path release;
};
int Publish(const PublishOptions& options, std::ostream& out, std::ostream& err);

int Stamp(std::string_view address, const std::filesystem::path& in, const std::filesystem::path& outFile,
          std::ostream& out, std::ostream& err);

int Verify(const std::filesystem::path& site, const PublicKey& key, std::ostream& out, std::ostream& err);

// Why a launcher on Windows could not install a file at this relative path
// ('/' separated); empty when it can.
std::string ReleasePathProblem(std::string_view path);

}  // namespace plovatek::release
