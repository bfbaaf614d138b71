// tarv-diagcollector --root ROOT --record FILE
// Serves Diagnostics of the simulated station until SIGINT or SIGTERM.
#include "tools/diagcollector/diagcollector.h"
#include "tools/stationpeer/stationpeerhost.h"

#include <exception>
#include <iostream>
#include <string_view>

int main(int argc, char* argv[])
{
    if (argc != 5 || std::string_view(argv[1]) != "--root" || std::string_view(argv[3]) != "--record") {
        std::cerr << "usage: tarv-diagcollector --root ROOT --record FILE" << std::endl;
        return 2;
    }
    try {
        CStationPeerHost peer(argv[2]);
        peer.Get().AddService<IDiagnostics>("Diagnostics", std::make_shared<CDiagCollector>(argv[4], std::cout));
        return peer.Run([] {});
    } catch (const std::exception& e) {
        std::cerr << "tarv-diagcollector: " << e.what() << std::endl;
        return 1;
    }
}
