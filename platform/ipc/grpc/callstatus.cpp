#include "platform/ipc/grpc/callstatus.h"

#include "platform/ipc/communicationexception.h"
#include "platform/ipc/requestdeadline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

namespace IpcGrpc {

std::string Describe(const grpc::Status& status)
{
    switch (status.error_code()) {
    case grpc::StatusCode::UNAVAILABLE: return "not reachable";
    case grpc::StatusCode::DEADLINE_EXCEEDED: return "no answer in time";
    case grpc::StatusCode::UNIMPLEMENTED: return "request not offered by the peer";
    default: break;
    }
    return "request failed (" + std::to_string(static_cast<int>(status.error_code())) + ")" +
           (status.error_message().empty() ? "" : ": " + status.error_message());
}

[[noreturn]] void ThrowFailure(const SIpcEndpoint& endpoint, const grpc::Status& status)
{
    // A socket this process may not connect to looks like an absent or
    // silent peer to gRPC; say what it is.
    const bool unreachable = status.error_code() == grpc::StatusCode::UNAVAILABLE
                             || status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED;
    if (unreachable && ::access(endpoint.socketPath.c_str(), W_OK) != 0 && errno == EACCES) {
        throw Rpc::CommunicationException("'" + endpoint.name + "' at " + endpoint.socketPath + ": permission denied");
    }
    throw Rpc::CommunicationException("'" + endpoint.name + "' at " + endpoint.socketPath + ": " +
                                      Describe(status));
}

void PrepareContext(grpc::ClientContext& context, std::chrono::seconds timeout)
{
    auto deadline = std::chrono::system_clock::now() + timeout;
    // A request made while serving one gives up when that one's client does.
    const auto served = CRequestDeadline::Current();
    if (served != CRequestDeadline::Clock::time_point::max()) {
        const auto left = served - CRequestDeadline::Clock::now();
        deadline = std::min(deadline, std::chrono::system_clock::now() +
                                          std::chrono::duration_cast<std::chrono::system_clock::duration>(left));
    }
    context.set_deadline(deadline);
    context.set_wait_for_ready(false);
}

bool PeerSocketExists(const SIpcEndpoint& endpoint)
{
    struct stat info {};
    return ::stat(endpoint.socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace IpcGrpc
