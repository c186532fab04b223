// valdris-filelist keygen and sign: the publisher's key pair, and a list signed with it.
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "Commands.h"
#include "FileListTool.h"
#include "Signing.h"
#include "filelist/FileList.h"
#include "platform/Files.h"

namespace filelisttool {

namespace fs = std::filesystem;

int Keygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 3 || args[1] != "-o") {
    err << "valdris-filelist keygen: -o KEY is needed\n";
    return kUsage;
  }
  for (const std::string& path : {args[2], args[2] + ".pub"}) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
      err << "valdris-filelist keygen: " << path
          << " exists and is kept: downloaders built with that key would refuse every list signed by a new one\n";
      return kProblems;
    }
  }
  std::string error;
  if (!GenerateKeyPair(args[2], error)) {
    err << "valdris-filelist keygen: " << error << "\n";
    return kProblems;
  }
  out << "private key: " << args[2] << " (keep it secret)\npublic key:  " << args[2] << ".pub\n";
  return kOk;
}

int Sign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string listFile, keyFile;
  long long expiresDays = -1;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--key" && i + 1 < args.size()) keyFile = args[++i];
    else if (args[i] == "--expires" && i + 1 < args.size()) {
      if (!ParseDays(args[++i], expiresDays)) {
        err << "valdris-filelist sign: --expires takes a number of days\n";
        return kUsage;
      }
    } else if (listFile.empty() && args[i].rfind("-", 0) != 0) listFile = args[i];
    else {
      err << "valdris-filelist sign: unexpected argument '" << args[i] << "'\n";
      return kUsage;
    }
  }
  if (listFile.empty() || keyFile.empty()) {
    err << "valdris-filelist sign: LIST --key KEY is needed\n";
    return kUsage;
  }
  std::string document, signature, error;
  filelist::CFileList list;
  if (!ReadSource(listFile, document) || !filelist::DeserializeJsonText(&list, document)) {
    err << "valdris-filelist sign: cannot read a file list from " << listFile << "\n";
    return kUsage;
  }
  const long long now = NowUtc();
  list.m_strSigned = FormatUtcTime(now);
  if (list.m_strExpires.empty() || expiresDays > 0)
    list.m_strExpires = FormatUtcTime(now + (expiresDays > 0 ? expiresDays : kDefaultExpiryDays) * 86400);
  document = filelist::SerializeJsonText(list);
  // Signed before anything is written, so a key that does not work leaves the list as it was.
  if (!SignDocument(keyFile, document, signature, error)) {
    err << "valdris-filelist sign: " << error << "\n";
    return kProblems;
  }
  for (const auto& [path, bytes] : {std::pair{listFile, &document}, std::pair{listFile + ".sig", &signature}}) {
    if (const auto code = platform::WriteFileAtomically(Widen(path), *bytes); code != 0) {
      err << "valdris-filelist sign: cannot write " << path << " (" << code << ")\n";
      return kProblems;
    }
  }
  out << listFile << " (expires at " << list.m_strExpires << ")\n" << listFile << ".sig\n";
  return kOk;
}

} // namespace filelisttool
