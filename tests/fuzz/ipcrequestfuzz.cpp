// libFuzzer target for what a peer sends the daemon over IPC (scripts/fuzz.sh):
// the first byte picks a request, notification or sample message, the rest
// is its wire form. The daemon's own decoders must take whatever decodes.

#include "platform/ipc/ipcsample.h"
#include "proto/messages.pb.h"
#include "proto/servicemessages.pb.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const int length = static_cast<int>(size - 1);
    ipc::MNetInterfaces interfaces;
    ipc::MDiagnosticsSample sample;
    switch (data[0] % 4) {
    case 0:
        if (interfaces.ParseFromArray(data + 1, length)) {
            for (const int value : interfaces.interfaces()) { // unknown numbers are kept
                static_cast<void>(ipc::EIfName_Name(static_cast<ipc::EIfName>(value)));
            }
        }
        break;
    case 1:
        if (sample.ParseFromArray(data + 1, length)) {
            static_cast<void>(IpcSample::ToMessage(IpcSample::FromMessage(sample)).SerializeAsString());
        }
        break;
    case 2: static_cast<void>(ipc::MLogLevel().ParseFromArray(data + 1, length)); break;
    default: static_cast<void>(ipc::MBoardControlNotification().ParseFromArray(data + 1, length)); break;
    }
    return 0;
}
