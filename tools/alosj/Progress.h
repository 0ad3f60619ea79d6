// A progress bar on stderr, driven through GDAL's progress callback.
#pragma once

#include <string>

namespace alosj {

class ProgressBar {
public:
    /// Shown when forced, or when stderr is a terminal and not quiet.
    ProgressBar(const std::string& label, bool force, bool quiet);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    /// Shows the fraction done (0 to 1); redraws only when the bar changes.
    void Update(double fraction);
    /// Ends the bar's line.
    void Finish();

    /// A GDALProgressFunc whose user data is a ProgressBar.
    static int GdalCallback(double fraction, const char* message, void* bar);

private:
    std::string label_;
    bool shown_;
    int drawn_ = -1;  // the last percentage drawn
    bool finished_ = false;
};

}  // namespace alosj
