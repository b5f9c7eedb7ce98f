#include "progress.h"

#include <stdio.h>

#include <algorithm>

#include "system.h"

namespace quarvel {

Progress::Progress(std::string label, uint64_t total, bool wanted)
    : label_(std::move(label)), total_(total),
      drawing_(wanted && total >= progressThreshold && StderrIsTerminal())
{
}

Progress::~Progress()
{
    // A run cut short by an error leaves the bar where it stopped, on a line of its own.
    if (drawing_ && shownPermille_ >= 0)
        fputc('\n', stderr);
}

void Progress::Advance(uint64_t bytes)
{
    done_ = std::min(total_, done_ + bytes);
    Draw(false);
}

void Progress::Finish()
{
    done_ = total_;
    Draw(true);
    if (drawing_ && shownPermille_ >= 0)
        fputc('\n', stderr);
    drawing_ = false;
}

void Progress::Draw(bool force)
{
    if (!drawing_ || total_ == 0)
        return;
    int permille = (int)(done_ * 1000 / total_);
    double now = MonotonicSeconds();
    if (!force && (permille == shownPermille_ || now - lastDraw_ < 0.1))
        return;
    shownPermille_ = permille;
    lastDraw_ = now;
    constexpr int width = 30;
    int filled = permille * width / 1000;
    fprintf(stderr, "\r%s [%.*s%*s] %3d%%  %.1f of %.1f MB", label_.c_str(), filled,
            "##############################", width - filled, "", permille / 10,
            (double)done_ / 1e6, (double)total_ / 1e6);
    fflush(stderr);
}

}  // namespace quarvel
