#include "platform/ipc/grpcbackend.h"
#include "platform/log/log.h"
#include "src/commandline.h"
#include "src/qelogger.h"
#include "src/tarv.h"
#include "src/terminatehandler.h"

#include <iostream>
#include <malloc.h>
#include <memory>

int main(int argc, char* argv[])
{
    // Every thread would otherwise get a heap arena of its own, each keeping
    // freed memory for itself; the daemon's threads allocate little and rarely.
    mallopt(M_ARENA_MAX, 2);
    Log::Init("Tarv", Log::info);
    CTerminateHandler::Install();

    std::string usage;
    const CCommandLine::SOptions options = CCommandLine::Parse(argc, argv, usage);
    if (options.usagePrinted) {
        std::cout << usage << std::flush;
        return 1;
    }

    auto rpcLogger = std::make_shared<Rpc::QeLogger>();
    GrpcBackend::SetLogger(rpcLogger);

    {
        CTarv tarv(options.root);
        tarv.Run();
    }
    return 0;
}
