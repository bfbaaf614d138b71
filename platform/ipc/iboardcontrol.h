#pragma once
// The board controller as its clients see it: a reboot request and the
// mains-lost notification. The client installs the mains-lost handler; the
// IPC layer calls NotifyMainsLost on its notification thread. A board
// controller served through the IPC host gets mMainsLostSender installed.

#include <functional>
#include <mutex>
#include <utility>

class IBoardControl {
public:
    virtual ~IBoardControl() = default;

    // Asks the board controller to reboot the station; false when it could
    // not be reached or refused. Never blocks for long on an absent peer.
    virtual bool RebootRequest() = 0;

    void SetMainsLostHandler(std::function<void()> handler)
    {
        std::lock_guard lock(mMutex);
        mMainsLostHandler = std::move(handler);
    }

    // Calls the installed handler; nothing happens when none is installed.
    void NotifyMainsLost()
    {
        std::function<void()> handler;
        {
            std::lock_guard lock(mMutex);
            handler = mMainsLostHandler;
        }
        if (handler) {
            handler();
        }
    }

    // Served side only: sends a mains-lost notification to every subscribed client.
    std::function<void()> mMainsLostSender;

private:
    std::mutex mMutex;                        // guards mMainsLostHandler
    std::function<void()> mMainsLostHandler;
};
