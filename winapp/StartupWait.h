#pragma once
// A small window that says what the start-up is doing while its work runs on a thread, with a
// Cancel button. It shows only when the work takes longer than a moment, so a quick start-up
// shows nothing before the main window.
#include <cstdint>
#include <functional>
#include <string_view>

namespace winapp {

constexpr std::uint32_t kStartupWaitShowAfterMs = 300;

// Runs `work` on a thread while the thread's messages go on; Cancel (or closing the window) calls
// `cancel` once and waits for the work to end. False when the player cancelled.
bool RunWithStartupWait(std::u16string_view status, const std::function<void()>& work,
                        const std::function<void()>& cancel);

} // namespace winapp
