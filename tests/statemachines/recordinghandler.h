#pragma once
// Lifecycle action handler for table tests: records every action and
// response callback by name. With mComplete set, each action posts the event
// the lifecycle expects of it on success.

#include "statemachines/tarvhsm.h"

#include <memory>
#include <string>
#include <vector>

class CRecordingHandler : public CTarvHsmActionHandlerBase {
public:
    CRecordingHandler()
    {
        ExtDisabledRsp = [this] { Record("ExtDisabledRsp"); };
        ExtEnabledRsp = [this] { Record("ExtEnabledRsp"); };
        ExtErrorRsp = [this] { Record("ExtErrorRsp"); };
        ExtFatalErrorRsp = [this] { Record("ExtFatalErrorRsp"); };
        ExtSendAlive = [this] { Record("ExtSendAlive"); };
        ExtUninitializedRsp = [this] { Record("ExtUninitializedRsp"); };
    }

    void IntDisableAll() override { Act<TarvHsm::IntDisablingDone>("IntDisableAll"); }
    void IntEnableNetworks() override { Act<TarvHsm::IntEnablingDone>("IntEnableNetworks"); }
    void IntHandleError() override { Record("IntHandleError"); }
    void IntInitializeNetwork() override { Act<TarvHsm::IntInitializingDone>("IntInitializeNetwork"); }
    void IntInitializeNtp() override { Act<TarvHsm::IntNtpInitialized>("IntInitializeNtp"); }
    void IntStopAliveTimer() override { Record("IntStopAliveTimer"); }
    void IntReinitialize() override { Act<TarvHsm::IntRecoveringDone>("IntReinitialize"); }
    void IntSetTarvEnabled() override { Act<TarvHsm::IntTarvIfInit>("IntSetTarvEnabled"); }
    void IntSetTarvNotEnabled() override { Record("IntSetTarvNotEnabled"); }
    void IntStartAliveTimer() override { Record("IntStartAliveTimer"); }
    void IntStartNtpd() override { Record("IntStartNtpd"); }
    void IntStopRecovery() override { Record("IntStopRecovery"); }
    void IntStopWorkerThread() override { Act<TarvHsm::IntStopWorkerThreadDone>("IntStopWorkerThread"); }

    void Record(const std::string& what) { mCalls.push_back(what); }

    std::vector<std::string> mCalls;
    bool mComplete = false;

private:
    template <typename Done>
    void Act(const std::string& name)
    {
        Record(name);
        if (mComplete) {
            Post<Done>();
        }
    }
};
