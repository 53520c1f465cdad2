// For platforms whose error numbers have no hints yet: the failure's text stands alone.
#include "Hints.h"

namespace kordel::cli {

std::string HintFor(const EComPort&, const std::string&) {
    return "";
}

}  // namespace kordel::cli
