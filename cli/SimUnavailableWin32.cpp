// The simulated module needs a pseudo-terminal, which Windows does not have. On
// Windows `--sim` says so and names what to use instead.
#include <stdexcept>

#include "KordelSim.h"

namespace kordel::sim {

namespace {
const char* const NoPseudoTerminal =
    "kordel-flash: --sim needs a pseudo-terminal, which Windows does not have.\n"
    "To try the updater without a module, install a virtual null-modem pair (two COM\n"
    "ports joined back to back), let a module simulator answer on one of them and\n"
    "flash the other with --port COMn; or run kordel-flash --sim on Linux.";
}  // namespace

std::optional<FaultRule> ParseFaultRule(std::string_view, std::string& error) {
    error = "simulated modules are not available on Windows";
    return std::nullopt;
}

std::array<std::uint8_t, 48> SimOptions::DefaultBootInfo() {
    return {};
}

KordelSim::KordelSim(SimOptions) {
    throw std::runtime_error(NoPseudoTerminal);
}

KordelSim::~KordelSim() = default;

std::vector<std::uint8_t> KordelSim::Flash() const {
    return {};
}

}  // namespace kordel::sim
