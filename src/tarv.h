#pragma once
// The daemon's application object: builds the components for a root
// directory and runs until an interrupt stops it.

#include "src/interruptwatcher.h"

#include <condition_variable>
#include <mutex>
#include <string>

class CTarv {
public:
    explicit CTarv(const std::string& rootDirectory);
    // Runs until SIGINT, then stops in order.
    void Run();

private:
    std::string mRoot;
    CInterruptWatcher mInterrupts;
    std::mutex mMutex;             // guards mStopRequested
    std::condition_variable mCv;
    bool mStopRequested = false;
};
