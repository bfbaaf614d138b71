#pragma once
// Sole owner of a file descriptor: closes it when it goes out of scope.

#include <string_view>

class CUniqueFd {
public:
    explicit CUniqueFd(int fd = -1) noexcept : mFd(fd) {}
    ~CUniqueFd() { Close(); }
    CUniqueFd(CUniqueFd&& other) noexcept : mFd(other.Release()) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept;
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return mFd; }
    bool IsOpen() const { return mFd >= 0; }
    // Gives the descriptor up without closing it.
    int Release() noexcept;
    // Closes now; false when the kernel reported an error (a deferred write
    // error shows here). Closing nothing succeeds.
    bool Close() noexcept;

    // Writes all of data, resuming after partial writes and interruptions.
    bool WriteAll(std::string_view data) const;

private:
    int mFd;
};
