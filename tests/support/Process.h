#pragma once
// Runs a program of the project as a child process, with its output captured in files.
#include <csignal>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/TempDir.h"

namespace testsupport {

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const std::string& stateHome)
      : m_out(m_dir / "stdout"), m_err(m_dir / "stderr") {
    m_pid = ::fork();
    if (m_pid == 0) {
      setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
      if (freopen(m_out.c_str(), "w", stdout) == nullptr || freopen(m_err.c_str(), "w", stderr) == nullptr) _exit(126);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (m_pid > 0 && !m_done) {
      ::kill(m_pid, SIGKILL);
      Wait();
    }
  }
  void Signal(int signal) { ::kill(m_pid, signal); }
  // The exit status, or 128 + the signal that ended it.
  int Wait() {
    if (!m_done) {
      int status = 0;
      ::waitpid(m_pid, &status, 0);
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      m_done = true;
    }
    return m_status;
  }
  std::string Out() const { return ReadBytes(m_out); }
  std::string Err() const { return ReadBytes(m_err); }

 private:
  TempDir m_dir;
  std::filesystem::path m_out;
  std::filesystem::path m_err;
  pid_t m_pid = -1;
  bool m_done = false;
  int m_status = -1;
};

} // namespace testsupport
