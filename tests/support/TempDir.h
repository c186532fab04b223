#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

#include "platform/Utf.h"

namespace testsupport {

class TempDir {
 public:
  TempDir() {
    // A name nobody else has: created only when it does not exist yet.
    std::random_device random;
    for (;;) {
      char name[32];
      std::snprintf(name, sizeof name, "valdris-test-%08x%08x", random(), random());
      m_path = std::filesystem::temp_directory_path() / name;
      std::error_code ec;
      if (std::filesystem::create_directory(m_path, ec)) break;
      if (ec) std::abort();
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
  std::u16string wide() const { return platform::WidenUtf8(m_path.string()); }
  std::u16string wide(const std::string& name) const { return platform::WidenUtf8((m_path / name).string()); }

 private:
  std::filesystem::path m_path;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace testsupport
