#include "download/Thread.h"

#include <chrono>
#include <system_error>

#include "core/Log.h"

namespace download {

CThread::~CThread() { Stop(); }

bool CThread::Start() {
  // A body that ended by itself leaves a finished thread behind; collect it first.
  if (m_hThread.joinable()) m_hThread.join();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnded = false;
  }
  // Set before the thread exists, so the body sees itself running from its first step.
  m_bRunning = true;
  try {
    m_hThread = std::thread(&CThread::ThreadProc, this);
  } catch (const std::system_error&) {
    m_bRunning = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnded = true;
    return false;
  }
  return true;
}

bool CThread::IsBodyGoingOn() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return !m_bEnded;
}

void CThread::ThreadProc() {
  Run();
  m_bRunning = false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bEnded = true;
  m_ended.notify_all();
}

void CThread::Stop() {
  if (!m_hThread.joinable()) return;
  m_bRunning = false;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ended.wait_for(lock, std::chrono::milliseconds(1000), [this] { return m_bEnded; })) {
      // Only a call that ignores the flag (a hung disk) gets here. Killing the thread could leave
      // the object half-changed, so wait for it instead.
      core::theLog.Write(core::LOG_WARNING, u"thread did not stop within 1000 ms, waiting");
      m_ended.wait(lock, [this] { return m_bEnded; });
    }
  }
  m_hThread.join();
}

} // namespace download
