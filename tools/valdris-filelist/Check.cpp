// valdris-filelist check: a list's own rules, then a folder, a server and a signature against it.
#include <algorithm>
#include <array>
#include <set>
#include <string>

#include "Commands.h"
#include "FileListTool.h"
#include "blocks/BlockIndex.h"
#include "core/Text.h"
#include "core/Version.h"
#include "download/ListTrust.h"
#include "download/LocalFiles.h"
#include "download/Md5.h"
#include "download/Servers.h"
#include "filelist/FileList.h"
#include "net/ByteRanges.h"
#include "net/HttpClient.h"
#include "net/Url.h"
#include "platform/Utf.h"

namespace filelisttool {

namespace {

void CheckInvariants(const filelist::CFileList& list, Reporter& report) {
  if (static_cast<std::size_t>(std::max(list.m_nTotalCount, 0)) != list.m_vecFileInfo.size() || list.m_nTotalCount < 0)
    report.Problem("list: TotalCount is " + std::to_string(list.m_nTotalCount) + " but the list has " +
                   std::to_string(list.m_vecFileInfo.size()) + " entries");
  std::uint64_t sum = 0;
  for (const auto& info : list.m_vecFileInfo) sum += info.Size;
  if (sum != list.m_nTotalSize)
    report.Problem("list: TotalSize is " + std::to_string(list.m_nTotalSize) + " but the entries add up to " +
                   std::to_string(sum));
  if (list.m_strURL.empty() || list.m_strURL.back() != '/') report.Problem("list: URL \"" + list.m_strURL + "\" does not end in \"/\"");
  std::vector<std::u16string> servers;
  if (std::u16string problem; !download::ListServers(list, servers, problem))
    report.Problem("list: Mirrors: " + Narrow(problem));
  else if (servers.size() != list.m_vecMirrors.size() + 1)
    report.Problem("list: Mirrors: a server is named more than once");
  if (platform::WidenUtf8(list.m_strVersion) != core::kProgramVersion)
    report.Problem("list: Version \"" + list.m_strVersion + "\" is not the downloader's " +
                   Narrow(std::u16string(core::kProgramVersion)));
  std::set<std::string> seen;
  for (const auto& info : list.m_vecFileInfo) {
    if (const std::string problem = NameProblem(info.Name); !problem.empty())
      report.Problem(info.Name + ": " + problem);
    if (!seen.insert(info.Name).second) report.Problem(info.Name + ": listed more than once");
    if (!IsUpperHexDigest(info.CheckSum))
      report.Problem(info.Name + ": CheckSum \"" + info.CheckSum + "\" is not 32 upper-case hexadecimal digits");
    if (!info.Blocks.Name.empty()) {
      if (const std::string problem = NameProblem(info.Blocks.Name); !problem.empty())
        report.Problem(info.Name + ": block index " + info.Blocks.Name + ": " + problem);
      if (!IsUpperHexDigest(info.Blocks.CheckSum))
        report.Problem(info.Name + ": block index CheckSum \"" + info.Blocks.CheckSum +
                       "\" is not 32 upper-case hexadecimal digits");
    }
  }
}

// The bytes of an entry's block index hold what the list says of them and index the file at path.
void CheckBlockIndex(const filelist::FileInfo& info, const std::string& bytes, const std::u16string& path,
                     const std::string& where, Reporter& report) {
  download::CMd5 md5;
  md5.Update(bytes.data(), bytes.size());
  const std::string digest = Narrow(md5.Finish());
  blocks::CBlockIndex index;
  if (bytes.size() != info.Blocks.Size || digest != info.Blocks.CheckSum) {
    report.Problem(info.Name + ": block index " + where + " has " + std::to_string(bytes.size()) + " bytes, digest " +
                   digest + "; the list says " + std::to_string(info.Blocks.Size) + ", " + info.Blocks.CheckSum);
  } else if (!index.Parse(bytes) || index.m_nFileSize != info.Size) {
    report.Problem(info.Name + ": block index " + where + " is not an index of " + std::to_string(info.Size) + " bytes");
  } else if (!path.empty()) {
    blocks::CBlockIndex actual;
    if (const auto code = blocks::ComputeBlockIndex(path, index.m_nBlockSize, actual, nullptr, &index.m_lengths); code != 0)
      report.Problem(info.Name + ": cannot be read (" + std::to_string(code) + ")");
    else if (actual.m_vecSums != index.m_vecSums)
      report.Problem(info.Name + ": block index " + where + " does not index the file (built from another version?)");
  }
}

void CheckFolder(const filelist::CFileList& list, const std::string& folder, Reporter& report) {
  for (const auto& info : list.m_vecFileInfo) {
    if (!NameProblem(info.Name).empty()) continue;  // never look outside the folder
    const std::u16string path = Widen(folder + "/" + info.Name);
    std::uint64_t size = 0;
    if (download::GetLocalFileSize(path, &size) != 0) {
      report.Problem(info.Name + ": missing from " + folder);
      continue;
    }
    if (size != info.Size) {
      report.Problem(info.Name + ": local size is " + std::to_string(size) + ", the list says " + std::to_string(info.Size));
      continue;
    }
    std::u16string checksum;
    if (const auto code = download::ComputeFileChecksum(path, nullptr, checksum); code != 0)
      report.Problem(info.Name + ": cannot be read (" + std::to_string(code) + ")");
    else if (Narrow(checksum) != info.CheckSum)
      report.Problem(info.Name + ": local digest is " + Narrow(checksum) + ", the list says " + info.CheckSum);
    if (info.Blocks.Name.empty() || !NameProblem(info.Blocks.Name).empty()) continue;
    std::string bytes;
    if (!ReadSource(folder + "/" + info.Blocks.Name, bytes))
      report.Problem(info.Name + ": block index " + info.Blocks.Name + " is missing from " + folder);
    else
      CheckBlockIndex(info, bytes, path, "in " + folder, report);
  }
}

void CheckServer(const filelist::CFileList& list, const std::u16string& base, bool full, Reporter& report) {
  net::CHttpClient client;
  for (const auto& info : list.m_vecFileInfo) {
    if (!NameProblem(info.Name).empty()) continue;
    const std::u16string url = base + net::EncodeUrlPath(Widen(info.Name));
    std::uint64_t length = 0;
    if (!client.OpenUrl(url, u"", length, net::kDownloaderUserAgent)) {
      report.Problem(info.Name + ": the server answers (" + std::to_string(client.FailureCode()) + ")");
      continue;
    }
    std::int32_t status = client.StatusCode();
    if (status != 200) report.Problem(info.Name + ": the server answers " + std::to_string(status) + " instead of 200");
    if (length != info.Size) {
      report.Problem(info.Name + ": the server's Content-Length is " + std::to_string(length) + ", the list says " +
                     std::to_string(info.Size));
      continue;
    }
    if (full) {
      download::CMd5 md5;
      bool failed = false;
      std::array<char, net::HTTP_BUFFER_SIZE> buffer{};
      for (;;) {
        std::uint32_t n = 0;
        if (!client.ReadBody(buffer.data(), buffer.size(), n)) {
          report.Problem(info.Name + ": the download failed (" + std::to_string(client.LastError()) + ")");
          failed = true;
          break;
        }
        if (n == 0) break;
        md5.Update(buffer.data(), n);
      }
      const std::string digest = Narrow(md5.Finish());
      if (!failed && digest != info.CheckSum)
        report.Problem(info.Name + ": the server's file has digest " + digest + ", the list says " + info.CheckSum);
    }
    if (!info.Blocks.Name.empty()) {
      std::string bytes;
      // Read even when longer than listed, so the check can say what it holds.
      if (!client.ReadToMemory(base + net::EncodeUrlPath(Widen(info.Blocks.Name)), bytes,
                               std::max(info.Blocks.Size, net::kMaxDocumentSize)))
        report.Problem(info.Name + ": block index " + info.Blocks.Name + ": the server answers (" +
                       std::to_string(client.FailureCode()) + ")");
      else
        CheckBlockIndex(info, bytes, u"", "on the server", report);
      // Patches ask for several ranges at once; a server that cannot answer them has every changed
      // file fetched whole.
      if (info.Size >= 4) {
        const std::vector<core::ByteRange> two = {{0, 1}, {info.Size - 1, info.Size}};
        net::CRangeReader reader(client);
        core::ByteRange part;
        std::uint64_t parts = 0;
        if (client.OpenUrl(url, net::FormatRangesHeader(two), length, net::kDownloaderUserAgent) &&
            reader.Begin(info.Size)) {
          char byte[net::HTTP_BUFFER_SIZE];
          while (reader.NextPart(part)) {
            std::uint32_t n = 0;
            while (reader.Read(byte, sizeof byte, n) && n > 0) {
            }
            ++parts;
          }
        }
        if (parts == 0 || reader.LastError() != 0)
          report.Problem(info.Name + ": a request for two ranges is not answered with them (" +
                         std::to_string(client.StatusCode()) + "): players fetch the changed file whole");
      }
    }
    if (info.Size >= 2) {
      const std::uint64_t from = info.Size / 2;
      if (!client.OpenUrl(url, net::FormatRangeHeader(from), length, net::kDownloaderUserAgent)) {
        report.Problem(info.Name + ": a Range request is answered (" + std::to_string(client.FailureCode()) + ")");
        continue;
      }
      status = client.StatusCode();
      if (status != 206 || length != info.Size - from)
        report.Problem(info.Name + ": a Range request from " + std::to_string(from) + " is answered " +
                       std::to_string(status) + " with " + std::to_string(length) + " bytes, not 206 with " +
                       std::to_string(info.Size - from));
    }
  }
}

// The signature next to the list (LIST.sig) made by the key, and the list's signing time and expiry;
// when all hold, which key signed and until when.
void CheckSignature(const std::string& source, const std::string& document, const filelist::CFileList& list,
                    const std::string& keyFile, const std::string& publicKey, Reporter& report, std::ostream& out) {
  const int before = report.Count();
  std::string signature;
  if (!ReadSource(source + ".sig", signature)) {
    report.Problem("signature: " + source + ".sig cannot be read");
  } else if (!download::IsSignedByAny(document, signature, {publicKey})) {
    report.Problem("signature: " + source + ".sig is not a signature of this list by this key");
  }
  std::int64_t signedAt = 0;
  if (list.m_strSigned.empty())
    report.Problem("Signed: a signed list must say when it was signed (sign the list again)");
  else if (!download::ParseUtcTime(list.m_strSigned, signedAt))
    report.Problem("Signed: \"" + list.m_strSigned + "\" is not a UTC date-time such as 2027-01-31T12:00:00Z");
  std::int64_t expires = 0;
  if (list.m_strExpires.empty()) {
    report.Problem("Expires: a signed list must say when it expires (sign the list again)");
    return;
  }
  if (!download::ParseUtcTime(list.m_strExpires, expires)) {
    report.Problem("Expires: \"" + list.m_strExpires + "\" is not a UTC date-time such as 2027-01-31T12:00:00Z");
    return;
  }
  const long long now = NowUtc();
  if (now > expires) {
    report.Problem("Expires: the list expired at " + list.m_strExpires);
    return;
  }
  const long long daysLeft = (expires - now) / 86400;
  if (daysLeft < kExpiryWarningDays)
    out << "warning: the list expires in " << daysLeft << " day(s), at " << list.m_strExpires
        << ": sign it again before then\n";
  if (report.Count() == before)
    out << "signed by the key in " << keyFile << " at " << list.m_strSigned << "; expires at " << list.m_strExpires
        << "\n";
}

} // namespace

int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string source, folder, keyFile;
  bool server = false, full = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--folder" && i + 1 < args.size()) folder = args[++i];
    else if (args[i] == "--key" && i + 1 < args.size()) keyFile = args[++i];
    else if (args[i] == "--server") server = true;
    else if (args[i] == "--full") server = full = true;
    else if (source.empty() && args[i].rfind("-", 0) != 0) source = args[i];
    else {
      err << "valdris-filelist check: unexpected argument '" << args[i] << "'\n";
      return kUsage;
    }
  }
  if (source.empty()) {
    err << "valdris-filelist check: LIST is needed\n";
    return kUsage;
  }
  std::string document;
  if (!ReadSource(source, document)) {
    err << "valdris-filelist check: cannot read " << source << "\n";
    return kUsage;
  }
  std::string publicKey;
  if (!keyFile.empty() && !ReadSource(keyFile, publicKey)) {
    err << "valdris-filelist check: cannot read " << keyFile << "\n";
    return kUsage;
  }
  filelist::CFileList list;
  if (!filelist::DeserializeJsonText(&list, document)) {
    err << "valdris-filelist check: " << source << " is not a valid file list\n";
    return kUsage;
  }
  Reporter report(out);
  if (!keyFile.empty()) CheckSignature(source, document, list, keyFile, publicKey, report, out);
  CheckInvariants(list, report);
  if (!folder.empty()) CheckFolder(list, folder, report);
  if (server) {
    // Every server must serve every file: the list's own first, then each mirror, named in its problems.
    std::vector<std::u16string> servers;
    std::u16string problem;
    if (!download::ListServers(list, servers, problem)) servers = {Widen(list.m_strURL)};
    for (std::size_t i = 0; i < servers.size(); ++i) {
      report.SetPrefix(i == 0 ? std::string() : "mirror " + Narrow(servers[i]) + ": ");
      CheckServer(list, servers[i], full, report);
    }
    report.SetPrefix({});
  }
  out << list.m_vecFileInfo.size() << " entries, " << Narrow(core::FormatByteSize(list.m_nTotalSize)) << ": "
      << (report.Count() == 0 ? std::string("no problems") : std::to_string(report.Count()) + " problem(s)") << "\n";
  return report.Count() == 0 ? kOk : kProblems;
}

} // namespace filelisttool
