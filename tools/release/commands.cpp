#include "commands.h"

#include "install_home.h"
#include "json/json.h"
#include "net/fingerprint.h"
#include "update/release_manifest.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

namespace plovatek::release {
namespace fs = std::filesystem;
namespace {

// --- files -------------------------------------------------------------------

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

bool ReadBytes(const fs::path& path, std::string& bytes, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "Couldn't read " + Quoted(path) + " (" + std::strerror(errno) + ")";
    return false;
  }
  // Whole blocks at a time: a release holds files of hundreds of megabytes.
  std::ostringstream content;
  content << file.rdbuf();
  bytes = std::move(content).str();
  if (file.bad()) {
    error = "Couldn't read " + Quoted(path);
    return false;
  }
  return true;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Written beside the target, flushed to disk, then renamed over it: a reader
// sees the old file or the whole new one, never a part.
bool WriteAtomically(const fs::path& target, std::string_view bytes, mode_t mode, std::string& error) {
  static unsigned counter = 0;
  const fs::path temporary =
      target.parent_path() / ("." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                              std::to_string(counter++));
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    error = "Couldn't write " + Quoted(temporary) + " (" + std::strerror(errno) + ")";
    return false;
  }
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  const int savedErrno = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temporary.c_str(), target.c_str()) == 0) return true;
  error = "Couldn't write " + Quoted(target) + " (" + std::strerror(ok ? errno : savedErrno) + ")";
  ::unlink(temporary.c_str());
  return false;
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Held while a release is published: two publishers at once could leave one's
// manifest beside the other's signature.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder) : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool Lock() { return fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0; }

 private:
  int fd_;
};

// --- names -------------------------------------------------------------------

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string WindowsNameProblem(std::string_view piece) {
  for (const char c : piece) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr) {
      return "Windows allows no control character and none of < > \" | ? * in a name";
    }
  }
  if (piece.back() == '.' || piece.back() == ' ') return "Windows drops a dot or space at the end of a name";
  const std::string stem = AsciiLower(piece.substr(0, piece.find('.')));
  static const std::set<std::string> reserved = {"con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4",
                                                 "com5", "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3",
                                                 "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
  if (reserved.count(stem) != 0) return "\"" + std::string(piece) + "\" names a device on Windows";
  return {};
}

// --- manifests ---------------------------------------------------------------

bool SameEntry(const ManifestFile& a, const ManifestFile& b) {
  return a.path == b.path && a.sha256 == b.sha256 && a.size == b.size;
}

