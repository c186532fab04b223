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

// How this system's user asks a terminal program to stop, where the program keeps its state and
// which install folder it proposes, in words for a help text (the same on every machine of the
// system, so a manual page made from it holds for everyone).
const char* StopRequestWords();
const char* StateFolderWords();
const char* DefaultInstallFolderWords();

} // namespace platform
