#include "platform/Folders.h"

#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/Utf.h"

namespace platform {

namespace {

const char* NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

} // namespace

bool GetHomeFolder(std::u16string& out) {
  const char* home = NonEmptyEnv("HOME");
  if (home == nullptr) {
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] == '\0') return false;
    home = entry->pw_dir;
  }
  std::u16string folder = WidenUtf8(home);
  if (folder.empty()) return false;
  out = std::move(folder);
  return true;
}

bool GetProgramFilesFolder(std::u16string& out) { return GetHomeFolder(out); }

std::u16string DefaultInstallFolder() {
  std::u16string home;
  if (!GetHomeFolder(home)) home = u"/tmp";
  return home + u"/DOWNLOAD/VALDRIS";
}

bool GetStateFolder(std::u16string& out) {
  std::u16string folder;
  const char* state = NonEmptyEnv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') {
    folder = WidenUtf8(state);
  } else {
    if (!GetHomeFolder(folder)) return false;
    folder += u"/.local/state";
  }
  if (folder.empty() || CreateDirectoryTree(folder) != ERROR_SUCCESS) return false;
  out = std::move(folder);
  return true;
}

bool IsUserInterfaceKorean() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = NonEmptyEnv(name)) return std::strncmp(value, "ko", 2) == 0;
  }
  return false;
}

bool Is32BitProcessOn64BitSystem() {
  if (sizeof(void*) != 4) return false;
  utsname info{};
  if (uname(&info) != 0) return false;
  return std::strstr(info.machine, "64") != nullptr;
}

} // namespace platform
