#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "default_mode/pipeline.h"
#include "frame_io/exr_frame.h"

namespace filtering {

/// A frame of a shot as the window holds it: as read (a layer frame with an
/// empty header), and, when the frame's results are what its neighbours
/// take, as denoised on its own (otherwise an empty image).
struct WindowFrame {
    int number = 0;  // the frame's number in the shot
    ExrFrame loaded;
    DenoisedFrame denoised;
};

/// Reads (and, as above, denoises) one frame of a shot by its number:
/// nothing when the frame is not there or cannot be read.
using FrameLoader = std::function<std::shared_ptr<const WindowFrame>(int frame)>;

/// The frames t - radius ... t + radius of a shot held in memory while the
/// frames are denoised in order: each is read once on the way through, and
/// those that leave the window are let go, so at most 2 * radius + 1 frames
/// are held whatever the length of the range. Where one side runs out of
/// frames (the first and last frames of a shot), the window reaches as many
/// frames further on the other side: the ends of a shot are averaged over
/// as many frames as its middle.
class TemporalWindow {
  public:
    TemporalWindow(int radius, FrameLoader load) : radius_(radius), load_(std::move(load)) {}

    /// Centres the window on `frame` (or moves it off centre, as above),
    /// reading what is new and letting go of what fell out.
    void moveTo(int frame);

    /// The centre frame, or null when it could not be read.
    const WindowFrame* centre() const;

    /// The other frames of the window that could be read, nearest first
    /// (at equal distances the earlier one first).
    std::vector<const WindowFrame*> neighbours() const;

    /// How many frames are held in memory.
    size_t held() const;

  private:
    const std::shared_ptr<const WindowFrame>& read(int frame);
    // How many of the frames first ... last could not be read.
    int missing(int first, int last);

    int radius_;
    FrameLoader load_;
    int centre_ = 0;
    int first_ = 0, last_ = 0;  // the frames the window spans now
    // Null entries remember frames that are missing, so they are tried once.
    std::map<int, std::shared_ptr<const WindowFrame>> frames_;
};

}  // namespace filtering
