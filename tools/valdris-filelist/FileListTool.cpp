#include "FileListTool.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "core/Format.h"
#include "core/Text.h"
#include "download/DownloadThread.h"
#include "download/FileListFetch.h"
#include "download/LocalFiles.h"
#include "download/Md5.h"
#include "filelist/FileList.h"
#include "core/Version.h"
#include "net/HttpClient.h"
#include "Signing.h"
#include "download/ListTrust.h"
#include "net/Url.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace filelisttool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHelp =
    "NAME\n"
    "    valdris-filelist - make and check the VALDRIS file list\n"
    "\n"
    "SYNOPSIS\n"
    "    valdris-filelist build DIR --url BASE [--version V] [-o FILE [--sign KEY [--expires DAYS]]]\n"
    "    valdris-filelist check LIST [--key PUB] [--folder DIR] [--server] [--full]\n"
    "    valdris-filelist keygen -o KEY\n"
    "    valdris-filelist sign LIST --key KEY [--expires DAYS]\n"
    "\n"
    "DESCRIPTION\n"
    "    build  Walks DIR (sub-folders included, in sorted order) and writes the file list: Version,\n"
    "           URL, TotalCount, TotalSize and, for every file, its Name (with forward slashes), Size\n"
    "           and upper-case MD5 CheckSum. BASE is the address the files are served from; a missing\n"
    "           final \"/\" is added. Symbolic links are refused, and so are names that could reach\n"
    "           outside the install folder or that would need escaping in a URL (allowed: letters,\n"
    "           digits, \".\", \"_\", \"-\", \"~\" and \"/\" between folders). The list goes to FILE, or\n"
    "           to standard output. With --sign, the list carries \"Signed\" (now) and \"Expires\" (DAYS\n"
    "           days from now, 90 by default; UTC), and FILE.sig is written too (see sign).\n"
    "\n"
    "    check  Checks that LIST (a file, or an http(s) address) keeps its own rules: TotalCount and\n"
    "           TotalSize match the entries, every CheckSum is 32 upper-case hexadecimal digits, every\n"
    "           name is publishable and unique, URL ends in \"/\". Then, with --folder, that DIR holds\n"
    "           every entry with its size and digest; with --server, that the server at URL answers\n"
    "           every entry with 200 and the right Content-Length and honours a Range request with\n"
    "           206; --full also downloads and hashes every file. With --key, that LIST.sig (next to\n"
    "           the file, or at the address with \".sig\" appended) is a signature of LIST by PUB, that\n"
    "           the list says when it was signed and is not past its \"Expires\" (a warning when fewer\n"
    "           than 14 days remain); it then says which key signed and when the list expires. One\n"
    "           line per problem, then a summary.\n"
    "\n"
    "    keygen Makes a publisher key pair: KEY, the private key (PKCS#8 PEM, readable by its owner\n"
    "           only), and KEY.pub, the public key (base64 of the uncompressed P-256 point) that the\n"
    "           downloader is built with (VALDRIS_TRUSTED_KEYS). An existing KEY or KEY.pub is never\n"
    "           replaced: downloaders built with the old key would refuse every list signed by a new one.\n"
    "\n"
    "    sign   Sets \"Signed\" in LIST to now and, when LIST has no \"Expires\" or --expires is given,\n"
    "           \"Expires\" to DAYS days from now (90 by default); rewrites LIST, then writes LIST.sig:\n"
    "           the ECDSA P-256 signature of LIST's exact bytes (SHA-256), as base64 of r||s on one\n"
    "           line. Publish both. Only P-256 keys are taken. A downloader refuses a signed list\n"
    "           that is expired, that has no \"Expires\", or that was signed before one it already took.\n"
    "\n"
    "OPTIONS\n"
    "    --version V   version text of the list (default: this program's version)\n"
    "    -o FILE       write the list to FILE (replaced whole, never half-written)\n"
    "    --sign KEY    sign the list with the private key KEY\n"
    "    --expires N   the list expires N days from now (with --sign, or for sign; default 90)\n"
    "    --key PUB     the public key file the signature is checked with\n"
    "    --help        show this text\n"
    "    --version     (alone) show the program's version\n"
    "\n"
    "EXIT STATUS\n"
    "    0  the list was built, or everything checked holds\n"
    "    1  a file was refused, or a check found problems\n"
    "    2  wrong usage, or the list cannot be read\n";

