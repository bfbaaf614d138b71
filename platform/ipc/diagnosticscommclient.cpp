#include "platform/ipc/diagnosticscommclient.h"

#include <mutex>

namespace {
std::mutex gSinkMutex;
// Guarded by gSinkMutex; shared so a send in progress keeps its sink alive
// while another thread replaces it.
std::shared_ptr<CDiagnosticsCommClient::Sink> gSink;
} // namespace

void CDiagnosticsCommClient::SetSink(Sink sink)
{
    std::lock_guard lock(gSinkMutex);
    gSink = sink ? std::make_shared<Sink>(std::move(sink)) : nullptr;
}

bool CDiagnosticsCommClient::Send(const SSample& sample)
{
    std::shared_ptr<Sink> sink;
    {
        std::lock_guard lock(gSinkMutex);
        sink = gSink;
    }
    return sink ? (*sink)(sample) : false;
}

bool CDiagnosticsCommClient::IsInitialized()
{
    std::lock_guard lock(gSinkMutex);
    return gSink != nullptr;
}

void CDiagnosticsCommClient::Terminate()
{
    SetSink({});
}
