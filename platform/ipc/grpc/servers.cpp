#include "platform/ipc/grpc/servers.h"

#include "platform/ipc/grpc/ipclimits.h"

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

grpc::Status CRequestRunner::Refuse(CRequestGate::EAdmission admission, const char* request) const
{
    switch (admission) {
    case CRequestGate::EAdmission::expired:
        Log(ELevel::warning, "Request {} of '{}' dropped: its deadline passed before its turn", request, mService);
        return {grpc::StatusCode::DEADLINE_EXCEEDED, "deadline passed before the request was served"};
    case CRequestGate::EAdmission::cancelled:
        Log(ELevel::info, "Request {} of '{}' dropped: the client cancelled it", request, mService);
        return {grpc::StatusCode::CANCELLED, "cancelled by the client"};
    case CRequestGate::EAdmission::busy:
        Log(ELevel::warning, "Request {} of '{}' refused: too many requests of this service at once", request,
            mService);
        return {grpc::StatusCode::RESOURCE_EXHAUSTED, "too many requests at once"};
    default: break;
    }
    return {grpc::StatusCode::UNAVAILABLE, "stopping"};
}

} // namespace IpcGrpc
