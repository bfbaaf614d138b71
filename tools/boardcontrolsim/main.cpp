// tarv-boardcontrolsim --root ROOT --record FILE
// Serves BoardControl of the simulated station; SIGUSR1 sends mains-lost,
// SIGINT or SIGTERM stops it.
#include "tools/boardcontrolsim/boardcontrolsim.h"
#include "tools/stationpeer/stationpeerhost.h"

#include <exception>
#include <iostream>
#include <string_view>

int main(int argc, char* argv[])
{
    if (argc != 5 || std::string_view(argv[1]) != "--root" || std::string_view(argv[3]) != "--record") {
        std::cerr << "usage: tarv-boardcontrolsim --root ROOT --record FILE" << std::endl;
        return 2;
    }
    try {
        CStationPeerHost peer(argv[2]);
        auto controller = std::make_shared<CBoardControlSim>(argv[4], std::cout);
        peer.Get().AddService<IBoardControl>("BoardControl", controller);
        return peer.Run([&controller] { controller->SendMainsLost(); });
    } catch (const std::exception& e) {
        std::cerr << "tarv-boardcontrolsim: " << e.what() << std::endl;
        return 1;
    }
}
