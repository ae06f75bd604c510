// touchcal-station: sends station commands to a running touchcal and checks the replies.
#include <iostream>
#include <string>
#include <vector>

#include "tools/station/StationClient.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tc::tools::stationMain(args, std::cout, std::cerr);
}
