#include "FileListTool.h"

#include <algorithm>

#include "Commands.h"
#include "core/Version.h"
#include "download/DownloadThread.h"
#include "platform/Utf.h"

namespace filelisttool {

namespace {

constexpr const char* kHelp =
    "NAME\n"
    "    valdris-filelist - make and check the VALDRIS file list\n"
    "\n"
    "SYNOPSIS\n"
    "    valdris-filelist build DIR --url BASE [--mirror BASE]... [--version V]\n"
    "                           [--blocks [--block-size N]] [-o FILE [--sign KEY [--expires DAYS]]]\n"
    "    valdris-filelist check LIST [--key PUB] [--folder DIR] [--server] [--full]\n"
    "    valdris-filelist keygen -o KEY\n"
    "    valdris-filelist sign LIST --key KEY [--expires DAYS]\n"
    "\n"
    "DESCRIPTION\n"
    "    build  Walks DIR (sub-folders included, in sorted order) and writes the file list: Version,\n"
    "           URL, TotalCount, TotalSize and, for every file, its Name (with forward slashes), Size\n"
    "           and upper-case MD5 CheckSum. BASE is the address the files are served from; a missing\n"
    "           final \"/\" is added. Symbolic links are refused, and so are names that could reach\n"
    "           outside the install folder or that would need escaping in a URL (allowed: letters,\n"
    "           digits, \".\", \"_\", \"-\", \"~\" and \"/\" between folders). The list goes to FILE, or\n"
    "           to standard output. With --sign, the list carries \"Signed\" (now) and \"Expires\" (DAYS\n"
    "           days from now, 90 by default; UTC), and FILE.sig is written too (see sign). With\n"
    "           --blocks, a block index of every file of 64 KiB or more is written to\n"
    "           DIR/.blocks/NAME.blocks and named in its entry (\"Blocks\": its Name, Size and\n"
    "           CheckSum, so a signature covers it too): a player whose file is an older version then\n"
    "           fetches only the changed blocks. Publish .blocks with the files; it is never listed as\n"
    "           a file itself. Each --mirror names another server with the same layout as BASE\n"
    "           (\"Mirrors\"; http or https, each once, 8 servers at most with BASE): players spread\n"
    "           their connections over all of them and go on from another one when one fails.\n"
    "\n"
    "    check  Checks that LIST (a file, or an http(s) address) keeps its own rules: TotalCount and\n"
    "           TotalSize match the entries, every CheckSum is 32 upper-case hexadecimal digits, every\n"
    "           name is publishable and unique, URL ends in \"/\". Then, with --folder, that DIR holds\n"
    "           every entry with its size and digest; with --server, that the server at URL answers\n"
    "           every entry with 200 and the right Content-Length and honours a Range request with\n"
    "           206, and so does every mirror (its problems start with its address); --full also downloads and hashes every file. Block indexes are checked too: in DIR\n"
    "           against the files, on the server against the list, with a request for two ranges.\n"
    "           With --key, that LIST.sig (next to\n"
    "           the file, or at the address with \".sig\" appended) is a signature of LIST by PUB, that\n"
    "           the list says when it was signed and is not past its \"Expires\" (a warning when fewer\n"
    "           than 14 days remain); it then says which key signed and when the list expires. One\n"
    "           line per problem, then a summary.\n"
    "\n"
    "    keygen Makes a publisher key pair: KEY, the private key (PKCS#8 PEM, readable by its owner\n"
    "           only), and KEY.pub, the public key (base64 of the uncompressed P-256 point) that the\n"
    "           downloader is built with (VALDRIS_TRUSTED_KEYS). An existing KEY or KEY.pub is never\n"
    "           replaced: downloaders built with the old key would refuse every list signed by a new one.\n"
    "\n"
    "    sign   Sets \"Signed\" in LIST to now and, when LIST has no \"Expires\" or --expires is given,\n"
    "           \"Expires\" to DAYS days from now (90 by default); rewrites LIST, then writes LIST.sig:\n"
    "           the ECDSA P-256 signature of LIST's exact bytes (SHA-256), as base64 of r||s on one\n"
    "           line. Publish both. Only P-256 keys are taken. A downloader refuses a signed list\n"
    "           that is expired, that has no \"Expires\", or that was signed before one it already took.\n"
    "\n"
    "OPTIONS\n"
    "    --version V   version text of the list (default: this program's version)\n"
    "    --mirror BASE another server of the same files (repeatable)\n"
    "    -o FILE       write the list to FILE (replaced whole, never half-written)\n"
    "    --blocks      write a block index of every file (for patches)\n"
    "    --block-size N  bytes per block of the indexes (256 to 1048576; default 4096)\n"
    "    --sign KEY    sign the list with the private key KEY\n"
    "    --expires N   the list expires N days from now (with --sign, or for sign; default 90)\n"
    "    --key PUB     the public key file the signature is checked with\n"
    "    --help        show this text\n"
    "    --version     (alone) show the program's version\n"
    "\n"
    "EXIT STATUS\n"
    "    0  the list was built, or everything checked holds\n"
    "    1  a file was refused, or a check found problems\n"
    "    2  wrong usage, or the list cannot be read\n";

bool IsUrlSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-' || c == '~' || c == '/';
}

} // namespace

std::string NameProblem(const std::string& name) {
  if (!download::IsSafeEntryName(platform::WidenUtf8(name)))
    return "the name could reach outside the install folder (empty, absolute, \".\", \"..\" or an empty part)";
  for (char c : name)
    if (!IsUrlSafe(c)) return std::string("the name holds \"") + c + "\", which would need escaping in a URL";
  return {};
}

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" ||
      std::find(args.begin(), args.end(), "--help") != args.end()) {
    (args.empty() ? err : out) << kHelp;
    return args.empty() ? kUsage : kOk;
  }
  if (args[0] == "--version" && args.size() == 1) {
    out << "valdris-filelist " << core::kProgramVersionText << "\n";
    return kOk;
  }
  if (args[0] == "build") return Build(args, out, err, terminal);
  if (args[0] == "check") return Check(args, out, err);
  if (args[0] == "keygen") return Keygen(args, out, err);
  if (args[0] == "sign") return Sign(args, out, err);
  err << "valdris-filelist: unknown command '" << args[0] << "'\n" << kHelp;
  return kUsage;
}

} // namespace filelisttool
