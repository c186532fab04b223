// valdris-get: the downloader without a window, for machines without a display and for scripts.
// It fetches the file list, checks its version and runs the same worker as the window.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"
#include "core/Version.h"
#include "download/DownloadThread.h"
#include "download/FileListFetch.h"
#include "download/ProgressModel.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace {

// Cleared by a stop request (Ctrl-C, SIGTERM, a console close); every network wait watches it.
std::atomic<bool> g_running{true};

// Plain lines off a terminal: about one a second.
constexpr std::uint32_t kPlainLineIntervalMs = 1000;

// The help text, in the words of the system it runs on.
std::string HelpText() {
  return std::string(
             "Usage: valdris-get [--filelist URL] [--folder DIR] [--connections N] [--quiet]\n"
             "\n"
             "Brings the VALDRIS game files into an install folder without a window: fetches the file list,\n"
             "checks that it was made for this downloader, then skips files that are already valid, resumes\n"
             "partial ones, fetches missing or corrupt ones and verifies every file by its MD5 digest.\n"
             "\n"
             "Options:\n"
             "  --filelist URL  address of the file list (default: the built-in address)\n"
             "  --folder DIR    install folder (default: ") +
         platform::DefaultInstallFolderWords() +
         "); created when missing\n"
         "  --connections N connections to the server at once, 1 to 16 (default: " +
         std::to_string(download::kDefaultConnections) +
         "): small missing files\n"
         "                  are fetched ahead over the others, large ones in pieces over several\n"
         "                  (and over every server the list names); 1 fetches each file whole in its turn\n"
         "  --quiet         print nothing but errors\n"
         "  --help          show this text\n"
         "  --version       show the program's version and the publisher keys it trusts\n"
         "\n"
         "On a terminal one live line shows the current file, its progress, the speed of the last seconds,\n"
         "the time left for the whole list and its progress; otherwise a plain line is printed about once\n"
         "a second, and one when the run ends.\n" +
         platform::StopRequestWords() +
         " stops cleanly: a partial file is kept and resumed by the next run.\n"
         "\n"
         "Exit status: 0 every file is present and verified; 1 the run failed (the reason is printed on\n"
         "standard error, with the path and the system's reason where a file or folder is concerned);\n"
         "2 wrong usage; 130 stopped.\n"
         "The log is written to " +
         platform::StateFolderWords() + ".\n";
}

std::string Narrow(const std::u16string& text) { return platform::NarrowUtf8(text); }

// The progress line, from the shared progress model: the current file, its bytes and percentage,
// the speed of the last seconds over all files, the time left for the whole list and its percentage.
class Progress {
 public:
  Progress(const filelist::CFileList& list, bool terminal, bool quiet)
      : m_list(list), m_model(list), m_terminal(terminal), m_quiet(quiet) {}

  void Update(const download::DownloadProgress& p) {
    const std::uint32_t now = platform::TickCount32();
    m_model.Update(p, now);
    m_any = true;
    if (!m_terminal && !m_quiet && (!m_printed || now - m_lastPrinted >= kPlainLineIntervalMs)) {
      m_printed = true;
      m_lastPrinted = now;
      m_pending = false;
      std::cout << Line() << std::endl;
    } else {
      m_pending = true;
    }
  }

  void Draw() {
    if (m_terminal && !m_quiet && m_any) std::cerr << "\r\x1b[K" << Line() << std::flush;
  }

  // The last state, once: the live line is closed, or a plain line not yet printed is printed.
  void Finish() {
    if (m_quiet || !m_any) return;
    if (m_terminal) std::cerr << "\r\x1b[K" << Line() << std::endl;
    else if (m_pending) std::cout << Line() << std::endl;
  }

 private:
  std::string Line() const {
    const auto i = static_cast<std::size_t>(m_model.CurrentIndex());
    const std::string name = i < m_list.m_vecFileInfo.size() ? m_list.m_vecFileInfo[i].Name : std::string("?");
    const std::optional<std::uint32_t> secondsLeft = m_model.ListSecondsLeft();
    const std::string left = secondsLeft ? Narrow(core::FormatDurationSeconds(*secondsLeft)) : "--:--:--";
    return "[" + std::to_string(i + 1) + "/" + std::to_string(m_list.m_nTotalCount) + "] " + name + "  " +
           Narrow(core::FormatByteSize(m_model.CurrentReceived())) + " / " +
           Narrow(core::FormatByteSize(m_model.CurrentTotal())) + " (" +
           std::to_string(core::PercentOf(m_model.CurrentReceived(), m_model.CurrentTotal())) + "%)  " +
           Narrow(core::FormatSpeed(m_model.RecentSpeed())) + "  " + left + " left  total " +
           std::to_string(m_model.ListPercent()) + "%";
  }

  const filelist::CFileList& m_list;
  download::CProgressModel m_model;
  bool m_terminal;
  bool m_quiet;
  bool m_any = false;               // a record has come
  bool m_printed = false;           // a plain line was printed...
  std::uint32_t m_lastPrinted = 0;  // ...at this tick
  bool m_pending = false;           // a record came after the last plain line
};

