#pragma once
// Operation of the LTE handler beyond the common handler ones: the quick
// modem power-down the application object runs when mains power is lost.

class ITarvLteControl {
public:
    virtual ~ITarvLteControl() = default;

    virtual void FastShutdown() = 0;
};
