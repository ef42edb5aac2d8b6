// What a transfer shows its progress on. The downloads drive these, not controls, so that the same
// code moves the main window's per-file bar and image, the self-update window's bar, and the
// recording doubles of the tests.
#pragma once

#include <cstdint>

namespace orv {

// A progress bar: an integer maximum and position, and a style that is either normal (the position
// shows) or marquee (a running band for a transfer of unknown size).
// Named apart from the ProgressBar control (ui/controls_win.h): one class name in one namespace
// for two different classes would give both the same type information when linked together.
class ProgressBarView {
public:
    virtual ~ProgressBarView() = default;

    virtual void SetMax(int value) = 0;
    virtual int Max() const = 0;
    virtual void SetPosition(int value) = 0;
    virtual int Position() const = 0;
    virtual void SetMarquee(bool on) = 0;
    virtual bool IsMarquee() const = 0;
};

// A picture whose width in pixels shows the same progress as a bar.
class ProgressImage {
public:
    virtual ~ProgressImage() = default;

    virtual void SetWidth(int pixels) = 0;
    virtual int Width() const = 0;
};

// The per-file bar (in percent) and image (0..fullWidth) for `received` of `size` bytes; `size` is
// not 0. At or past the size both are full.
void ShowGameProgress(int64_t received, int64_t size, ProgressBarView& bar, ProgressImage& image, int32_t fullWidth);

}  // namespace orv
