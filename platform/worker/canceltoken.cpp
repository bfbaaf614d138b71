#include "platform/worker/canceltoken.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

thread_local CCancelToken* tCurrent = nullptr;

int MakeEvent()
{
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return fd;
}

} // namespace

CCancelToken::CCancelToken() : mEvent(MakeEvent())
{
}

void CCancelToken::Cancel()
{
    if (mCancelled.exchange(true)) {
        return;
    }
    // The counter stays non-zero: the descriptor stays readable for every poll.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(mEvent.Get(), &one, sizeof one);
}

CCancelToken* CCancelToken::Current()
{
    return tCurrent;
}

CCancelToken::CScope::CScope(CCancelToken& token) : mOuter(tCurrent)
{
    tCurrent = &token;
}

CCancelToken::CScope::~CScope()
{
    tCurrent = mOuter;
}
