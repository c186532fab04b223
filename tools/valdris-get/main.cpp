// valdris-get: the downloader without a window, for machines without a display and for scripts.
// It fetches the file list, checks its version and runs the same worker as the window.
#include <algorithm>
#include <atomic>
#include <deque>
#include <csignal>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/Log.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"
#include "download/DownloadThread.h"
#include "download/FileListFetch.h"
#include "platform/Clock.h"
#include "platform/Utf.h"

namespace {

// Set from the signal handler (a lock-free atomic is safe there); every network wait watches it.
std::atomic<bool> g_running{true};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int) { g_running.store(false); }

// Plain lines off a terminal: about one a second.
constexpr std::uint32_t kPlainLineIntervalMs = 1000;

constexpr const char* kHelp =
    "Usage: valdris-get [--filelist URL] [--folder DIR] [--quiet]\n"
    "\n"
    "Brings the VALDRIS game files into an install folder without a window: fetches the file list,\n"
    "checks that it was made for this downloader, then skips files that are already valid, resumes\n"
    "partial ones, fetches missing or corrupt ones and verifies every file by its MD5 digest.\n"
    "\n"
    "Options:\n"
    "  --filelist URL  address of the file list (default: the built-in address)\n"
    "  --folder DIR    install folder (default: ~/DOWNLOAD/VALDRIS); created when missing\n"
    "  --quiet         print nothing but errors\n"
    "  --help          show this text\n"
    "\n"
    "On a terminal one live line shows the current file, its progress, the speed of the last seconds,\n"
    "the time left for the whole list and its progress; otherwise a plain line is printed about once\n"
    "a second, and one when the run ends.\n"
    "Ctrl-C or SIGTERM stops cleanly: a partial file is kept and resumed by the next run.\n"
    "\n"
    "Exit status: 0 every file is present and verified; 1 the run failed (the reason is printed on\n"
    "standard error); 2 wrong usage; 130 stopped by a signal.\n"
    "The log is written to $XDG_STATE_HOME/Mervo_Downloader (else ~/.local/state/Mervo_Downloader).\n";

std::string Narrow(const std::u16string& text) { return platform::NarrowUtf8(text); }

// What the progress line shows, kept from the worker's records.
class Progress {
 public:
  Progress(const filelist::CFileList& list, bool terminal, bool quiet) : m_list(list), m_terminal(terminal), m_quiet(quiet) {
    m_prefix.push_back(0);
    for (const auto& info : list.m_vecFileInfo) m_prefix.push_back(m_prefix.back() + info.Size);
  }

  void Update(const download::DownloadProgress& p) {
    const std::uint32_t now = platform::TickCount32();
    // Bytes that came over the network: the growth of the current entry, or, for a new entry's first
    // record, what arrived beyond the part already on disk. An entry found complete brought none.
    if (!p.bVerified) {
      const bool sameEntry = p.nFileIndex == m_index && !m_first;
      const std::uint64_t from = sameEntry ? m_received : p.dwResumedFrom;
      m_transferred += p.dwReceived - std::min(p.dwReceived, from);
    }
    m_first = false;
    m_index = p.nFileIndex;
    m_received = p.dwReceived;
    m_total = p.dwTotal;
    // The speed is that of the last few seconds, over all entries.
    m_samples.push_back({now, m_transferred});
    while (m_samples.size() > 2 && now - m_samples.front().tick > 3000) m_samples.pop_front();
    const std::uint32_t span = now - m_samples.front().tick;
    if (span >= 500) m_speed = (m_transferred - m_samples.front().bytes) * 1000 / span;
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
    if (m_terminal && !m_quiet && !m_first) {
      std::cerr << "\r\x1b[K" << Line() << std::flush;
    }
  }

  // The last state, once: the live line is closed, or a plain line not yet printed is printed.
  void Finish() {
    if (m_quiet || m_first) return;
    if (m_terminal) std::cerr << "\r\x1b[K" << Line() << std::endl;
    else if (m_pending) std::cout << Line() << std::endl;
  }

