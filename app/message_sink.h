#pragma once
// How the desktop program's worker reports to the window that started it,
// without knowing that it is a window.
//
// The probe and the capture post four messages, with the numbers the desktop
// program's window has always used. These numbers live here only: the capture
// itself reports through `CaptureProgress` and returns its result as a value.
// `CMainDlg` implements `MessageSink` by turning each post into a queued Qt
// event for itself; tests record the posts. `post` is called from the worker
// thread, must not block on the receiver, and must keep the order of posts.

#include <cstdint>

namespace ui {

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_PROBE_DONE = WM_USER + 10;   // wParam: probe result (0 or -1)
constexpr uint32_t WM_CAPTURE_DONE = WM_USER + 11; // wParam: capture result
// No parameters: the frame count is CaptureJob::captureFrames(), which a
// 16-bit half of lParam could not always hold.
constexpr uint32_t WM_CAPTURE_BEGIN = WM_USER + 12;
constexpr uint32_t WM_CAPTURE_STEP = WM_USER + 13; // one moment done

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void post(uint32_t message, intptr_t wParam, intptr_t lParam) = 0;
};

// Posts when a sink is there; a job without a receiver just runs.
inline void postMessage(MessageSink* sink, uint32_t message, intptr_t wParam, intptr_t lParam) {
    if (sink)
        sink->post(message, wParam, lParam);
}

} // namespace ui
