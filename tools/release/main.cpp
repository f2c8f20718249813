// plovatek-release: makes the release key, publishes signed releases into a
// static website tree, stamps launcher downloads, and checks a published tree.
#include "commands.h"
#include "signing.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] = R"(usage: plovatek-release COMMAND [OPTIONS]

Commands:
  keygen --out DIR
      Makes a P-256 release key pair: DIR/release_private.pem (readable by its
      owner only) and DIR/release_public.hex. Prints the 128 hexadecimal
      characters that a launcher is built with (CMake: PLOVATEK_RELEASE_PUBLIC_KEY).
      Never replaces an existing key.

  publish --site SITE --key PRIVATE --version V [--launcher EXE] RELEASE_DIR
      Publishes every file under RELEASE_DIR as one release: checks the version
      and every path by the launcher's rules (and refuses the whole release,
      naming the file, when one breaks them), stores each file once under
      SITE/client/files/<fingerprint>, then writes SITE/client/manifest.json and
      its signature manifest.sig, checked with the launcher's own code first.
      Files of earlier releases stay. With --launcher, EXE (without any website
      stamp) becomes the release's launcher.

  stamp --address URL IN OUT
      Writes IN to OUT with the website stamp at its end, so that the launcher
      downloaded from the website knows where it came from. An existing stamp
      is replaced.

  verify --site SITE --public-key HEX
      Checks a published website as a launcher built with the key HEX would:
      the signature, the manifest's rules, and every file with its fingerprint
      and size. Reports each problem; exits 0 only when all is well.

Exit codes: 0 done, 1 refused or failed (with a sentence saying why), 2 wrong usage.
)";

struct Command {
  std::vector<std::string> required;
  std::vector<std::string> optional;
  size_t positionals;
};

const std::map<std::string, Command> kCommands = {
    {"keygen", {{"--out"}, {}, 0}},
    {"publish", {{"--site", "--key", "--version"}, {"--launcher"}, 1}},
    {"stamp", {{"--address"}, {}, 2}},
    {"verify", {{"--site", "--public-key"}, {}, 0}},
};

int UsageError(const std::string& sentence) {
  std::cerr << "plovatek-release: " << sentence << "\nRun plovatek-release --help for the usage.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace plovatek::release;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "help") {
      std::cout << kUsage;
      return 0;
    }
  }
  if (args.empty()) return UsageError("Name a command: keygen, publish, stamp or verify.");
  const auto command = kCommands.find(args[0]);
  if (command == kCommands.end()) return UsageError("There is no command \"" + args[0] + "\".");

  std::map<std::string, std::string> options;
  std::vector<std::string> positionals;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      positionals.push_back(arg);
      continue;
    }
    const auto& [required, optional, count] = command->second;
    if (std::find(required.begin(), required.end(), arg) == required.end() &&
        std::find(optional.begin(), optional.end(), arg) == optional.end()) {
      return UsageError(args[0] + " has no option " + arg + ".");
    }
    if (i + 1 >= args.size()) return UsageError(arg + " needs a value.");
    if (!options.emplace(arg, args[++i]).second) return UsageError(arg + " is given twice.");
  }
  for (const std::string& name : command->second.required) {
    if (options.count(name) == 0) return UsageError(args[0] + " needs " + name + ".");
  }
  if (positionals.size() != command->second.positionals) {
    return UsageError(args[0] + " takes " + std::to_string(command->second.positionals) + " file or folder name" +
                      (command->second.positionals == 1 ? "" : "s") + " after its options, not " +
                      std::to_string(positionals.size()) + ".");
  }

  if (args[0] == "keygen") return Keygen(options["--out"], std::cout, std::cerr);
  if (args[0] == "publish") {
    PublishOptions publish;
    publish.site = options["--site"];
    publish.key = options["--key"];
    publish.version = options["--version"];
    publish.launcher = options.count("--launcher") != 0 ? options["--launcher"] : "";
    publish.release = positionals[0];
    return Publish(publish, std::cout, std::cerr);
  }
  if (args[0] == "stamp") return Stamp(options["--address"], positionals[0], positionals[1], std::cout, std::cerr);

  PublicKey key;
  if (!PublicKeyFromHex(options["--public-key"], key)) {
    return UsageError("--public-key takes the 128 hexadecimal characters that keygen printed.");
  }
  return Verify(options["--site"], key, std::cout, std::cerr);
}
