// The launcher's manifest and signature code as a command, so that the release
// tool's tests can put what the tool writes before CNG under Wine.
//   manifest_check manifest MANIFEST SIG        ParseReleaseManifest with the built-in key
//   manifest_check signature DATA SIG KEYHEX     VerifyReleaseSignature
//   manifest_check sign DATA SIGOUT              signs DATA with a fresh CNG key; prints its public key
// Exit 0 accepted (or signed), 1 refused, 2 wrong usage or unreadable input.
#include "install_home.h"
#include "messages.h"
#include "net/fingerprint.h"
#include "test_signer.h"
#include "update/release_manifest.h"

#include <array>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

bool Read(const std::string& file, std::string& bytes) {
  if (plovatek::ReadWholeFile(plovatek::PathFromUtf8(file), bytes)) return true;
  std::cerr << "manifest_check: can't read " << file << "\n";
  return false;
}

bool FromHex(const std::string& hex, std::array<unsigned char, 64>& key) {
  if (hex.size() != 128 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return true;
}

int Run(const std::vector<std::string>& args) {
  std::string data;
  std::string signature;
  if (args.size() == 3 && args[0] == "manifest") {
    if (!Read(args[1], data) || !Read(args[2], signature)) return 2;
    plovatek::ReleaseManifest manifest;
    std::string error;
    if (!plovatek::ParseReleaseManifest(data, signature, manifest, error)) {
      std::cout << "refused: " << error << "\n";
      return 1;
    }
    std::cout << "accepted " << manifest.version << " " << manifest.files.size() << " " << manifest.launcher.sha256 << "\n";
    return 0;
  }
  if (args.size() == 4 && args[0] == "signature") {
    std::array<unsigned char, 64> key;
    if (!Read(args[1], data) || !Read(args[2], signature) || !FromHex(args[3], key)) return 2;
    const bool valid = plovatek::VerifyReleaseSignature(data, signature, key);
    std::cout << (valid ? "valid" : "invalid") << "\n";
    return valid ? 0 : 1;
  }
  if (args.size() == 3 && args[0] == "sign") {
    if (!Read(args[1], data)) return 2;
    const plovatek::TestSigner signer;
    if (!plovatek::WriteWholeFile(plovatek::PathFromUtf8(args[2]), signer.Sign(data))) return 2;
    std::cout << plovatek::LowerHex(signer.publicKey()) << "\n";
    return 0;
  }
  std::cerr << "usage: manifest_check manifest MANIFEST SIG | signature DATA SIG KEYHEX | sign DATA SIGOUT\n";
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(plovatek::WideToUtf8(argv[i]));
    return Run(args);
  } catch (const std::exception& fault) {
    std::cerr << "manifest_check: " << fault.what() << "\n";
    return 2;
  }
}
