#pragma once
// Runs a clean-up when the scope it guards is left, whichever way it is left.
#include <utility>

namespace core {

template <typename F>
class CScopeExit {
 public:
  explicit CScopeExit(F cleanup) : m_cleanup(std::move(cleanup)) {}
  ~CScopeExit() { m_cleanup(); }
  CScopeExit(const CScopeExit&) = delete;
  CScopeExit& operator=(const CScopeExit&) = delete;

 private:
  F m_cleanup;
};

} // namespace core
