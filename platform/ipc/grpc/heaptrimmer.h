#pragma once
// Gives heap memory back that IPC traffic freed, checked now and then: a
// flood's memory is mostly freed after its last request (its connections
// close, refused and oversized messages are dropped), where no request
// handler sees it. Trims when the resident size grew by more than the slack
// since the last trim, so an idle process only reads its size.

#include <cstddef>
#include <functional>

namespace IpcGrpc {

class CHeapTrimmer {
public:
    using SizeReader = std::function<std::size_t()>;
    using Trimmer = std::function<void()>;

    // readSize: the resident size in bytes (ResidentBytes unless a test's);
    // trim: gives freed heap back (CMemoryTrim::Trim unless a test's).
    explicit CHeapTrimmer(std::size_t slack = kSlack, SizeReader readSize = &ResidentBytes, Trimmer trim = {});

    // Trims when due; true when it did. The first check only takes the size.
    bool Check();

    // The process's resident size (0 when it cannot be read).
    static std::size_t ResidentBytes();
    static constexpr std::size_t kSlack = 1024 * 1024;

private:
    const std::size_t mSlack;
    const SizeReader mReadSize;
    const Trimmer mTrim;
    std::size_t mBaseline = 0; // size after the last trim, or the lowest since
    bool mMeasured = false;
};

} // namespace IpcGrpc
