#include "platform/Launch.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/Utf.h"

extern char** environ;

namespace platform {

namespace {

// What the start of a program came to, sent back through a pipe.
struct SpawnOutcome {
  int startError = 0;  // errno of the start; 0 when the program runs (or ran)
  int exitCode = -1;   // its exit status when it ended within the wait; -1 when it did not (yet)
};

// Starts argv[0] detached (a grandchild of ours, so nothing is left to reap). With waitMs > 0 the
// intermediate child watches the program that long and reports its exit status if it ended.
SpawnOutcome Spawn(const std::vector<std::string>& args, const std::string& workingDir, bool searchPath,
                   int waitMs) {
  SpawnOutcome outcome;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    outcome.startError = errno;
    return outcome;
  }
  const pid_t child = fork();
  if (child < 0) {
    outcome.startError = errno;
    close(pipeFds[0]);
    close(pipeFds[1]);
    return outcome;
  }
  if (child == 0) {
    setsid();
    SpawnOutcome report;
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) {
      report.startError = errno;
      (void)!write(pipeFds[1], &report, sizeof report);
      _exit(127);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int startPipe[2];
    if (pipe2(startPipe, O_CLOEXEC) != 0) _exit(127);
    const pid_t program = fork();
    if (program == 0) {
      // A program file is run as it is (no shell fallback); a command is looked up in PATH.
      if (searchPath) execvp(argv[0], argv.data());
      else execv(argv[0], argv.data());
      const int err = errno;
      (void)!write(startPipe[1], &err, sizeof err);
      _exit(127);
    }
    if (program < 0) report.startError = errno;
    close(startPipe[1]);
    // The pipe closes on a successful exec, or carries the exec's errno.
    if (program < 0 || read(startPipe[0], &report.startError, sizeof report.startError) > 0) {
      (void)!write(pipeFds[1], &report, sizeof report);
      _exit(0);
    }
    for (int waited = 0; waited < waitMs; waited += 20) {
      int status = 0;
      if (waitpid(program, &status, WNOHANG) == program) {
        report.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    (void)!write(pipeFds[1], &report, sizeof report);
    _exit(0);
  }
  close(pipeFds[1]);
  waitpid(child, nullptr, 0);
  SpawnOutcome report;
  if (read(pipeFds[0], &report, sizeof report) == static_cast<ssize_t>(sizeof report)) outcome = report;
  close(pipeFds[0]);
  return outcome;
}

// How long the opener is watched when handing over the setup program: long enough to see it refuse
// (no handler for the file), short enough never to hang the window on an opener that stays with it.
constexpr int kOpenerWaitMs = 5000;

// The opener's exit status as a code: it reports a missing file as 2, anything else it could not
// do (no handler, the handler failed) as "no association".
ErrorCode ErrorFromOpenerExit(int exitCode) {
  if (exitCode <= 0) return ERROR_SUCCESS;  // ended well, or still running with the file
  return exitCode == 2 ? ERROR_FILE_NOT_FOUND : ERROR_NO_ASSOCIATION;
}

} // namespace

ErrorCode LaunchProgram(std::u16string_view path, std::u16string_view workingDir) {
  const std::string file = NarrowUtf8(path);
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  // Downloaded files carry no execute permission; the user asked for this one to be run.
  if ((st.st_mode & S_IXUSR) == 0 && ::chmod(file.c_str(), st.st_mode | S_IXUSR) != 0) return ErrorFromErrno(errno);
  const SpawnOutcome started = Spawn({file}, NarrowUtf8(workingDir), false, 0);
  if (started.startError != ENOEXEC) return started.startError == 0 ? ERROR_SUCCESS : ErrorFromErrno(started.startError);
  // No program for this system: the desktop's opener may know what runs it; a refusal is a failure.
  const SpawnOutcome opened = Spawn({"xdg-open", file}, NarrowUtf8(workingDir), true, kOpenerWaitMs);
  if (opened.startError == ENOENT) return ERROR_NO_ASSOCIATION;
  if (opened.startError != 0) return ErrorFromErrno(opened.startError);
  return ErrorFromOpenerExit(opened.exitCode);
}

ErrorCode OpenWithDesktop(std::u16string_view target) {
  const SpawnOutcome opened = Spawn({"xdg-open", NarrowUtf8(target)}, {}, true, 0);
  if (opened.startError == ENOENT) return ERROR_NO_ASSOCIATION;
  return opened.startError == 0 ? ERROR_SUCCESS : ErrorFromErrno(opened.startError);
}

} // namespace platform
