#include "platform/ipc/diagnosticscommclient.h"

#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/diagnosticsforwarder.h"

#include <mutex>

namespace {
std::mutex gForwarderMutex;
// Guarded by gForwarderMutex: the forwarder Initialize started, if any.
std::shared_ptr<CDiagnosticsForwarder> gForwarder;

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

void CDiagnosticsCommClient::Initialize(const std::shared_ptr<AppCommunicationHost<GrpcBackend>>& host)
{
    const auto collector = host->CreateClient<IDiagnostics>("Diagnostics")->GetInterface();
    auto forwarder = std::make_shared<CDiagnosticsForwarder>(
        [collector](const SSample& sample) { return collector->SendSample(sample); },
        CDiagnosticsForwarder::SSettings{});
    std::shared_ptr<CDiagnosticsForwarder> previous;
    {
        std::lock_guard lock(gForwarderMutex);
        previous = std::exchange(gForwarder, forwarder);
    }
    SetSink([forwarder](const SSample& sample) { return forwarder->Enqueue(sample); });
    if (previous) {
        previous->Stop();
    }
}

void CDiagnosticsCommClient::Terminate()
{
    SetSink({});
    std::shared_ptr<CDiagnosticsForwarder> forwarder;
    {
        std::lock_guard lock(gForwarderMutex);
        forwarder = std::move(gForwarder);
    }
    if (forwarder) {
        forwarder->Stop();
    }
}
