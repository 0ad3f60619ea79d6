#include "tools/alosj/Progress.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define ALOSJ_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define ALOSJ_ISATTY(fd) isatty(fd)
#endif

namespace alosj {

ProgressBar::ProgressBar(const std::string& label, bool force, bool quiet)
    : label_(label), shown_(force || (!quiet && ALOSJ_ISATTY(2))) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(double fraction) {
    if (!shown_ || finished_) return;
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
    if (percent == drawn_) return;
    drawn_ = percent;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    const int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar, percent);
    std::fflush(stderr);
}

void ProgressBar::Finish() {
    if (!shown_ || finished_) return;
    finished_ = true;
    if (drawn_ >= 0) std::fputc('\n', stderr);
}

int ProgressBar::GdalCallback(double fraction, const char*, void* bar) {
    static_cast<ProgressBar*>(bar)->Update(fraction);
    return 1;
}

}  // namespace alosj
