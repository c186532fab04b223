#pragma once
// Facts of the main window that more than one place needs: the caption texts and colours, and which
// buttons a run state enables.
#include "controller/Colour.h"
#include "controller/ControlIds.h"

namespace controller {

struct Caption {
  int id;
  const char16_t* text;
  COLORREF colour;
};

inline constexpr COLORREF kCaptionYellow = RGB(255, 255, 0);
inline constexpr COLORREF kCaptionWhite = RGB(255, 255, 255);
inline constexpr COLORREF kLinkRed = RGB(255, 0, 0);

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

} // namespace controller
