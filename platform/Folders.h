#pragma once
// Well-known folders and facts about the running system.
#include <string>

namespace platform {

// The per-user state folder ($XDG_STATE_HOME, else ~/.local/state), created when missing so that
// one more level can be made inside it. False when no home folder is known.
bool GetStateFolder(std::u16string& out);

// The user's home folder ($HOME, else the password database; the profile folder on Windows).
bool GetHomeFolder(std::u16string& out);
// Where programs are installed: the Program Files folder on Windows, the home folder elsewhere.
bool GetProgramFilesFolder(std::u16string& out);

// The install folder proposed when none is remembered: ~/DOWNLOAD/VALDRIS, C:\DOWNLOAD\VALDRIS on Windows.
std::u16string DefaultInstallFolder();

// True when the user-interface language of the session is Korean (LC_ALL, LC_MESSAGES, LANG).
bool IsUserInterfaceKorean();

// True for a 32-bit build running on a 64-bit kernel.
bool Is32BitProcessOn64BitSystem();

} // namespace platform
