#pragma once
// What the tool's commands share: text conversion, the problem count of a check, the expiry rules
// of signed lists and reading a list from a file or an address.
#include <ostream>
#include <string>
#include <vector>

namespace filelisttool {

std::string Narrow(const std::u16string& s);
std::u16string Widen(const std::string& s);

// 32 upper-case hexadecimal digits, as the list writes a digest.
bool IsUpperHexDigest(const std::string& text);

// Counts the problems a check reports, one line each.
class Reporter {
 public:
  explicit Reporter(std::ostream& out) : m_out(out) {}
  void Problem(const std::string& text) {
    m_out << m_strPrefix << text << "\n";
    ++m_problems;
  }
  int Count() const { return m_problems; }
  // Said before every problem from now on (which server a problem is about).
  void SetPrefix(std::string prefix) { m_strPrefix = std::move(prefix); }

 private:
  std::ostream& m_out;
  int m_problems = 0;
  std::string m_strPrefix;
};

// How long a signed list stays valid unless the publisher says otherwise, and how early check warns.
constexpr long long kDefaultExpiryDays = 90;
constexpr long long kExpiryWarningDays = 14;

// "--expires DAYS": a whole number of days, 1 to 100 years.
bool ParseDays(const std::string& text, long long& days);
// Seconds since 1970-01-01 UTC.
long long NowUtc();

// A file, or an http(s) address, read whole.
bool ReadSource(const std::string& source, std::string& bytes);

// The commands: args[0] is the command's name; the exit code of the tool.
int Build(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal);
int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int Keygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int Sign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace filelisttool
