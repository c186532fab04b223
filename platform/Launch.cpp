#include "platform/Launch.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/Utf.h"

extern char** environ;

namespace platform {

namespace {

// Starts argv[0] detached (a grandchild of ours, so nothing is left to reap); returns the errno
// of the start, seen through a pipe.
int SpawnDetached(const std::vector<std::string>& args, const std::string& workingDir, bool searchPath) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
  const pid_t child = fork();
  if (child < 0) {
    const int err = errno;
    close(pipeFds[0]);
    close(pipeFds[1]);
    return err;
  }
  if (child == 0) {
    setsid();
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) {
      const int err = errno;
      (void)!write(pipeFds[1], &err, sizeof err);
      _exit(127);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (fork() == 0) {
      // A program file is run as it is (no shell fallback); a command is looked up in PATH.
      if (searchPath) execvp(argv[0], argv.data());
      else execv(argv[0], argv.data());
      const int err = errno;
      (void)!write(pipeFds[1], &err, sizeof err);
      _exit(127);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  waitpid(child, nullptr, 0);
  int err = 0;
  const ssize_t n = read(pipeFds[0], &err, sizeof err);
  close(pipeFds[0]);
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

} // namespace

ErrorCode LaunchProgram(std::u16string_view path, std::u16string_view workingDir) {
  const std::string file = NarrowUtf8(path);
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  // Downloaded files carry no execute permission; the user asked for this one to be run.
  if ((st.st_mode & S_IXUSR) == 0 && ::chmod(file.c_str(), st.st_mode | S_IXUSR) != 0) return ErrorFromErrno(errno);
  const int err = SpawnDetached({file}, NarrowUtf8(workingDir), false);
  if (err == ENOEXEC) return OpenWithDesktop(path);
  return err == 0 ? ERROR_SUCCESS : ErrorFromErrno(err);
}

ErrorCode OpenWithDesktop(std::u16string_view target) {
  const int err = SpawnDetached({"xdg-open", NarrowUtf8(target)}, {}, true);
  if (err == ENOENT) return ERROR_NO_ASSOCIATION;
  return err == 0 ? ERROR_SUCCESS : ErrorFromErrno(err);
}

} // namespace platform
