#pragma once
// The publisher's file-list tool: builds a correct file list from a folder, and checks a list, a
// local folder and a server against each other. Output goes to the given streams, so the tool can
// be driven from tests as well as from its command line.
#include <ostream>
#include <string>
#include <vector>

namespace filelisttool {

enum ExitCode { kOk = 0, kProblems = 1, kUsage = 2 };

// The folder below the published folder that holds the block indexes: `build --blocks` writes it,
// and it is never published as files of the game.
inline constexpr const char* kBlocksFolder = ".blocks";

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal);

// Why an entry name cannot be published, or empty when it can: names must stay inside the install
// folder and need no escaping in a URL.
std::string NameProblem(const std::string& name);

} // namespace filelisttool