std::string Narrow(const std::u16string& s) { return platform::NarrowUtf8(s); }
std::u16string Widen(const std::string& s) { return platform::WidenUtf8(s); }

bool IsUrlSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-' || c == '~' || c == '/';
}

bool IsUpperHexDigest(const std::string& text) {
  return text.size() == 32 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

class Reporter {
 public:
  explicit Reporter(std::ostream& out) : m_out(out) {}
  void Problem(const std::string& text) {
    m_out << text << "\n";
    ++m_problems;
  }
  int Count() const { return m_problems; }

 private:
  std::ostream& m_out;
  int m_problems = 0;
};

// How long a signed list stays valid unless the publisher says otherwise, and how early check warns.
constexpr long long kDefaultExpiryDays = 90;
constexpr long long kExpiryWarningDays = 14;

// "--expires DAYS": a whole number of days, 1 to 100 years.
bool ParseDays(const std::string& text, long long& days) {
  char* end = nullptr;
  days = std::strtoll(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0' && days > 0 && days <= 36500;
}

long long NowUtc() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int Build(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
  std::string dir, url, version = core::kProgramVersionText, output, signKey;
  long long expiresDays = -1;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--url" && i + 1 < args.size()) url = args[++i];
    else if (args[i] == "--sign" && i + 1 < args.size()) signKey = args[++i];
    else if (args[i] == "--expires" && i + 1 < args.size()) {
      if (!ParseDays(args[++i], expiresDays)) {
        err << "valdris-filelist build: --expires takes a number of days\n";
        return kUsage;
      }
    }
    else if (args[i] == "--version" && i + 1 < args.size()) version = args[++i];
    else if (args[i] == "-o" && i + 1 < args.size()) output = args[++i];
    else if (dir.empty() && args[i].rfind("-", 0) != 0) dir = args[i];
    else {
      err << "valdris-filelist build: unexpected argument '" << args[i] << "'\n";
      return kUsage;
    }
  }
  if (dir.empty() || url.empty()) {
    err << "valdris-filelist build: DIR and --url BASE are needed\n";
    return kUsage;
  }
  if ((!signKey.empty() || expiresDays > 0) && output.empty()) {
    err << "valdris-filelist build: --sign and --expires need -o FILE\n";
    return kUsage;
  }
  if (expiresDays > 0 && signKey.empty()) {
    err << "valdris-filelist build: --expires needs --sign: only a signed list is judged by its expiry\n";
    return kUsage;
  }
  if (url.back() != '/') url += '/';
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    err << "valdris-filelist build: " << dir << " is not a folder\n";
    return kUsage;
  }

  // Collect every file first, so the list comes out sorted whatever order the folder is read in.
  std::vector<std::pair<std::string, fs::path>> files;
  bool refused = false;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(dir);
    const std::string name = relative.generic_u8string();  // UTF-8, as the list holds names
    if (it->is_symlink(ec)) {
      err << "refused: " << name << ": symbolic links are not published\n";
      refused = true;
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory(ec)) continue;
    if (!it->is_regular_file(ec)) {
      err << "refused: " << name << ": not a regular file\n";
      refused = true;
      continue;
    }
    if (const std::string problem = NameProblem(name); !problem.empty()) {
      err << "refused: " << name << ": " << problem << "\n";
      refused = true;
      continue;
    }
    files.emplace_back(name, it->path());
  }
  if (ec) {
    err << "valdris-filelist build: cannot read " << dir << ": " << ec.message() << "\n";
    return kProblems;
  }
  if (refused) return kProblems;
  std::sort(files.begin(), files.end());

  filelist::CFileList list;
  list.m_strVersion = version;
  list.m_strURL = url;
  list.m_vecFileInfo.resize(files.size());
  // Files are hashed by as many threads as the machine has cores, each taking the next file.
  struct Failure {
    std::string name;
    std::string what;
    platform::ErrorCode code = 0;
  };
  std::vector<Failure> failures(files.size());
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  auto hashFiles = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < files.size();) {
      filelist::FileInfo& info = list.m_vecFileInfo[i];
      info.Name = files[i].first;
      const std::u16string wide = Widen(files[i].second.u8string());
      std::u16string checksum;
      if (const auto code = download::GetLocalFileSize(wide, &info.Size); code != 0) {
        failures[i] = {info.Name, "cannot read its size", code};
      } else if (const auto sum = download::ComputeFileChecksum(wide, nullptr, checksum); sum != 0) {
        failures[i] = {info.Name, "cannot read it", sum};
      }
      info.CheckSum = Narrow(checksum);
      ++done;
    }
  };
  const unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads; ++t) workers.emplace_back(hashFiles);
  if (terminal) {
    std::thread progress([&] {
      while (done.load() < files.size()) {
        err << "\r\x1b[Khashed " << done.load() << "/" << files.size() << " files" << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    });
    hashFiles();
    for (std::thread& w : workers) w.join();
    workers.clear();
    progress.join();
  } else {
    hashFiles();
  }
  for (std::thread& w : workers) w.join();
  for (const Failure& f : failures) {
    if (f.code != 0) {
      err << "refused: " << f.name << ": " << f.what << " (" << f.code << ")\n";
      return kProblems;
    }
  }
  for (const auto& info : list.m_vecFileInfo) list.m_nTotalSize += info.Size;
  if (terminal) err << "\r\x1b[Khashed " << files.size() << " files, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << "\n";
  if (files.size() > static_cast<std::size_t>(INT32_MAX)) {
    err << "valdris-filelist build: too many files\n";
    return kProblems;
  }
  list.m_nTotalCount = static_cast<std::int32_t>(files.size());
  if (!signKey.empty()) {
    const long long now = NowUtc();
    list.m_strSigned = FormatUtcTime(now);
    list.m_strExpires = FormatUtcTime(now + (expiresDays > 0 ? expiresDays : kDefaultExpiryDays) * 86400);
  }
  const std::string document = filelist::SerializeJsonText(list);
  // The signature is made before anything is written, so a key that does not work leaves no list.
  std::string signature;
  if (!signKey.empty()) {
    std::string error;
    if (!SignDocument(signKey, document, signature, error)) {
      err << "valdris-filelist build: " << error << "\n";
      return kProblems;
    }
  }
  if (output.empty()) {
    out << document;
    return kOk;
  }
  if (const auto code = platform::WriteFileAtomically(Widen(output), document); code != platform::ERROR_SUCCESS) {
    err << "valdris-filelist build: cannot write " << output << " (" << code << ")\n";
    return kProblems;
  }
  if (!signature.empty()) {
    if (const auto code = platform::WriteFileAtomically(Widen(output + ".sig"), signature); code != 0) {
      err << "valdris-filelist build: cannot write " << output << ".sig (" << code << ")\n";
      return kProblems;
    }
  }
  out << list.m_nTotalCount << " files, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << " -> " << output
      << "\n";
  return kOk;
}