bool SameRelease(const ReleaseManifest& a, const ReleaseManifest& b) {
  return a.version == b.version && a.files.size() == b.files.size() &&
         std::equal(a.files.begin(), a.files.end(), b.files.begin(), SameEntry) && SameEntry(a.launcher, b.launcher);
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      static constexpr char kDigits[] = "0123456789abcdef";
      out += "\\u00";
      out += kDigits[(c >> 4) & 0x0F];
      out += kDigits[c & 0x0F];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonEntry(const ManifestFile& file) {
  return "{\"path\": " + JsonString(file.path) + ", \"sha256\": " + JsonString(file.sha256) +
         ", \"size\": " + std::to_string(file.size) + "}";
}

std::string ManifestText(const ReleaseManifest& manifest) {
  std::string text = "{\n  \"version\": " + JsonString(manifest.version) + ",\n  \"files\": [\n";
  for (size_t i = 0; i < manifest.files.size(); ++i) {
    text += "    " + JsonEntry(manifest.files[i]) + (i + 1 < manifest.files.size() ? ",\n" : "\n");
  }
  text += "  ]";
  if (!manifest.launcher.path.empty()) text += ",\n  \"launcher\": " + JsonEntry(manifest.launcher);
  return text + "\n}\n";
}

// The release currently named by SITE/client/manifest.json, read without its
// signature; false when there is none that reads.
bool CurrentRelease(const fs::path& client, ReleaseManifest& current) {
  std::string text;
  std::string ignored;
  if (!fs::exists(client / "manifest.json") || !ReadBytes(client / "manifest.json", text, ignored)) return false;
  try {
    const JsonValue document = ParseJson(text);
    current.version = document.StringMember("version");
    const JsonValue* files = document.Find("files");
    if (files == nullptr) return true;
    for (const JsonValue& item : files->items) {
      ManifestFile file;
      ReadManifestFile(item, file);
      current.files.push_back(file);
    }
    if (const JsonValue* launcher = document.Find("launcher")) ReadManifestFile(*launcher, current.launcher);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// A file of the release: where it comes from and its entry.
struct Source {
  fs::path file;
  ManifestFile entry;
};

// Every file under the release folder, checked against the launcher's rules and
// Windows' names; problems are sentences naming the file.
std::vector<Source> CollectRelease(const fs::path& release, std::vector<std::string>& problems) {
  std::vector<Source> sources;
  std::error_code error;
  fs::recursive_directory_iterator walk(release, error);
  if (error) {
    problems.push_back("Couldn't read the release folder " + Quoted(release) + " (" + error.message() + ")");
    return sources;
  }
  for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
    if (error) {
      problems.push_back("Couldn't read the release folder " + Quoted(release) + " (" + error.message() + ")");
      return sources;
    }
    const fs::directory_entry& item = *walk;
    const std::string path = item.path().lexically_relative(release).generic_string();
    std::error_code statusError;
    if (item.is_directory(statusError)) {
      if (item.is_symlink(statusError)) problems.push_back("Refused \"" + path + "\": it is a link to a folder, which is not followed.");
      continue;
    }
    if (!item.is_regular_file(statusError)) {
      problems.push_back("Refused \"" + path + "\": it is not a regular file.");
      continue;
    }
    const std::string problem = ReleasePathProblem(path);
    if (!problem.empty()) {
      problems.push_back("Refused \"" + path + "\": " + problem + ".");
      continue;
    }
    sources.push_back({item.path(), ManifestFile{path, {}, 0}});
  }

  // Windows ignores case: two names that differ only in case are one file there.
  std::sort(sources.begin(), sources.end(), [](const Source& a, const Source& b) { return a.entry.path < b.entry.path; });
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> folders;
  for (const Source& source : sources) {
    const std::string& path = source.entry.path;
    const std::string lower = AsciiLower(path);
    for (size_t slash = lower.find('/'); slash != std::string::npos; slash = lower.find('/', slash + 1)) {
      folders.emplace(lower.substr(0, slash), path.substr(0, slash));
    }
    const auto [same, fresh] = files.emplace(lower, path);
    if (!fresh) problems.push_back("Refused \"" + path + "\": Windows ignores case, so it is the same file as \"" + same->second + "\".");
  }
  for (const auto& [lower, path] : files) {
    const auto folder = folders.find(lower);
    if (folder != folders.end()) {
      problems.push_back("Refused \"" + path + "\": Windows ignores case, so it is the same name as the folder \"" +
                         folder->second + "\".");
    }
  }
  return sources;
}

bool FingerprintFile(Source& source, std::string& error) {
  std::string bytes;
  if (!ReadBytes(source.file, bytes, error)) return false;
  source.entry.sha256 = Sha256Hex(bytes);
  source.entry.size = bytes.size();
  return true;
}

// Puts bytes at files/<fingerprint> unless a good copy is there already: files
// never change, and a launcher in the middle of an older update still needs them.
bool StoreFile(const fs::path& filesFolder, std::string_view bytes, const std::string& fingerprint, bool& added,
               std::string& error) {
  const fs::path target = filesFolder / fingerprint;
  std::string existing;
  std::string ignored;
  added = false;
  if (fs::exists(target) && ReadBytes(target, existing, ignored) && Sha256Hex(existing) == fingerprint) return true;
  added = true;
  return WriteAtomically(target, bytes, 0644, error);
}

bool StoredFileIsGood(const fs::path& filesFolder, const ManifestFile& entry, std::string& problem) {
  const fs::path stored = filesFolder / entry.sha256;
  std::string bytes;
  std::string error;
  if (!fs::exists(stored)) {
    problem = "\"" + entry.path + "\": client/files/" + entry.sha256 + " is missing";
    return false;
  }
  if (!ReadBytes(stored, bytes, error)) {
    problem = "\"" + entry.path + "\": " + error;
    return false;
  }
  if (Sha256Hex(bytes) != entry.sha256) {
    problem = "\"" + entry.path + "\": client/files/" + entry.sha256 + " doesn't match its fingerprint";
    return false;
  }
  if (bytes.size() != entry.size) {
    problem = "\"" + entry.path + "\": client/files/" + entry.sha256 + " is " + std::to_string(bytes.size()) +
              " bytes, but the manifest says " + std::to_string(entry.size);
    return false;
  }
  return true;
}

}  // namespace

std::string ReleasePathProblem(std::string_view path) {
  if (!IsSafeRelativePath(path)) {
    return "the launcher takes only relative paths of 1 to 300 bytes without ':' and without empty, '.' or '..' parts";
  }
  if (path.find('\\') != std::string_view::npos) return "its name holds a backslash, which Windows reads as a folder separator";
  if (!IsWellFormedUtf8(path)) return "its name is not UTF-8 text";
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string_view piece = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
    const std::string problem = WindowsNameProblem(piece);
    if (!problem.empty()) return problem;
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  // The launcher writes these into every version folder after the release's files.
  const std::string lower = AsciiLower(path);
  if (lower == "manifest.json" || lower == "manifest.sig" || lower == "plovatek-installed.txt") {
    return "the launcher keeps its own file of that name at the top of each version folder";
  }
  return {};
}

int Keygen(const fs::path& folder, std::ostream& out, std::ostream& err) {
  const fs::path privateFile = folder / kPrivateKeyFile;
  const fs::path publicFile = folder / kPublicKeyFile;
  for (const fs::path& file : {privateFile, publicFile}) {
    std::error_code ignored;
    if (fs::symlink_status(file, ignored).type() != fs::file_type::not_found) {
      err << "plovatek-release: " << Quoted(file) << " already exists; keygen never replaces a key. Choose another folder.\n";
      return 1;
    }
  }
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    err << "plovatek-release: Couldn't make the folder " << Quoted(folder) << " (" << error.message() << ").\n";
    return 1;
  }

  PrivateKey key;
  std::string pem;
  std::string sentence;
  if (!key.Generate(sentence) || !key.ToPem(pem, sentence)) {
    err << "plovatek-release: " << sentence << ".\n";
    return 1;
  }
  const std::string hex = PublicKeyHex(key.Public());

  // Created readable by its owner only, and never over an existing file.
  const int fd = ::open(privateFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    err << "plovatek-release: Couldn't create " << Quoted(privateFile) << " (" << std::strerror(errno) << ").\n";
    return 1;
  }
  const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, pem) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written) {
    err << "plovatek-release: Couldn't write " << Quoted(privateFile) << "; it was removed.\n";
    ::unlink(privateFile.c_str());
    return 1;
  }
  const int publicFd = ::open(publicFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  const bool publicWritten = publicFd >= 0 && WriteAll(publicFd, hex + "\n");
  if (publicFd >= 0) ::close(publicFd);
  if (!publicWritten) {
    err << "plovatek-release: Couldn't write " << Quoted(publicFile) << " (the private key is in "
        << Quoted(privateFile) << ").\n";
    return 1;
  }
  SyncFolder(folder);

  out << hex << "\n";
  err << "Wrote the private key " << Quoted(privateFile) << " (keep it secret, and off the website) and "
      << Quoted(publicFile) << ".\nBuild the launcher with -DPLOVATEK_RELEASE_PUBLIC_KEY=" << hex << "\n";
  return 0;
}

