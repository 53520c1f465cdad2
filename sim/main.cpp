// kordel-sim: a simulated module on a pseudo-terminal, for trying and testing the
// updater without hardware.
#include <getopt.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "KordelSim.h"
#include "Version.h"

namespace {

using namespace kordel::sim;

volatile std::sig_atomic_t stopRequested = 0;
extern "C" void OnSignal(int) {
    stopRequested = 1;
}

const char* const Usage = R"(Usage: kordel-sim [OPTIONS]
Simulates the module on a new pseudo-terminal and prints the terminal's path as the
first line of standard output. Runs until interrupted (Ctrl-C) or until a hang-up
fault unplugs it.

Options:
  --link PATH        also make PATH a symlink to the terminal: an older link there
                     is replaced, a file is not; removed at exit while it is still
                     this simulator's link
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
  -V, --version      show the program's version and the firmware it carries
Options take their value as the next argument or after '=' (--baud=115200).
)";

int Fail(const std::string& message) {
    std::cerr << "kordel-sim: " << message << "\nTry 'kordel-sim --help'.\n";
    return 2;
}

// A line speed written as plain decimal digits: no sign, no whitespace.
std::optional<std::uint32_t> ParseBaud(const std::string& text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value == 0) return std::nullopt;
    return value;
}

enum LongOnly { OptLink = 256, OptCpuId, OptFlashOut, OptBaud, OptFault };

const option LongOptions[] = {
    {"link", required_argument, nullptr, OptLink},
    {"cpu-id", required_argument, nullptr, OptCpuId},
    {"flash-out", required_argument, nullptr, OptFlashOut},
    {"baud", required_argument, nullptr, OptBaud},
    {"fault", required_argument, nullptr, OptFault},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

std::string MissingValue(int option) {
    switch (option) {
        case OptLink:
            return "--link needs a path";
        case OptCpuId:
            return "--cpu-id needs 24 hex digits";
        case OptFlashOut:
            return "--flash-out needs a file name";
        case OptBaud:
            return "--baud needs a number";
        case OptFault:
            return "--fault needs a rule";
        default:
            return "an option needs a value";
    }
}

// Applies one option to `options`; returns an exit code when the program should stop.
std::optional<int> ApplyOption(int option, const std::string& value, SimOptions& options) {
    switch (option) {
        case 'h':
            std::cout << Usage;
            return 0;
        case 'V':
            std::cout << kordel::VersionLine("kordel-sim") << '\n';
            return 0;
        case OptLink:
            options.linkPath = value;
            break;
        case OptFlashOut:
            options.flashOut = value;
            break;
        case OptCpuId: {
            auto bytes = ParseHex(value);
            if (!bytes || bytes->size() != 12) return Fail(MissingValue(option));
            std::memcpy(options.cpuId.data(), bytes->data(), 12);
            break;
        }
        case OptBaud: {
            auto baud = ParseBaud(value);
            if (!baud) return Fail(MissingValue(option) + ", not '" + value + "'");
            options.expectedBaud = *baud;
            break;
        }
        case OptFault: {
            std::string error;
            auto rule = ParseFaultRule(value, error);
            if (!rule) return Fail("bad fault rule '" + value + "': " + error);
            options.faults.push_back(*rule);
            break;
        }
    }
    return std::nullopt;
}

// Parses the command line into `options`; returns an exit code when the program
// should stop at once.
std::optional<int> Parse(int argc, char** argv, SimOptions& options) {
    opterr = 0;  // the messages name the option as the user wrote it
    int option = 0;
    while ((option = getopt_long(argc, argv, ":hV", LongOptions, nullptr)) != -1) {
        if (option == ':') return Fail(MissingValue(optopt));
        if (option == '?') {
            const std::string given = argv[optind - 1];
            const std::string name = given.substr(0, given.find('='));
            for (const ::option* o = LongOptions; o->name != nullptr; ++o) {
                if (optopt != 0 && o->val == optopt && name == "--" + std::string(o->name)) {
                    return Fail("option '" + name + "' takes no value");
                }
            }
            if (optopt > 0) return Fail("unknown option '-" + std::string(1, char(optopt)) + "'");
            return Fail("unknown option '" + given + "'");
        }
        if (auto code = ApplyOption(option, optarg ? optarg : "", options)) return code;
    }
    if (optind < argc) return Fail("unexpected argument '" + std::string(argv[optind]) + "'");
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    using kordel::sim::KordelSim;
    kordel::sim::SimOptions options;
    if (auto code = Parse(argc, argv, options)) return *code;

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