struct Options {
  std::u16string url = platform::WidenUtf8(VALDRIS_FILELIST_URL);
  std::u16string folder;
  bool quiet = false;
  unsigned connections = download::kDefaultConnections;
};

// The command line; an exit code when the program ends here (help, version, wrong usage).
std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << HelpText();
      return 0;
    } else if (arg == "--version") {
      std::cout << "valdris-get " << core::kProgramVersionText << "\n";
      // Whether file lists are verified is part of what this build is.
      const std::vector<std::string> keys = download::BuiltInTrustPolicy().keys;
      if (keys.empty()) std::cout << "trusted publisher keys: none (file lists are not verified)\n";
      for (const std::string& key : keys) std::cout << "trusted publisher key: " << key << "\n";
      return 0;
    } else if (arg == "--quiet" || arg == "-q") {
      options.quiet = true;
    } else if (arg == "--connections" && i + 1 < argc) {
      const std::string value = argv[++i];
      char* end = nullptr;
      const unsigned long n = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 1 || n > 16) {
        std::cerr << "valdris-get: --connections takes a number from 1 to 16\n";
        return 2;
      }
      options.connections = static_cast<unsigned>(n);
    } else if ((arg == "--filelist" || arg == "--folder") && i + 1 < argc) {
      // An empty value is a mistake (an unset variable in a script), not a wish for the default.
      if (argv[i + 1][0] == '\0') {
        std::cerr << "valdris-get: " << arg << " needs a value\n";
        return 2;
      }
      (arg == "--filelist" ? options.url : options.folder) = platform::WidenUtf8(argv[++i]);
    } else {
      std::cerr << "valdris-get: unknown or incomplete option '" << arg << "'\n" << HelpText();
      return 2;
    }
  }
  if (options.folder.empty()) options.folder = core::GetDefaultInstallFolder();
  if (!platform::IsAbsolutePath(options.folder))
    options.folder = core::JoinPath(platform::CurrentFolder(), options.folder);
  return std::nullopt;
}

// Fetches and checks the file list; an exit code when the program ends here.
std::optional<int> FetchList(const Options& options, filelist::CFileList& list) {
  download::StartupFailure failure;
  net::CHttpClient client;
  client.SetRunningFlag(&g_running);
  if (download::DownloadFileList(client, options.url, list, failure, download::BuiltInTrustPolicy()) &&
      download::CheckVersion(list, failure))
    return std::nullopt;
  if (!g_running.load()) {
    if (!options.quiet) std::cerr << "stopped" << std::endl;
    return 130;
  }
  std::cerr << "valdris-get: " << Narrow(failure.text) << std::endl;
  return 1;
}

// The run over the list, its progress shown until its result; the program's exit code.
int Run(const Options& options, const filelist::CFileList& list) {
  const bool quiet = options.quiet;
  download::CMessageQueue queue;
  download::CDownloadThread worker(queue.Handle());
  worker.SetFileList(list);
  worker.SetDownloadPath(options.folder);
  worker.SetConnections(options.connections);
  if (!worker.Start()) {
    core::theLog.Write(core::LOG_ERROR, u"download thread start is failed");
    std::cerr << "valdris-get: " << Narrow(core::LoadResString(core::IDS_ERROR_TRY_LATER)) << std::endl;
    return 1;
  }
  Progress progress(list, platform::IsTerminal(platform::Stream::Err), quiet);
  bool stopped = false;
  for (;;) {
    if (!g_running.load() && !stopped) {
      stopped = true;
      worker.Stop();  // the run ends and posts its result
    }
    download::CMessageQueue::Message message;
    if (!queue.Wait(message, 250)) {
      progress.Draw();
      continue;
    }
    std::unique_ptr<download::DownloadResult> ended;
    download::DispatchRecord(
        message.id, std::move(message.record),
        [&progress](std::unique_ptr<download::DownloadProgress> record) { progress.Update(*record); },
        [&ended](std::unique_ptr<download::DownloadResult> record) { ended = std::move(record); });
    if (!ended) continue;
    const download::DownloadResult& result = *ended;
    progress.Finish();
    if (result.bSuccess) {
      if (!quiet) std::cout << "complete: every file is present and verified" << std::endl;
      return 0;
    }
    if (stopped) {
      if (!quiet) std::cerr << "stopped; run again to resume" << std::endl;
      return 130;
    }
    std::cerr << "valdris-get: " << Narrow(result.szMessage) << std::endl;
    if (!result.strDetail.empty()) std::cerr << "  " << Narrow(result.strDetail) << std::endl;
    return 1;
  }
}

} // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> ended = ParseOptions(argc, argv, options)) return *ended;
  platform::ClearFlagOnStopRequest(&g_running);
  core::InitLog();
  filelist::CFileList list;
  if (const std::optional<int> ended = FetchList(options, list)) return *ended;
  if (!options.quiet)
    std::cout << list.m_nTotalCount << " files, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << ", into "
              << Narrow(options.folder) << std::endl;
  return Run(options, list);
}
