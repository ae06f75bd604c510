// Writes the packaged udev rule for the built-in controller identifiers: the same text that
// `touchcal --print-udev-rule` prints when no controller file is in force.
#include <fstream>
#include <iostream>

#include "device/ControllerIds.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: write_rule OUTPUT\n";
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << tc::device::udevRule(tc::device::builtInControllerIds());
    out.close();
    if (!out) {
        std::cerr << "write_rule: cannot write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
