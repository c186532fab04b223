#pragma once
// Facts of the main window that more than one place needs: the caption texts and colours, and which
// buttons a run state enables.
#include "window/Colour.h"
#include "window/ControlIds.h"

namespace window {

struct Caption {
  int id;
  const char16_t* text;
  ColourRef colour;
};

inline constexpr ColourRef kCaptionYellow = Rgb(255, 255, 0);
inline constexpr ColourRef kCaptionWhite = Rgb(255, 255, 255);
inline constexpr ColourRef kLinkRed = Rgb(255, 0, 0);

// The fixed texts of the window, set at start-up.
inline constexpr Caption kCaptions[] = {
    {IDC_CAPTION_STATUS, u"Transfer Status", kCaptionYellow},
    {IDC_CAPTION_FILE_NAME, u"File Name :", kCaptionWhite},
    {IDC_CAPTION_FILE_SIZE, u"File Size :", kCaptionWhite},
    {IDC_CAPTION_ELAPSED, u"Time Elapsed :", kCaptionWhite},
    {IDC_CAPTION_SPEED, u"Download Speed :", kCaptionWhite},
    {IDC_CAPTION_TIME_LEFT, u"Time Left :", kCaptionWhite},
    {IDC_CAPTION_DOWNLOADED, u"Downloaded", kCaptionWhite},
    {IDC_CAPTION_TOTAL, u"Total", kCaptionWhite},
    {IDC_CAPTION_FOLDER, u"Download Folder", kCaptionYellow},
    {IDC_CAPTION_REQUIRED, u"Required Storage", kCaptionWhite},
    {IDC_CAPTION_AVAILABLE, u"Available Storage", kCaptionWhite},
    {IDC_STATIC_FORUM, u"Official Forum", kLinkRed},
    {IDC_STATIC_REGISTER, u"Register", kLinkRed},
};

// The progress bars' colours, as both windows set them up: the background (set twice, the first
// value replaced at once by the second), the fill, and the text on both.
struct BarColours {
  int id;
  ColourRef back1, back2, bar;
};

inline constexpr BarColours kBarColours[] = {
    {IDC_PROGRESS_FILE, Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(98, 98, 98)},
    {IDC_PROGRESS_TOTAL, Rgb(255, 255, 255), Rgb(0, 0, 0), Rgb(255, 175, 16)},
};
inline constexpr ColourRef kBarTextColour = Rgb(255, 255, 255);

// The states of a download run, as the buttons show them.
enum class RunState { Ready, Downloading, Stopped, Failed, Complete };

struct ButtonStates {
  RunState state;
  bool start, stop, changePath, run;
};

inline constexpr ButtonStates kButtonStates[] = {
    {RunState::Ready, true, false, true, false},
    {RunState::Downloading, false, true, false, false},
    {RunState::Stopped, true, false, true, false},
    {RunState::Failed, true, false, true, false},
    {RunState::Complete, false, false, false, true},
};

constexpr const ButtonStates& ButtonsOf(RunState state) {
  for (const ButtonStates& row : kButtonStates)
    if (row.state == state) return row;
  return kButtonStates[0];
}

} // namespace window
