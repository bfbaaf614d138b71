#pragma once
// The daemon's hard failure: an interface or system file could not be
// brought into the required state. The lifecycle actions turn it into IntError.

#include <stdexcept>

class CTarvException : public std::runtime_error {
public:
    CTarvException() : std::runtime_error("Recovery was not possible, tiggering Error State") {}
};
