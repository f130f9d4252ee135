#include "temporal/temporal_window.h"

namespace filtering {

const std::shared_ptr<const WindowFrame>& TemporalWindow::read(int frame) {
    const auto found = frames_.find(frame);
    if (found != frames_.end()) return found->second;
    return frames_[frame] = load_(frame);
}

int TemporalWindow::missing(int first, int last) {
    int count = 0;
    for (int n = first; n <= last; ++n) count += read(n) ? 0 : 1;
    return count;
}

// Near a shot's end the missing frames after the centre grow by one a
// step, so the window's first frame never moves back: each frame is still
// read once.
void TemporalWindow::moveTo(int frame) {
    centre_ = frame;
    read(frame);
    const int before = missing(frame - radius_, frame - 1);
    const int after = missing(frame + 1, frame + radius_);
    first_ = frame - radius_;
    last_ = frame + radius_;
    for (int extra = 0; extra < after && read(first_ - 1); ++extra) --first_;
    for (int extra = 0; extra < before && read(last_ + 1); ++extra) ++last_;
    // Frames outside go; the missing ones near stay known as missing.
    for (auto it = frames_.begin(); it != frames_.end();) {
        const bool inside = it->first >= first_ && it->first <= last_;
        const bool near = it->first >= first_ - radius_ && it->first <= last_ + radius_;
        it = inside || (near && !it->second) ? std::next(it) : frames_.erase(it);
    }
}

size_t TemporalWindow::held() const {
    size_t count = 0;
    for (const auto& entry : frames_) count += entry.second ? 1 : 0;
    return count;
}

const WindowFrame* TemporalWindow::centre() const {
    const auto found = frames_.find(centre_);
    return found == frames_.end() ? nullptr : found->second.get();
}

std::vector<const WindowFrame*> TemporalWindow::neighbours() const {
    std::vector<const WindowFrame*> near;
    for (int step = 1; step <= 2 * radius_; ++step) {
        for (const int n : {centre_ - step, centre_ + step}) {
            if (n < first_ || n > last_) continue;
            const auto found = frames_.find(n);
            if (found != frames_.end() && found->second) near.push_back(found->second.get());
        }
    }
    return near;
}

}  // namespace filtering
