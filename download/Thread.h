#pragma once
// The base of an object that runs its body on a thread of its own. Stopping is cooperative: the
// running flag is cleared, and every wait of the body (network, checksum) watches that flag, so
// the thread ends promptly and is never killed.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace download {

class CThread {
 public:
  CThread() = default;
  // A derived class must call Stop in its own destructor, before its members go away.
  virtual ~CThread();
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;

  // Starts the body; only while no thread of this object runs. False when no thread can be made.
  bool Start();
  // Asks the body to stop and waits for it to end. Returns within about a second whenever the body
  // is in one of its interruptible waits; afterwards the thread no longer touches the object.
  void Stop();
  bool IsRunning() const { return m_bRunning.load(); }
  // Whether a body has started and not yet ended (derived classes' setters check it is not).
  bool IsBodyGoingOn() const;
  // The flag the body's blocking calls watch.
  const std::atomic<bool>& RunningFlag() const { return m_bRunning; }

 protected:
  virtual bool Run() = 0;

  std::atomic<bool> m_bRunning{false};

 private:
  void ThreadProc();

  std::thread m_hThread;
  mutable std::mutex m_mutex;
  std::condition_variable m_ended;
  bool m_bEnded = true;
};

} // namespace download
