#include "temporal/temporal_window.h"

#include <cstdlib>

namespace filtering {

void TemporalWindow::moveTo(int frame) {
    centre_ = frame;
    for (auto it = frames_.begin(); it != frames_.end();) {
        it = std::abs(it->first - frame) > radius_ ? frames_.erase(it) : std::next(it);
    }
    for (int n = frame - radius_; n <= frame + radius_; ++n) {
        if (!frames_.contains(n)) frames_[n] = load_(n);
    }
}

const WindowFrame* TemporalWindow::centre() const {
    const auto found = frames_.find(centre_);
    return found == frames_.end() ? nullptr : found->second.get();
}

std::vector<const WindowFrame*> TemporalWindow::neighbours() const {
    std::vector<const WindowFrame*> near;
    for (int step = 1; step <= radius_; ++step) {
        for (const int n : {centre_ - step, centre_ + step}) {
            const auto found = frames_.find(n);
            if (found != frames_.end() && found->second) near.push_back(found->second.get());
        }
    }
    return near;
}

}  // namespace filtering
