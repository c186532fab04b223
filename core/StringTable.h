#pragma once
// The user-visible messages, held in English and Korean and keyed by id (101..140).
#include <string>
#include <string_view>

#include "core/Format.h"

namespace core {

enum class Language { English, Korean };

// The raw text of an entry in one language; empty when the id is not in the table.
std::u16string_view GetStringEntry(unsigned id, Language language);

// The language of the user interface: Korean on a Korean session, English otherwise.
Language UserInterfaceLanguage();

// The English text of an entry, used as a format and filled with the arguments (always, even
// without arguments, so "%%" reads as "%"). Never fails: a missing id gives the empty text.
template <typename... Args>
std::u16string LoadResString(unsigned id, const Args&... args) {
  return Format(GetStringEntry(id, Language::English), args...);
}

// An entry in the user-interface language: the About item (101), the About box and the buttons' names.
std::u16string LoadUiString(unsigned id);

// Message ids.
enum : unsigned {
  IDS_ABOUTBOX = 101,
  IDS_CLOSE_PROGRAM = 102,
  IDS_NEED_FREE_SPACE = 103,
  IDS_CANNOT_REACH_SERVER = 104,
  IDS_INVALID_FILE_LIST = 105,
  IDS_ALREADY_RUNNING = 106,
  IDS_NO_MEMORY_CLOSING = 107,
  IDS_INSUFFICIENT_SPACE = 108,
  IDS_STOP_DOWNLOAD = 109,
  IDS_FORCE_CLOSE = 110,
  IDS_INVALID_FOLDER = 111,
  IDS_SETUP_NOT_CONFIRMED = 112,
  IDS_SETUP_START_FAILED = 113,
  IDS_START_MENU_FAILED = 114,
  IDS_SHORTCUT_FAILED = 115,
  IDS_FOLDER_CREATE_FAILED = 116,
  IDS_NO_MEMORY_MESSAGE = 117,
  IDS_FILE_CREATE_FAILED = 118,
  IDS_NETWORK_UNSTABLE = 119,
  IDS_FILE_SIZE_FAILED = 120,
  IDS_CHECKSUM_FAILED = 121,
  IDS_NEW_VERSION = 122,
  IDS_PREVIOUS_FOLDER = 123,
  IDS_FOLDER_NOT_EMPTY = 124,
  IDS_ERROR_TRY_LATER = 125,
  IDS_FILE_MISMATCH = 126,
  IDS_LIST_NOT_SIGNED = 127,
  IDS_LIST_EXPIRED = 128,
  IDS_LIST_ROLLED_BACK = 129,
  // The About box, shown in the user-interface language.
  IDS_ABOUT_CAPTION = 130,
  IDS_ABOUT_TEXT = 131,
  IDS_ABOUT_OK = 132,
  // The buttons' names for screen readers (their faces are pictures), in the user-interface language.
  IDS_NAME_START = 133,
  IDS_NAME_PAUSE = 134,
  IDS_NAME_LAUNCH = 135,
  IDS_NAME_CANCEL = 136,
  IDS_NAME_CHANGE_FOLDER = 137,
  IDS_NAME_MINIMIZE = 138,
  IDS_NAME_CLOSE = 139,
  // The start-up's state while the list is fetched, in the user-interface language.
  IDS_CONNECTING = 140,
  IDS_LAST = IDS_CONNECTING,
};

} // namespace core
