#include "platform/ipc/grpc/servers.h"

#include "platform/ipc/grpc/ipclimits.h"
#include "platform/worker/iclock.h"

namespace IpcGrpc {

CRequestRunner::CRequestRunner(std::string service)
    : mService(std::move(service)), mGate(kRunningRequestsPerService, kWaitingRequestsPerService)
{
}

CRequestDeadline::Clock::time_point CRequestRunner::ToSteady(std::chrono::system_clock::time_point deadline)
{
    if (deadline == std::chrono::system_clock::time_point::max()) {
        return CRequestDeadline::Clock::time_point::max();
    }
    const auto left = deadline - std::chrono::system_clock::now();
    return CRequestDeadline::Clock::now() + std::chrono::duration_cast<CRequestDeadline::Clock::duration>(left);
}

grpc::Status CRequestRunner::Refuse(CRequestGate::EAdmission admission, const char* request)
{
    // A flood is refused request by request, but logged at most once per
    // interval and kind, with the number of refusals left out.
    const auto allowed = mRefusalLog[static_cast<std::size_t>(admission) % kRefusalKinds].Allow(IClock::Steady()->Now());
    const std::string more = allowed && *allowed > 0 ? " (" + std::to_string(*allowed) + " more since the last report)" : "";
    switch (admission) {
    case CRequestGate::EAdmission::expired:
        if (allowed) {
            Log(ELevel::warning, "Request {} of '{}' dropped: its deadline passed before its turn{}", request,
                mService, more);
        }
        return {grpc::StatusCode::DEADLINE_EXCEEDED, "deadline passed before the request was served"};
    case CRequestGate::EAdmission::cancelled:
        if (allowed) {
            Log(ELevel::info, "Request {} of '{}' dropped: the client cancelled it{}", request, mService, more);
        }
        return {grpc::StatusCode::CANCELLED, "cancelled by the client"};
    case CRequestGate::EAdmission::busy:
        if (allowed) {
            Log(ELevel::warning, "Request {} of '{}' refused: too many requests of this service at once{}", request,
                mService, more);
        }
        return {grpc::StatusCode::RESOURCE_EXHAUSTED, "too many requests at once"};
    default: break;
    }
    return {grpc::StatusCode::UNAVAILABLE, "stopping"};
}

} // namespace IpcGrpc
