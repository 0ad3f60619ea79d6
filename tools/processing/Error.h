// The processing library's errors: what the caller gave that cannot be
// used (a DEM that is no placed raster, heights in an unknown unit) apart
// from what failed while the work ran (a file that cannot be written, a
// model that cannot place a grid).  The library never ends a process; a
// program maps the kinds to its own exits.
#pragma once

#include <stdexcept>
#include <string>

namespace alosj::processing {

class Error : public std::runtime_error {
public:
    enum class Kind {
        kBadInput,  // the caller's input cannot be used as given
        kFailure,   // the work failed: reading, writing, a model, the system
    };
    Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

    static Error BadInput(const std::string& message) { return Error(Kind::kBadInput, message); }
    static Error Failed(const std::string& message) { return Error(Kind::kFailure, message); }

private:
    Kind kind_;
};

}  // namespace alosj::processing
