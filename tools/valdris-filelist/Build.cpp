// valdris-filelist build: options, the walk of the folder, the digests (on several threads), the
// signature, and the list written whole.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "Commands.h"
#include "FileListTool.h"
#include "Signing.h"
#include "blocks/BlockIndex.h"
#include "core/Text.h"
#include "core/Version.h"
#include "download/LocalFiles.h"
#include "download/Md5.h"
#include "download/Servers.h"
#include "filelist/FileList.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace filelisttool {

namespace fs = std::filesystem;

namespace {

struct BuildOptions {
  std::string dir, url, version = core::kProgramVersionText, output, signKey;
  long long expiresDays = -1;
  std::uint32_t blockSize = 0;  // 0: no block indexes
  std::vector<std::string> mirrors;  // other servers with the same layout as --url
};

// The options, checked against each other; kOk or the exit code of a usage error (said on err).
int ParseBuildOptions(const std::vector<std::string>& args, BuildOptions& o, std::ostream& err) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--url" && i + 1 < args.size()) o.url = args[++i];
    else if (args[i] == "--mirror" && i + 1 < args.size()) {
      std::string mirror = args[++i];
      if (!mirror.empty() && mirror.back() != '/') mirror += '/';
      o.mirrors.push_back(std::move(mirror));
    }
    else if (args[i] == "--sign" && i + 1 < args.size()) o.signKey = args[++i];
    else if (args[i] == "--expires" && i + 1 < args.size()) {
      if (!ParseDays(args[++i], o.expiresDays)) {
        err << "valdris-filelist build: --expires takes a number of days\n";
        return kUsage;
      }
    }
    else if (args[i] == "--blocks") o.blockSize = o.blockSize != 0 ? o.blockSize : blocks::kDefaultBlockSize;
    else if (args[i] == "--block-size" && i + 1 < args.size()) {
      const std::string& text = args[++i];
      unsigned long size = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
      if (error != std::errc() || end != text.data() + text.size() || size < blocks::kSmallestBlock ||
          size > blocks::kLargestBlock) {
        err << "valdris-filelist build: --block-size takes a number of bytes from " << blocks::kSmallestBlock << " to "
            << blocks::kLargestBlock << "\n";
        return kUsage;
      }
      o.blockSize = static_cast<std::uint32_t>(size);
    }
    else if (args[i] == "--version" && i + 1 < args.size()) o.version = args[++i];
    else if (args[i] == "-o" && i + 1 < args.size()) o.output = args[++i];
    else if (o.dir.empty() && args[i].rfind("-", 0) != 0) o.dir = args[i];
    else {
      err << "valdris-filelist build: unexpected argument '" << args[i] << "'\n";
      return kUsage;
    }
  }
  if (o.dir.empty() || o.url.empty()) {
    err << "valdris-filelist build: DIR and --url BASE are needed\n";
    return kUsage;
  }
  if ((!o.signKey.empty() || o.expiresDays > 0) && o.output.empty()) {
    err << "valdris-filelist build: --sign and --expires need -o FILE\n";
    return kUsage;
  }
  if (o.expiresDays > 0 && o.signKey.empty()) {
    err << "valdris-filelist build: --expires needs --sign: only a signed list is judged by its expiry\n";
    return kUsage;
  }
  if (o.url.back() != '/') o.url += '/';
  // The mirrors as the downloader will judge them: each an http(s) address, each once, not too many.
  filelist::CFileList servers;
  servers.m_strURL = o.url;
  servers.m_vecMirrors = o.mirrors;
  std::vector<std::u16string> bases;
  if (std::u16string problem; !download::ListServers(servers, bases, problem)) {
    err << "valdris-filelist build: --mirror: " << platform::NarrowUtf8(problem) << "\n";
    return kUsage;
  }
  if (bases.size() != o.mirrors.size() + 1) {
    err << "valdris-filelist build: --mirror: a server is named more than once\n";
    return kUsage;
  }
  std::error_code ec;
  if (!fs::is_directory(o.dir, ec)) {
    err << "valdris-filelist build: " << o.dir << " is not a folder\n";
    return kUsage;
  }
  return kOk;
}

// Every file below dir, by its name in the list (UTF-8, forward slashes), sorted whatever order the
// folder is read in; the folder of block indexes is the tool's own, never published as files. Each
// file that cannot be published is said on err; kOk or kProblems.
int CollectFiles(const std::string& dir, std::vector<std::pair<std::string, fs::path>>& files, std::ostream& err) {
  bool refused = false;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(dir);
    const std::string name = relative.generic_u8string();
    if (it.depth() == 0 && name == kBlocksFolder) {
      it.disable_recursion_pending();
      continue;
    }
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
  return kOk;
}

// Smaller files are fetched whole when they change: a patch would save less than its extra request costs.
constexpr std::uint64_t kSmallestIndexedFile = 64 * 1024;

