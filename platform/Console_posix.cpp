#include "platform/Console.h"

#include <climits>
#include <csignal>
#include <unistd.h>

#include "platform/Utf.h"

namespace platform {

namespace {

// Written by the signal handler: a lock-free atomic is safe there.
std::atomic<std::atomic<bool>*> g_running{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool>*>::is_always_lock_free);

void OnSignal(int) {
  if (std::atomic<bool>* running = g_running.load()) running->store(false);
}

} // namespace

void ClearFlagOnStopRequest(std::atomic<bool>* running) {
  g_running = running;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool IsTerminal(Stream stream) { return isatty(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO) != 0; }

std::u16string CurrentFolder() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) != nullptr ? WidenUtf8(path) : std::u16string();
}

const char* StopRequestWords() { return "Ctrl-C or SIGTERM"; }
const char* StateFolderWords() { return "$XDG_STATE_HOME/Mervo_Downloader (else ~/.local/state/Mervo_Downloader)"; }
const char* DefaultInstallFolderWords() { return "~/DOWNLOAD/VALDRIS"; }

} // namespace platform
