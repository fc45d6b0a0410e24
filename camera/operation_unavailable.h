#pragma once

#include <stdexcept>

// Thrown by a camera-model operation that this build cannot carry out yet. A scan that meets it
// is left as it is (kept in its floor and project file, unprocessed) rather than treated as broken.
class OperationUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
