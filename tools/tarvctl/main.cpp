#include "tools/tarvctl/tarvctl.h"

#include <iostream>

int main(int argc, char* argv[])
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CTarvCtl control(std::cout, std::cerr);
    return control.Run(arguments);
}