int Publish(const PublishOptions& options, std::ostream& out, std::ostream& err) {
  const auto refuse = [&err](const std::string& sentence) {
    err << "plovatek-release: " << sentence << "\nNothing was published.\n";
    return 1;
  };

  // Everything is checked before anything is written.
  if (!IsValidVersionName(options.version)) {
    return refuse("The version \"" + options.version +
                  "\" breaks the launcher's version rule (1 to 40 ASCII letters, digits, '-' and '.', not starting "
                  "with '.').");
  }
  PrivateKey key;
  std::string error;
  if (!key.Load(options.key, error)) return refuse(error + ".");
  std::error_code statusError;
  if (!fs::is_directory(options.release, statusError)) return refuse(Quoted(options.release) + " is not a folder.");

  std::vector<std::string> problems;
  std::vector<Source> sources = CollectRelease(options.release, problems);
  if (!problems.empty()) {
    std::string all;
    for (const std::string& problem : problems) all += (all.empty() ? "" : "\n") + problem;
    return refuse(all);
  }
  if (sources.empty()) return refuse("The release folder " + Quoted(options.release) + " holds no files.");
  for (Source& source : sources) {
    if (!FingerprintFile(source, error)) return refuse(error + ".");
  }
  Source launcher;
  std::string launcherBytes;
  if (!options.launcher.empty()) {
    if (!ReadBytes(options.launcher, launcherBytes, error)) return refuse(error + ".");
    // The launcher entry is the unstamped program: every download of it carries its own stamp.
    launcherBytes = StripWebsiteStamp(launcherBytes);
    if (launcherBytes.empty()) return refuse("The launcher " + Quoted(options.launcher) + " is empty.");
    launcher.file = options.launcher;
    launcher.entry = ManifestFile{kLauncherPath, Sha256Hex(launcherBytes), launcherBytes.size()};
  }

  ReleaseManifest release;
  release.version = options.version;
  for (const Source& source : sources) release.files.push_back(source.entry);
  release.launcher = launcher.entry;

  const fs::path client = options.site / "client";
  const fs::path filesFolder = client / "files";
  // A launcher that has a version installed never fetches it again: the same
  // name with other files would leave it on the old ones for good.
  const auto sameVersionOtherFiles = [&]() {
    ReleaseManifest current;
    return CurrentRelease(client, current) && current.version == release.version && !SameRelease(current, release);
  };
  if (sameVersionOtherFiles()) {
    return refuse("Version " + options.version +
                  " is already published with other files, and launchers that have it would never fetch these. "
                  "Give this release a new version.");
  }

  std::error_code folderError;
  fs::create_directories(filesFolder, folderError);
  if (folderError) return refuse("Couldn't make " + Quoted(filesFolder) + " (" + folderError.message() + ").");
  FolderLock lock(client);
  if (!lock.Lock()) return refuse("Couldn't lock " + Quoted(client) + " against another publisher.");
  if (sameVersionOtherFiles()) {
    return refuse("Version " + options.version + " was just published with other files by someone else.");
  }

  size_t added = 0;
  for (const Source& source : sources) {
    std::string bytes;
    if (!ReadBytes(source.file, bytes, error)) return refuse(error + ".");
    if (Sha256Hex(bytes) != source.entry.sha256) {
      return refuse("\"" + source.entry.path + "\" changed while it was being published.");
    }
    bool isNew = false;
    if (!StoreFile(filesFolder, bytes, source.entry.sha256, isNew, error)) return refuse(error + ".");
    added += isNew ? 1 : 0;
  }
  if (!release.launcher.path.empty()) {
    bool isNew = false;
    if (!StoreFile(filesFolder, launcherBytes, release.launcher.sha256, isNew, error)) return refuse(error + ".");
  }
  SyncFolder(filesFolder);

  const std::string manifestText = ManifestText(release);
  const std::string signature = key.Sign(manifestText);
  if (signature.size() != kSignatureSize) return refuse("OpenSSL could not sign the manifest.");

  // The pair goes through the launcher's own checks before any launcher can see it.
  const PublicKey publicKey = key.Public();
  ReleaseManifest parsed;
  if (!ParseReleaseManifest(manifestText, signature, publicKey, parsed, error)) {
    return refuse("The new manifest fails the launcher's check: " + error + ".");
  }
  if (!SameRelease(parsed, release)) return refuse("The new manifest does not read back as the release it describes.");
  std::vector<ManifestFile> entries = release.files;
  if (!release.launcher.path.empty()) entries.push_back(release.launcher);
  for (const ManifestFile& entry : entries) {
    std::string problem;
    if (!StoredFileIsGood(filesFolder, entry, problem)) return refuse(problem + ".");
  }

  // Both files are made complete beside their places first; the two renames
  // then follow each other at once, which is the shortest a static website
  // can serve one release's manifest with another's signature.
  const fs::path manifestNew = client / ".manifest.json.new";
  const fs::path signatureNew = client / ".manifest.sig.new";
  if (!WriteAtomically(manifestNew, manifestText, 0644, error) || !WriteAtomically(signatureNew, signature, 0644, error)) {
    ::unlink(manifestNew.c_str());
    return refuse(error + ".");
  }
  if (::rename(manifestNew.c_str(), (client / "manifest.json").c_str()) != 0 ||
      ::rename(signatureNew.c_str(), (client / "manifest.sig").c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    err << "plovatek-release: Couldn't move the new manifest into place (" << reason
        << "). The website may now serve a manifest and a signature that don't belong together: publish again.\n";
    return 1;
  }
  SyncFolder(client);

  out << "Published version " << release.version << ": " << release.files.size() << " files (" << added
      << " new, " << release.files.size() - added << " already there)"
      << (release.launcher.path.empty() ? "" : ", and the launcher") << ".\n";
  out << "Signed with the key " << PublicKeyHex(publicKey) << "\n";
  for (const char* client_program : {"plovatek_player.exe", "plovatek_studio.exe"}) {
    const bool present = std::any_of(release.files.begin(), release.files.end(),
                                     [&](const ManifestFile& file) { return file.path == client_program; });
    if (!present) err << "warning: the release has no " << client_program << " at its top; launchers cannot start it.\n";
  }
  return 0;
}

int Stamp(std::string_view address, const fs::path& in, const fs::path& outFile, std::ostream& out, std::ostream& err) {
  const std::string normalised = NormaliseWebsiteAddress(address);
  if (normalised.empty()) {
    err << "plovatek-release: \"" << address
        << "\" is not an address a launcher takes (http:// or https://, at most 200 bytes, no spaces, control "
           "characters, quotes, '<', '>' or '\\').\n";
    return 1;
  }
  std::string bytes;
  std::string error;
  if (!ReadBytes(in, bytes, error)) {
    err << "plovatek-release: " << error << ".\n";
    return 1;
  }
  // A launcher reads only the last stamp and strips only that one: replace an
  // old stamp instead of stacking another on it.
  const std::string previous = ReadWebsiteStamp(bytes);
  const std::string program = StripWebsiteStamp(bytes);
  const std::string stamped = program + std::string(WebsiteStampMarker) + normalised + "\r\n";
  if (ReadWebsiteStamp(stamped) != normalised || StripWebsiteStamp(stamped) != program) {
    err << "plovatek-release: The stamped file would not read back as " << normalised << ".\n";
    return 1;
  }
  struct stat info {};
  const mode_t mode = ::stat(in.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0644;
  if (!WriteAtomically(fs::absolute(outFile), stamped, mode, error)) {
    err << "plovatek-release: " << error << ".\n";
    return 1;
  }
  out << "Stamped " << Quoted(outFile) << " with " << normalised;
  if (!previous.empty()) out << " (it replaces the stamp for " << previous << ")";
  out << ".\n";
  return 0;
}

int Verify(const fs::path& site, const PublicKey& key, std::ostream& out, std::ostream& err) {
  const fs::path client = site / "client";
  std::string manifestText;
  std::string signature;
  std::string error;
  for (const auto& [file, bytes] : {std::pair{client / "manifest.json", &manifestText}, {client / "manifest.sig", &signature}}) {
    if (!fs::exists(file)) {
      out << "problem: " << Quoted(file) << " is missing.\n";
      return 1;
    }
    if (!ReadBytes(file, *bytes, error)) {
      out << "problem: " << error << ".\n";
      return 1;
    }
  }
  ReleaseManifest manifest;
  if (!ParseReleaseManifest(manifestText, signature, key, manifest, error)) {
    out << "problem: a launcher with this key refuses the release: " << error << ".\n";
    return 1;
  }
  std::vector<ManifestFile> entries = manifest.files;
  if (!manifest.launcher.path.empty()) entries.push_back(manifest.launcher);
  int problems = 0;
  for (const ManifestFile& entry : entries) {
    std::string problem;
    if (!StoredFileIsGood(client / "files", entry, problem)) {
      out << "problem: " << problem << ".\n";
      ++problems;
    }
  }
  if (problems > 0) {
    err << "plovatek-release: " << problems << " problem" << (problems == 1 ? "" : "s") << " in " << Quoted(site) << ".\n";
    return 1;
  }
  out << "All is well: version " << manifest.version << ", " << manifest.files.size() << " files"
      << (manifest.launcher.path.empty() ? "" : " and the launcher") << ", signed with this key.\n";
  return 0;
}

}  // namespace plovatek::release
