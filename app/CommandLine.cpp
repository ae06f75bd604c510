#include "app/CommandLine.h"

#include "platform/Convert.h"

namespace tc::app {

std::string usageText() {
    return "usage: touchcal [--headless] [--workdir DIR] [--port N] [--listen ADDRESS]\n"
           "                [--simulate] [--scenario FILE] [--serial-device PATH]\n"
           "                [--controllers FILE] [--print-udev-rule] [--help] [--version]\n"

           "  --headless      run without a window; what the window would show goes to\n"
           "                  standard error\n"
           "  --workdir DIR   read and write Start_Up.ini, save/ and qrcode.txt in DIR\n"
           "  --port N        station port (default 10000)\n"
           "  --listen ADDRESS\n"
           "                  the station's listen address, IPv4 or IPv6 (default: every\n"
           "                  IPv4 address)\n"
           "  --simulate      run on the built-in virtual controller and label printer\n"
           "  --scenario FILE the virtual controller's scenario (see docs/simulator.md);\n"
           "                  implies --simulate\n"
           "  --serial-device PATH\n"
           "                  the label printer's serial port by path (for example\n"
           "                  /dev/ttyUSB0), instead of the settings' port number\n"
           "  --controllers FILE\n"
           "                  the controller identifiers (see docs/hid.md); default\n"
           "                  /etc/touchcal/controllers.conf when present, else built in\n"
           "  --print-udev-rule\n"
           "                  print the udev access rule for the identifiers in force\n"
           "  --help          this text\n"
           "  --version       the program's version\n";
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };

        if (a == "--headless") {
            o.headless = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a == "--scenario") {
            auto v = value();
            if (!v || v->empty()) return {std::nullopt, "--scenario needs a file"};
            o.scenario = *v;
            o.simulate = true;
        } else if (a == "--serial-device") {
            auto v = value();
            if (!v || v->empty()) return {std::nullopt, "--serial-device needs a path"};
            o.serialDevice = *v;
        } else if (a == "--listen") {
            auto v = value();
            if (!v) return {std::nullopt, "--listen needs an address"};
            o.listen = platform::net::ListenAddress::parse(*v);
            if (!o.listen)
                return {std::nullopt, "--listen needs an IPv4 or IPv6 address, not '" + *v + "'"};
        } else if (a == "--controllers") {
            auto v = value();
            if (!v || v->empty()) return {std::nullopt, "--controllers needs a file"};
            o.controllers = *v;
        } else if (a == "--print-udev-rule") {
            o.printUdevRule = true;
        } else if (a == "--workdir") {
            auto v = value();
            if (!v || v->empty()) return {std::nullopt, "--workdir needs a folder"};
            o.workdir = *v;
        } else if (a == "--port") {
            auto v = value();
            const int port = v ? platform::strToIntDef(*v, -1) : -1;
            if (port < 0 || port > 65535)
                return {std::nullopt, "--port needs a number from 0 to 65535"};
            o.port = port;
        } else {
            return {std::nullopt, "unknown option '" + a + "'"};
        }
    }
    return {o, {}};
}

}  // namespace tc::app
