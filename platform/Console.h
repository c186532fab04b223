#pragma once
// What a terminal program needs of its console: a stop request from the user (Ctrl-C, a termination
// request), whether an output stream is a terminal, and the current folder.
#include <atomic>
#include <string>

namespace platform {

// From now on a Ctrl-C or a termination request clears the flag instead of ending the process.
void ClearFlagOnStopRequest(std::atomic<bool>* running);

enum class Stream { Out, Err };
bool IsTerminal(Stream stream);

// The process's current folder; empty when it cannot be known.
std::u16string CurrentFolder();

} // namespace platform