void CheckInvariants(const filelist::CFileList& list, Reporter& report) {
  if (static_cast<std::size_t>(std::max(list.m_nTotalCount, 0)) != list.m_vecFileInfo.size() || list.m_nTotalCount < 0)
    report.Problem("list: TotalCount is " + std::to_string(list.m_nTotalCount) + " but the list has " +
                   std::to_string(list.m_vecFileInfo.size()) + " entries");
  std::uint64_t sum = 0;
  for (const auto& info : list.m_vecFileInfo) sum += info.Size;
  if (sum != list.m_nTotalSize)
    report.Problem("list: TotalSize is " + std::to_string(list.m_nTotalSize) + " but the entries add up to " +
                   std::to_string(sum));
  if (list.m_strURL.empty() || list.m_strURL.back() != '/') report.Problem("list: URL \"" + list.m_strURL + "\" does not end in \"/\"");
  if (platform::WidenUtf8(list.m_strVersion) != core::kProgramVersion)
    report.Problem("list: Version \"" + list.m_strVersion + "\" is not the downloader's " +
                   Narrow(std::u16string(core::kProgramVersion)));
  std::set<std::string> seen;
  for (const auto& info : list.m_vecFileInfo) {
    if (const std::string problem = NameProblem(info.Name); !problem.empty())
      report.Problem(info.Name + ": " + problem);
    if (!seen.insert(info.Name).second) report.Problem(info.Name + ": listed more than once");
    if (!IsUpperHexDigest(info.CheckSum))
      report.Problem(info.Name + ": CheckSum \"" + info.CheckSum + "\" is not 32 upper-case hexadecimal digits");
  }
}

