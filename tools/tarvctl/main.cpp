#include "tools/tarvctl/tarvctl.h"
#include "tools/tarvctl/tarvctldeadline.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char* argv[])
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // A daemon that does not answer in time ends the run here: the IPC
    // library's threads may still wait on it, so no orderly return exists.
    CTarvCtlDeadline deadline([](std::chrono::seconds timeout) {
        std::cerr << "tarvctl: no answer from tarv within " << timeout.count() << " s (--timeout)" << std::endl;
        std::cout.flush();
        std::_Exit(CTarvCtl::kFailure);
    });
    CTarvCtl control(std::cout, std::cerr, std::cin, &deadline);
    return control.Run(arguments);
}
