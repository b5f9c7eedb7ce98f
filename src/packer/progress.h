// A progress bar on stderr for long packing and extraction runs. It draws only when asked to
// and when stderr is a terminal, and only for work of at least progressThreshold bytes.
#pragma once

#include <stdint.h>

#include <string>

namespace quarvel {

constexpr uint64_t progressThreshold = 4 << 20;

class Progress {
public:
    // A bar that never draws.
    Progress() = default;
    Progress(std::string label, uint64_t total, bool wanted);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void Advance(uint64_t bytes);
    // Draws the full bar and ends its line.
    void Finish();

private:
    void Draw(bool force);

    std::string label_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    bool drawing_ = false;
    int shownPermille_ = -1;
    double lastDraw_ = 0;
};

}  // namespace quarvel