 private:
  std::string Line() const {
    const std::size_t i = static_cast<std::size_t>(m_index);
    const std::string name = i < m_list.m_vecFileInfo.size() ? m_list.m_vecFileInfo[i].Name : std::string("?");
    const int percent = core::PercentOf(m_received, m_total);
    const std::uint64_t done = (i < m_prefix.size() ? m_prefix[i] : 0) + m_received;
    const int whole = m_list.m_nTotalSize > 0 ? core::PercentOf(done, m_list.m_nTotalSize) : 100;
    std::string left = "--:--:--";
    if (m_speed > 0 && m_list.m_nTotalSize >= done)
      left = Narrow(core::FormatDurationSeconds(static_cast<std::uint32_t>((m_list.m_nTotalSize - done) / m_speed)));
    return "[" + std::to_string(m_index + 1) + "/" + std::to_string(m_list.m_nTotalCount) + "] " + name + "  " +
           Narrow(core::FormatByteSize(m_received)) + " / " + Narrow(core::FormatByteSize(m_total)) + " (" +
           std::to_string(percent) + "%)  " + Narrow(core::FormatSpeed(m_speed)) + "  " + left + " left  total " +
           std::to_string(whole) + "%";
  }

  const filelist::CFileList& m_list;
  bool m_terminal;
  bool m_quiet;
  std::vector<std::uint64_t> m_prefix;
  bool m_first = true;
  bool m_printed = false;  // a plain line was printed...
  std::uint32_t m_lastPrinted = 0;  // ...at this tick
  bool m_pending = false;  // a record came after the last plain line
  std::int32_t m_index = 0;
  std::uint64_t m_received = 0;
  std::uint64_t m_total = 0;
  std::uint64_t m_speed = 0;
  std::uint64_t m_transferred = 0;
  struct Sample {
    std::uint32_t tick;
    std::uint64_t bytes;
  };
  std::deque<Sample> m_samples;
};

} // namespace

int main(int argc, char** argv) {
  std::u16string url = net::GetFileListUrl();
  std::u16string folder;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kHelp;
      return 0;
    } else if (arg == "--quiet" || arg == "-q") {
      quiet = true;
    } else if ((arg == "--filelist" || arg == "--folder") && i + 1 < argc) {
      (arg == "--filelist" ? url : folder) = platform::WidenUtf8(argv[++i]);
    } else {
      std::cerr << "valdris-get: unknown or incomplete option '" << arg << "'\n" << kHelp;
      return 2;
    }
  }
  if (folder.empty()) folder = core::GetDefaultInstallFolder();
  if (folder.front() != u'/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) folder = platform::WidenUtf8(cwd) + u"/" + folder;
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  core::InitLog();
  filelist::CFileList list;
  download::StartupFailure failure;
  {
    net::CHttpClient client;
    client.SetRunningFlag(&g_running);
    if (!download::DownloadFileList(client, url, list, failure) || !download::CheckVersion(list, failure)) {
      if (!g_running.load()) {
        if (!quiet) std::cerr << "stopped" << std::endl;
        return 130;
      }
      std::cerr << "valdris-get: " << Narrow(failure.text) << std::endl;
      return 1;
    }
  }
  if (!quiet)
    std::cout << list.m_nTotalCount << " files, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << ", into "
              << Narrow(folder) << std::endl;

  download::CMessageQueue queue;
  download::CDownloadThread worker(queue.Handle());
  worker.SetFileList(list);
  worker.SetDownloadPath(folder);
  if (!worker.Start()) {
    core::theLog.Write(core::LOG_ERROR, u"download thread start is failed");
    std::cerr << "valdris-get: " << Narrow(core::LoadResString(core::IDS_ERROR_TRY_LATER)) << std::endl;
    return 1;
  }
  Progress progress(list, isatty(STDERR_FILENO) != 0, quiet);
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
    if (message.id == download::WM_DOWNLOAD_PROGRESS) {
      progress.Update(static_cast<const download::DownloadProgress&>(*message.record));
      continue;
    }
    if (message.id != download::WM_DOWNLOAD_RESULT) continue;
    const auto& result = static_cast<const download::DownloadResult&>(*message.record);
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
    return 1;
  }
}
