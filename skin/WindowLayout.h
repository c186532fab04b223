#pragma once
// The main window's layout as both windows build it: 639 x 380 pixels, each control at its place,
// and the images each button shows.
#include "skin/ImageScales.h"
#include "window/ControlIds.h"

namespace skin {

using namespace window;

constexpr int kWindowWidth = 639;
constexpr int kWindowHeight = 380;
constexpr unsigned kBackgroundImage = 131;

// The window's face: the first of these the system has. Every Windows 10/11 has the first three;
// the last two stand in for them on Linux desktops.
inline constexpr const char16_t* kFontFaces[] = {u"Segoe UI", u"Tahoma", u"Arial", u"Liberation Sans",
                                                 u"DejaVu Sans"};
constexpr int kFontPixelSize = 12;
// A label whose texts do not fit its width at kFontPixelSize gets the largest smaller size at which
// they do, down to this one: every text stays whole in the design's rectangles whatever the face.
constexpr int kSmallestFontPixelSize = 8;

// The widest text each value label shows (its template text counts too).
struct WidestText {
  int id;
  const char16_t* text;
};
inline constexpr WidestText kWidestTexts[] = {
    {IDC_STATIC_SPEED, u"1023.99 MB/sec"},  {IDC_STATIC_SPEED, u"1023 Bytes/sec"},
    {IDC_STATIC_FILE_SIZE, u"1023.99 MB"},  {IDC_STATIC_FILE_SIZE, u"1023 Bytes"},
    {IDC_STATIC_ELAPSED, u"99:59:59"},      {IDC_STATIC_TIME_LEFT, u"99:59:59"},
    {IDC_STATIC_FILE_SIZE2, u"1023.99 MB"}, {IDC_STATIC_FILE_SIZE2, u"1023 Bytes"},
    {IDC_STATIC_FILE_DONE, u"1023.99 MB"},  {IDC_STATIC_FILE_DONE, u"1023 Bytes"},
    {IDC_STATIC_TOTAL_DONE, u"1023.99 MB"}, {IDC_STATIC_TOTAL_DONE, u"1023 Bytes"},
    {IDC_STATIC_TOTAL_SIZE, u"1023.99 MB"}, {IDC_STATIC_TOTAL_SIZE, u"1023 Bytes"},
    {IDC_STATIC_REQUIRED, u"1023.99 MB"},   {IDC_STATIC_REQUIRED, u"1023 Bytes"},
    {IDC_STATIC_AVAILABLE, u"1023.99 GB"},  {IDC_STATIC_AVAILABLE, u"1023 Bytes"},
};

// The largest pixel size from `largest` down to `smallest` at which widthAt(size) fits `room`;
// `smallest` when none does.
template <class WidthAt>
int FittingPixelSize(int largest, int smallest, int room, WidthAt widthAt) {
  for (int size = largest; size > smallest; --size)
    if (widthAt(size) <= room) return size;
  return smallest;
}

struct ButtonRow {
  int id, x, y;
  unsigned normal, selected, focus, disabled, hover;
  unsigned name;  // the string a screen reader says, in the user-interface language
};
// The buttons' places, images (normal, selected, focus, disabled, hover; 0 for none) and names, in
// reading order (top to bottom, left to right): the order in which Tab moves between them.
constexpr ButtonRow kButtons[] = {
    {IDC_BUTTON_MINIMIZE, 588, 9, 134, 0, 135, 0, 135, 138},
    {IDC_BUTTON_CLOSE, 613, 9, 132, 0, 133, 0, 133, 139},
    {IDC_BUTTON_CHANGE_PATH, 548, 257, 140, 0, 0, 141, 142, 137},
    {IDC_BUTTON_START, 285, 320, 147, 150, 149, 148, 150, 133},
    {IDC_BUTTON_STOP, 369, 320, 151, 154, 153, 152, 154, 134},
    {IDC_BUTTON_RUN, 453, 320, 143, 146, 145, 144, 146, 135},
    {IDC_BUTTON_CANCEL, 537, 320, 136, 139, 138, 137, 139, 136},
};

enum class Kind { Button, Label, Link, PathLabel, Bar, Background };
struct ControlRow {
  int id;
  Kind kind;
  int x, y, w, h;
  const char* text;
};
// Every control at its pixel rectangle with its template text, in template order (the creation
// order). Buttons take the size of their normal image.
constexpr ControlRow kControls[] = {
    {IDC_BUTTON_CHANGE_PATH, Kind::Button, 548, 257, 67, 23, ""},
    {IDC_BUTTON_START, Kind::Button, 285, 320, 77, 27, ""},
    {IDC_BUTTON_STOP, Kind::Button, 369, 320, 77, 27, ""},
    {IDC_BUTTON_RUN, Kind::Button, 453, 320, 77, 27, ""},
    {IDC_BUTTON_CANCEL, Kind::Button, 537, 320, 77, 27, ""},
    {IDC_STATIC_FILE_NAME, Kind::Label, 357, 56, 193, 14, "file name"},
    {IDC_STATIC_SPEED, Kind::Label, 546, 79, 88, 14, "0 Bytes/sec"},
    {IDC_STATIC_FILE_SIZE, Kind::Label, 343, 79, 89, 14, "0 Bytes"},
    {IDC_STATIC_ELAPSED, Kind::Label, 373, 100, 66, 14, "00:00:00"},
    {IDC_STATIC_TIME_LEFT, Kind::Label, 509, 100, 62, 14, "00:00:00"},
    {IDC_STATIC_FILE_SIZE2, Kind::Label, 527, 149, 75, 14, "0 Bytes"},
    {IDC_STATIC_TOTAL_DONE, Kind::Label, 408, 191, 73, 14, "0 Bytes"},
    {IDC_STATIC_SLASH_TOTAL, Kind::Label, 487, 191, 14, 14, "/"},
    {IDC_STATIC_TOTAL_SIZE, Kind::Label, 527, 191, 75, 14, "0 Bytes"},
    {IDC_PROGRESS_FILE, Kind::Bar, 368, 128, 248, 16, ""},
    {IDC_PROGRESS_TOTAL, Kind::Bar, 369, 170, 249, 16, ""},
    {IDC_STATIC_BACKGROUND, Kind::Background, 12, 302, 23, 21, ""},
    {IDC_STATIC_SLASH_FILE, Kind::Label, 490, 149, 14, 14, "/"},
    {IDC_STATIC_FILE_DONE, Kind::Label, 408, 149, 75, 14, "0 Bytes"},
    {IDC_STATIC_REQUIRED, Kind::Label, 390, 289, 58, 17, "0 Bytes"},
    {IDC_STATIC_AVAILABLE, Kind::Label, 550, 289, 75, 17, "0 Bytes"},
    {IDC_STATIC_FOLDER, Kind::PathLabel, 291, 261, 232, 14, "path"},
    {IDC_BUTTON_MINIMIZE, Kind::Button, 588, 9, 14, 14, ""},
    {IDC_BUTTON_CLOSE, Kind::Button, 613, 9, 14, 14, ""},
    {IDC_STATIC_FORUM, Kind::Link, 12, 348, 83, 14, "Official Forum"},
    {IDC_STATIC_REGISTER, Kind::Link, 102, 348, 75, 14, "Register"},
    {IDC_CAPTION_REQUIRED, Kind::Label, 280, 289, 109, 14, "Required Storage : "},
    {IDC_CAPTION_AVAILABLE, Kind::Label, 441, 289, 107, 14, "Available Storage : "},
    {IDC_CAPTION_FOLDER, Kind::Label, 280, 229, 217, 14, "Download Folder"},
    {IDC_CAPTION_DOWNLOADED, Kind::Label, 280, 128, 70, 14, "Downloaded"},
    {IDC_CAPTION_TOTAL, Kind::Label, 280, 172, 30, 14, "Total"},
    {IDC_CAPTION_ELAPSED, Kind::Label, 278, 100, 86, 14, "Time Elapsed : "},
    {IDC_CAPTION_FILE_SIZE, Kind::Label, 280, 79, 56, 14, "File Size : "},
    {IDC_CAPTION_FILE_NAME, Kind::Label, 280, 54, 67, 14, "File Name : "},
    {IDC_CAPTION_SPEED, Kind::Label, 438, 79, 106, 14, "Download Speed : "},
    {IDC_CAPTION_TIME_LEFT, Kind::Label, 438, 100, 66, 14, "Time Left : "},
    {IDC_CAPTION_STATUS, Kind::Label, 278, 26, 179, 14, "Tranfer Status"},
};

} // namespace skin
