#pragma once
// The number of descriptors this process has open, for leak checks.

namespace TestSupport {

int OpenFdCount();

} // namespace TestSupport
