#include "platform/ipc/grpcbackend.h"
#include "platform/log/log.h"
#include "src/commandline.h"
#include "src/qelogger.h"
#include "src/tarv.h"
#include "src/terminatehandler.h"

#include <iostream>
#include <memory>

int main(int argc, char* argv[])
{
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