void CheckFolder(const filelist::CFileList& list, const std::string& folder, Reporter& report) {
  for (const auto& info : list.m_vecFileInfo) {
    if (!NameProblem(info.Name).empty()) continue;  // never look outside the folder
    const std::u16string path = Widen(folder + "/" + info.Name);
    std::uint64_t size = 0;
    if (download::GetLocalFileSize(path, &size) != 0) {
      report.Problem(info.Name + ": missing from " + folder);
      continue;
    }
    if (size != info.Size) {
      report.Problem(info.Name + ": local size is " + std::to_string(size) + ", the list says " + std::to_string(info.Size));
      continue;
    }
    std::u16string checksum;
    if (const auto code = download::ComputeFileChecksum(path, nullptr, checksum); code != 0)
      report.Problem(info.Name + ": cannot be read (" + std::to_string(code) + ")");
    else if (Narrow(checksum) != info.CheckSum)
      report.Problem(info.Name + ": local digest is " + Narrow(checksum) + ", the list says " + info.CheckSum);
  }
}

void CheckServer(const filelist::CFileList& list, bool full, Reporter& report) {
  net::CHttpClient client;
  const std::u16string base = Widen(list.m_strURL);
  for (const auto& info : list.m_vecFileInfo) {
    if (!NameProblem(info.Name).empty()) continue;
    const std::u16string url = base + net::EncodeUrlPath(Widen(info.Name));
    std::uint64_t length = 0;
    if (!client.OpenUrl(url, u"", length, net::kDownloaderUserAgent)) {
      report.Problem(info.Name + ": the server answers (" + std::to_string(client.FailureCode()) + ")");
      continue;
    }
    std::int32_t status = client.StatusCode();
    if (status != 200) report.Problem(info.Name + ": the server answers " + std::to_string(status) + " instead of 200");
    if (length != info.Size) {
      report.Problem(info.Name + ": the server's Content-Length is " + std::to_string(length) + ", the list says " +
                     std::to_string(info.Size));
      continue;
    }
    if (full) {
      download::CMd5 md5;
      bool failed = false;
      std::array<char, net::HTTP_BUFFER_SIZE> buffer{};
      for (;;) {
        std::uint32_t n = 0;
        if (!client.ReadBody(buffer.data(), buffer.size(), n)) {
          report.Problem(info.Name + ": the download failed (" + std::to_string(client.LastError()) + ")");
          failed = true;
          break;
        }
        if (n == 0) break;
        md5.Update(buffer.data(), n);
      }
      const std::string digest = Narrow(md5.Finish());
      if (!failed && digest != info.CheckSum)
        report.Problem(info.Name + ": the server's file has digest " + digest + ", the list says " + info.CheckSum);
    }
    if (info.Size >= 2) {
      const std::uint64_t from = info.Size / 2;
      if (!client.OpenUrl(url, net::FormatRangeHeader(from), length, net::kDownloaderUserAgent)) {
        report.Problem(info.Name + ": a Range request is answered (" + std::to_string(client.FailureCode()) + ")");
        continue;
      }
      status = client.StatusCode();
      if (status != 206 || length != info.Size - from)
        report.Problem(info.Name + ": a Range request from " + std::to_string(from) + " is answered " +
                       std::to_string(status) + " with " + std::to_string(length) + " bytes, not 206 with " +
                       std::to_string(info.Size - from));
    }
  }
}

