#pragma once
// A game published on the fault server: its files under /game/ and its list at /filelist.json.
#include <string>
#include <utility>
#include <vector>

#include "support/FaultServer.h"
#include "support/TestData.h"

namespace testsupport {

// dripDelayMs > 0 serves each file in pieces of dripBytes with that pause between them.
inline void PublishGame(FaultServer& server, const std::vector<std::pair<std::string, std::string>>& files,
                        const std::string& version = "2017.12.27.1", std::size_t dripBytes = 0, int dripDelayMs = 0) {
  filelist::CFileList list = MakeList(server.Url("/game/"), files);
  list.m_strVersion = version;
  for (const auto& [name, bytes] : files) {
    FaultScript script;
    script.body = bytes;
    script.dripBytes = dripDelayMs > 0 ? dripBytes : 0;
    script.dripDelayMs = dripDelayMs;
    server.Script("/game/" + name, script);
  }
  FaultScript document;
  document.body = filelist::SerializeJsonText(list);
  server.Script("/filelist.json", document);
}

} // namespace testsupport
