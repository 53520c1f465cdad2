// A plain-language line on the likely cause of a serial port failure, shown under the
// failure's own text. One file per OS reads the platform's error number.
#pragma once

#include <string>

#include "ComPort.h"

namespace kordel::cli {

// On POSIX never empty: errors without a hint of their own give the system's text,
// and a failure without an error number names what the port layer was doing. `port`,
// the device the failure is about, lets a refused open name the device's owner, group
// and mode.
std::string HintFor(const EComPort& e, const std::string& port = {});

}  // namespace kordel::cli
