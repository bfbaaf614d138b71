#include "platform/ipc/grpc/callstatus.h"

#include "platform/ipc/communicationexception.h"

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
    throw Rpc::CommunicationException("'" + endpoint.name + "' at " + endpoint.socketPath + ": " +
                                      Describe(status));
}

void PrepareContext(grpc::ClientContext& context, std::chrono::seconds timeout)
{
    context.set_deadline(std::chrono::system_clock::now() + timeout);
    context.set_wait_for_ready(false);
}

} // namespace IpcGrpc
