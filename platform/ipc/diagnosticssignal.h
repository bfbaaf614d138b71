#pragma once
// A diagnostics signal of one catalogue definition: the current value with
// its timestamp, guarded by the signal's own lock, sent on request.

#include "platform/ipc/diagnosticscommclient.h"
#include "platform/ipc/signaldefinition.h"

#include <chrono>
#include <mutex>
#include <utility>

template <typename T>
class CDiagnosticsSignal {
public:
    using Clock = std::chrono::system_clock;

    explicit CDiagnosticsSignal(const CSignalDefinition<T>* definition)
        : mDefinition(definition), mValue(definition->GetDefault()), mTimestamp(Clock::now())
    {
    }

    // Stores value and timestamp together.
    void SetValue(T value, Clock::time_point timestamp = Clock::now())
    {
        std::lock_guard lock(mMutex);
        mValue = std::move(value);
        mTimestamp = timestamp;
    }

    // Sends the current value; false when it could not be handed on.
    bool Send()
    {
        CDiagnosticsCommClient::SSample sample;
        {
            std::lock_guard lock(mMutex);
            sample.identifier = mDefinition->GetIdentifier();
            sample.value = mValue;
            sample.timestamp = mTimestamp;
        }
        return CDiagnosticsCommClient::Send(sample);
    }

    // Stores the value with the current time, then sends it.
    bool Send(T value)
    {
        SetValue(std::move(value));
        return Send();
    }

    T Receive() const
    {
        std::lock_guard lock(mMutex);
        return mValue;
    }

private:
    const CSignalDefinition<T>* mDefinition;
    mutable std::mutex mMutex; // guards mValue and mTimestamp
    T mValue;
    Clock::time_point mTimestamp;
};
