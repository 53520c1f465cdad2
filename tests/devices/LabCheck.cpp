// kordel-lab-check: the device lab's verdicts over what a scenario recorded.
//
//   update RECORD MARK TRACE FLASH IMAGE   the update of the run after MARK, as the
//                                          module saw it (see LabRecord.h)
//   unplug RECORD MARK END_US              ms from the module's unplug to END_US
//   usbmon CAPTURE                         how long DTR/RTS were up at each open
//
// Prints one line of facts and, for a broken rule, the problems; exits 1 on a problem.
#include <fstream>
#include <iostream>
#include <iterator>

#include "LabRecord.h"

namespace {

using namespace kordel::lab;

Bytes ReadBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<Event> ReadEvents(const char* path) {
    std::ifstream in(path);
    return ParseRecord(in);
}

int Update(char** argv) {
    const auto all = ReadEvents(argv[0]);
    std::ifstream trace(argv[2]);
    const UpdateCheck c = CheckUpdate(all, After(all, argv[1]), RequestBytes(trace),
                                      ReadBytes(argv[3]), ReadBytes(argv[4]));
    std::printf("break %.1f ms after set-up, %.1f ms long; DTR/RTS ", c.breakDelayMs,
                c.breakLengthMs);
    if (c.linesHighMs) {
        std::printf("up for %.1f ms after the open\n", *c.linesHighMs);
    } else {
        std::printf("never up\n");
    }
    for (const auto& p : c.problems) std::printf("problem: %s\n", p.c_str());
    return c.problems.empty() ? 0 : 1;
}

int Unplug(char** argv) {
    const auto all = ReadEvents(argv[0]);
    const auto ms = MsFromUnplug(After(all, argv[1]), std::stoll(argv[2]));
    if (!ms) {
        std::printf("problem: the module never unplugged\n");
        return 1;
    }
    std::printf("%.0f\n", *ms);
    return 0;
}

int Usbmon(char** argv) {
    std::ifstream in(argv[0]);
    const auto found = HighLinesFromUsbmon(in);
    if (found.empty()) std::printf("never up\n");
    for (const auto& h : found) {
        if (h.ms < 0) {
            std::printf("up (0x%04X) and never lowered\n", h.raisedBy);
        } else {
            std::printf("up (0x%04X) for %.1f ms\n", h.raisedBy, h.ms);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "update" && argc == 7) return Update(argv + 2);
        if (mode == "unplug" && argc == 5) return Unplug(argv + 2);
        if (mode == "usbmon" && argc == 3) return Usbmon(argv + 2);
    } catch (const std::exception& e) {
        std::printf("problem: %s\n", e.what());
        return 1;
    }
    std::cerr
        << "usage: kordel-lab-check update RECORD MARK TRACE FLASH IMAGE | unplug RECORD MARK "
           "END_US | usbmon CAPTURE\n";
    return 2;
}