// Writes the block index of a file below dir's index folder and names it in the entry.
platform::ErrorCode WriteBlockIndex(const std::string& dir, const fs::path& file, std::uint32_t blockSize,
                                    filelist::FileInfo& info) {
  blocks::CBlockIndex index;
  if (const auto code = blocks::ComputeBlockIndex(Widen(file.u8string()), blockSize, index); code != 0) return code;
  const std::string bytes = index.Serialize();
  download::CMd5 md5;
  md5.Update(bytes.data(), bytes.size());
  info.Blocks.Name = std::string(kBlocksFolder) + "/" + info.Name + ".blocks";
  info.Blocks.Size = bytes.size();
  info.Blocks.CheckSum = Narrow(md5.Finish());
  const fs::path target = fs::u8path(dir) / fs::u8path(info.Blocks.Name);
  if (const auto code = platform::CreateDirectoryTree(Widen(target.parent_path().u8string())); code != 0) return code;
  return platform::WriteFileAtomically(Widen(target.u8string()), bytes);
}

// The list's entries for the files: sizes and digests (and block indexes when asked), hashed by up to
// four threads, each taking the next file; on a terminal, a count of the files hashed so far. kOk or
// kProblems (said on err).
int HashFiles(const std::string& dir, std::uint32_t blockSize,
              const std::vector<std::pair<std::string, fs::path>>& files, filelist::CFileList& list,
              std::ostream& err, bool terminal) {
  list.m_vecFileInfo.resize(files.size());
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
      } else if (blockSize != 0 && info.Size >= kSmallestIndexedFile) {
        if (const auto written = WriteBlockIndex(dir, files[i].second, blockSize, info); written != 0)
          failures[i] = {info.Name, "cannot write its block index", written};
      }
      info.CheckSum = Narrow(checksum);
      ++done;
    }
  };
  const unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads; ++t) workers.emplace_back(hashFiles);
  std::thread progress;
  if (terminal) {
    progress = std::thread([&] {
      while (done.load() < files.size()) {
        err << "\r\x1b[Khashed " << done.load() << "/" << files.size() << " files" << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    });
  }
  hashFiles();
  for (std::thread& w : workers) w.join();
  if (progress.joinable()) progress.join();
  for (const Failure& f : failures) {
    if (f.code != 0) {
      err << "refused: " << f.name << ": " << f.what << " (" << f.code << ")\n";
      return kProblems;
    }
  }
  for (const auto& info : list.m_vecFileInfo) list.m_nTotalSize += info.Size;
  if (terminal) err << "\r\x1b[Khashed " << files.size() << " files, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << "\n";
  return kOk;
}

// The list (and its signature) to the output file, each replaced whole, or the list to out.
int WriteList(const BuildOptions& o, const filelist::CFileList& list, std::ostream& out, std::ostream& err) {
  const std::string document = filelist::SerializeJsonText(list);
  // The signature is made before anything is written, so a key that does not work leaves no list.
  std::string signature;
  if (!o.signKey.empty()) {
    std::string error;
    if (!SignDocument(o.signKey, document, signature, error)) {
      err << "valdris-filelist build: " << error << "\n";
      return kProblems;
    }
  }
  if (o.output.empty()) {
    out << document;
    return kOk;
  }
  if (const auto code = platform::WriteFileAtomically(Widen(o.output), document); code != 0) {
    err << "valdris-filelist build: cannot write " << o.output << " (" << code << ")\n";
    return kProblems;
  }
  if (!signature.empty()) {
    if (const auto code = platform::WriteFileAtomically(Widen(o.output + ".sig"), signature); code != 0) {
      err << "valdris-filelist build: cannot write " << o.output << ".sig (" << code << ")\n";
      return kProblems;
    }
  }
  out << list.m_nTotalCount << " files, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << " -> " << o.output
      << "\n";
  return kOk;
}

} // namespace

int Build(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
  BuildOptions options;
  if (const int code = ParseBuildOptions(args, options, err); code != kOk) return code;
  std::vector<std::pair<std::string, fs::path>> files;
  if (const int code = CollectFiles(options.dir, files, err); code != kOk) return code;
  if (files.size() > static_cast<std::size_t>(INT32_MAX)) {
    err << "valdris-filelist build: too many files\n";
    return kProblems;
  }
  filelist::CFileList list;
  list.m_strVersion = options.version;
  list.m_strURL = options.url;
  list.m_vecMirrors = options.mirrors;
  if (const int code = HashFiles(options.dir, options.blockSize, files, list, err, terminal); code != kOk) return code;
  list.m_nTotalCount = static_cast<std::int32_t>(files.size());
  if (!options.signKey.empty()) {
    const long long now = NowUtc();
    list.m_strSigned = FormatUtcTime(now);
    list.m_strExpires =
        FormatUtcTime(now + (options.expiresDays > 0 ? options.expiresDays : kDefaultExpiryDays) * 86400);
  }
  return WriteList(options, list, out, err);
}

} // namespace filelisttool