// A file, or an http(s) address, read whole.
bool ReadSource(const std::string& source, std::string& bytes) {
  if (source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0) {
    net::CHttpClient client;
    return client.ReadToMemory(Widen(source), bytes);
  }
  std::ifstream file(source, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

// The signature next to the list (LIST.sig) made by the key, and the list's signing time and expiry;
// when all hold, which key signed and until when.
void CheckSignature(const std::string& source, const std::string& document, const filelist::CFileList& list,
                    const std::string& keyFile, const std::string& publicKey, Reporter& report, std::ostream& out) {
  const int before = report.Count();
  std::string signature;
  if (!ReadSource(source + ".sig", signature)) {
    report.Problem("signature: " + source + ".sig cannot be read");
  } else if (!download::IsSignedByAny(document, signature, {publicKey})) {
    report.Problem("signature: " + source + ".sig is not a signature of this list by this key");
  }
  std::int64_t signedAt = 0;
  if (list.m_strSigned.empty())
    report.Problem("Signed: a signed list must say when it was signed (sign the list again)");
  else if (!download::ParseUtcTime(list.m_strSigned, signedAt))
    report.Problem("Signed: \"" + list.m_strSigned + "\" is not a UTC date-time such as 2027-01-31T12:00:00Z");
  std::int64_t expires = 0;
  if (list.m_strExpires.empty()) {
    report.Problem("Expires: a signed list must say when it expires (sign the list again)");
    return;
  }
  if (!download::ParseUtcTime(list.m_strExpires, expires)) {
    report.Problem("Expires: \"" + list.m_strExpires + "\" is not a UTC date-time such as 2027-01-31T12:00:00Z");
    return;
  }
  const long long now = NowUtc();
  if (now > expires) {
    report.Problem("Expires: the list expired at " + list.m_strExpires);
    return;
  }
  const long long daysLeft = (expires - now) / 86400;
  if (daysLeft < kExpiryWarningDays)
    out << "warning: the list expires in " << daysLeft << " day(s), at " << list.m_strExpires
        << ": sign it again before then\n";
  if (report.Count() == before)
    out << "signed by the key in " << keyFile << " at " << list.m_strSigned << "; expires at " << list.m_strExpires
        << "\n";
}

int Keygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 3 || args[1] != "-o") {
    err << "valdris-filelist keygen: -o KEY is needed\n";
    return kUsage;
  }
  for (const std::string& path : {args[2], args[2] + ".pub"}) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
      err << "valdris-filelist keygen: " << path
          << " exists and is kept: downloaders built with that key would refuse every list signed by a new one\n";
      return kProblems;
    }
  }
  std::string error;
  if (!GenerateKeyPair(args[2], error)) {
    err << "valdris-filelist keygen: " << error << "\n";
    return kProblems;
  }
  out << "private key: " << args[2] << " (keep it secret)\npublic key:  " << args[2] << ".pub\n";
  return kOk;
}

