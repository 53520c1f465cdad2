// kordel-sim: a simulated module on a pseudo-terminal, for trying and testing the
// updater without hardware.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "KordelSim.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void OnSignal(int) {
    stopRequested = 1;
}

const char* const Usage = R"(Usage: kordel-sim [OPTIONS]
Simulates the module on a new pseudo-terminal and prints the terminal's path as the
first line of standard output. Runs until interrupted (Ctrl-C) or until a hang-up
fault unplugs it.

Options:
  --link PATH        also make PATH a symlink to the terminal (removed at exit)
  --cpu-id HEX       the 12-byte CPU-ID the module reports (24 hex digits)
  --flash-out FILE   write the flash contents from 0x08002000 on to FILE
                     each time the port is closed
  --baud N           the line speed the tool must program (default 4407315)
  --fault RULE       inject a fault; may be given several times. RULE is
                     [CMD][@N]=KIND[:VALUE]: CMD two hex digits or '*' (any
                     command), N the N-th such request (default: every one),
                     KIND one of
                       none        no reply
                       garbage     a stray byte before the reply
                       seq         wrong sequence number
                       marker      bad marker byte
                       check       bad check byte
                       trunc:K     send only the first K bytes of the reply
                       status:S    reply with status S (e.g. 195 or 0xC3)
                       delay:MS    answer MS milliseconds late
                       data:HEX    reply with these data bytes
                       dribble:MS  send the reply one byte at a time, MS ms apart
                       hangup      close the terminal, like an unplugged adapter
                     e.g. --fault F9@3=status:0xC3 --fault F1=none
  -h, --help         show this help and exit
)";

int Fail(const std::string& message) {
    std::cerr << "kordel-sim: " << message << "\nTry 'kordel-sim --help'.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kordel::sim;
    SimOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "-h" || arg == "--help") {
            std::cout << Usage;
            return 0;
        } else if (arg == "--link") {
            if (!value(options.linkPath)) return Fail("--link needs a path");
        } else if (arg == "--flash-out") {
            if (!value(options.flashOut)) return Fail("--flash-out needs a file name");
        } else if (arg == "--cpu-id") {
            if (!value(v)) return Fail("--cpu-id needs 24 hex digits");
            auto bytes = ParseHex(v);
            if (!bytes || bytes->size() != 12) return Fail("--cpu-id needs 24 hex digits");
            std::memcpy(options.cpuId.data(), bytes->data(), 12);
        } else if (arg == "--baud") {
            if (!value(v)) return Fail("--baud needs a number");
            try {
                options.expectedBaud = static_cast<std::uint32_t>(std::stoul(v));
            } catch (...) {
                return Fail("--baud needs a number");
            }
        } else if (arg == "--fault") {
            if (!value(v)) return Fail("--fault needs a rule");
            std::string error;
            auto rule = ParseFaultRule(v, error);
            if (!rule) return Fail("bad fault rule '" + v + "': " + error);
            options.faults.push_back(*rule);
        } else {
            return Fail("unknown option '" + arg + "'");
        }
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    try {
        KordelSim sim(options);
        std::cout << sim.SlavePath() << std::endl;
        std::cerr << "kordel-sim: module ready on " << sim.SlavePath()
                  << (options.linkPath.empty() ? "" : " (" + options.linkPath + ")") << '\n';
        int closes = 0;
        while (!stopRequested && !sim.HungUp()) {
            if (sim.WaitForCloses(closes + 1, 100)) {
                ++closes;
                std::cerr << "kordel-sim: port closed; flash holds " << sim.Flash().size()
                          << " bytes from 0x08002000\n";
            }
        }
        if (sim.HungUp()) std::cerr << "kordel-sim: hung up\n";
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