int Sign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string listFile, keyFile;
  long long expiresDays = -1;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--key" && i + 1 < args.size()) keyFile = args[++i];
    else if (args[i] == "--expires" && i + 1 < args.size()) {
      if (!ParseDays(args[++i], expiresDays)) {
        err << "valdris-filelist sign: --expires takes a number of days\n";
        return kUsage;
      }
    } else if (listFile.empty() && args[i].rfind("-", 0) != 0) listFile = args[i];
    else {
      err << "valdris-filelist sign: unexpected argument '" << args[i] << "'\n";
      return kUsage;
    }
  }
  if (listFile.empty() || keyFile.empty()) {
    err << "valdris-filelist sign: LIST --key KEY is needed\n";
    return kUsage;
  }
  std::string document, signature, error;
  filelist::CFileList list;
  if (!ReadSource(listFile, document) || !filelist::DeserializeJsonText(&list, document)) {
    err << "valdris-filelist sign: cannot read a file list from " << listFile << "\n";
    return kUsage;
  }
  const long long now = NowUtc();
  list.m_strSigned = FormatUtcTime(now);
  if (list.m_strExpires.empty() || expiresDays > 0)
    list.m_strExpires = FormatUtcTime(now + (expiresDays > 0 ? expiresDays : kDefaultExpiryDays) * 86400);
  document = filelist::SerializeJsonText(list);
  // Signed before anything is written, so a key that does not work leaves the list as it was.
  if (!SignDocument(keyFile, document, signature, error)) {
    err << "valdris-filelist sign: " << error << "\n";
    return kProblems;
  }
  for (const auto& [path, bytes] : {std::pair{listFile, &document}, std::pair{listFile + ".sig", &signature}}) {
    if (const auto code = platform::WriteFileAtomically(Widen(path), *bytes); code != 0) {
      err << "valdris-filelist sign: cannot write " << path << " (" << code << ")\n";
      return kProblems;
    }
  }
  out << listFile << " (expires at " << list.m_strExpires << ")\n" << listFile << ".sig\n";
  return kOk;
}

int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string source, folder, keyFile;
  bool server = false, full = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--folder" && i + 1 < args.size()) folder = args[++i];
    else if (args[i] == "--key" && i + 1 < args.size()) keyFile = args[++i];
    else if (args[i] == "--server") server = true;
    else if (args[i] == "--full") server = full = true;
    else if (source.empty() && args[i].rfind("-", 0) != 0) source = args[i];
    else {
      err << "valdris-filelist check: unexpected argument '" << args[i] << "'\n";
      return kUsage;
    }
  }
  if (source.empty()) {
    err << "valdris-filelist check: LIST is needed\n";
    return kUsage;
  }
  std::string document;
  if (!ReadSource(source, document)) {
    err << "valdris-filelist check: cannot read " << source << "\n";
    return kUsage;
  }
  std::string publicKey;
  if (!keyFile.empty() && !ReadSource(keyFile, publicKey)) {
    err << "valdris-filelist check: cannot read " << keyFile << "\n";
    return kUsage;
  }
  filelist::CFileList list;
  if (!filelist::DeserializeJsonText(&list, document)) {
    err << "valdris-filelist check: " << source << " is not a valid file list\n";
    return kUsage;
  }
  Reporter report(out);
  if (!keyFile.empty()) CheckSignature(source, document, list, keyFile, publicKey, report, out);
  CheckInvariants(list, report);
  if (!folder.empty()) CheckFolder(list, folder, report);
  if (server) CheckServer(list, full, report);
  out << list.m_vecFileInfo.size() << " entries, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << ": "
      << (report.Count() == 0 ? std::string("no problems") : std::to_string(report.Count()) + " problem(s)") << "\n";
  return report.Count() == 0 ? kOk : kProblems;
}

} // namespace

std::string NameProblem(const std::string& name) {
  if (!download::IsSafeEntryName(platform::WidenUtf8(name)))
    return "the name could reach outside the install folder (empty, absolute, \".\", \"..\" or an empty part)";
  for (char c : name)
    if (!IsUrlSafe(c)) return std::string("the name holds \"") + c + "\", which would need escaping in a URL";
  return {};
}

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" ||
      std::find(args.begin(), args.end(), "--help") != args.end()) {
    (args.empty() ? err : out) << kHelp;
    return args.empty() ? kUsage : kOk;
  }
  if (args[0] == "--version" && args.size() == 1) {
    out << "valdris-filelist " << core::kProgramVersionText << "\n";
    return kOk;
  }
  if (args[0] == "build") return Build(args, out, err, terminal);
  if (args[0] == "check") return Check(args, out, err);
  if (args[0] == "keygen") return Keygen(args, out, err);
  if (args[0] == "sign") return Sign(args, out, err);
  err << "valdris-filelist: unknown command '" << args[0] << "'\n" << kHelp;
  return kUsage;
}

} // namespace filelisttool
