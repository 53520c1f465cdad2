// The info block and the image check on any bytes as an image.
//
// Checked: the check never fails to answer; an image it accepts holds what its info
// block promises; the info block survives decoding, encoding and scrambling back into
// the image; the texts made from it are built without fault.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "BiosInfo.h"
#include "ImageCheck.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kordel;
    const std::span<const std::uint8_t> image(data, size);
    const auto raw = UnscrambleBiosInfo(image);
    const TBiosInfo info = TBiosInfo::FromBytes(raw);
    Require(info.ToBytes() == raw);

    const std::string problem = ImageProblem(image);
    if (problem.empty()) {
        Require(size >= MinImageSize && size <= MaxImageSize);
        Require(info.UpdateLength() <= size);
    }
    volatile std::size_t sink = TitleVersStr(info).size() + BiosVersionStr(info).size() +
                                BiosInfoStr(info).size() + problem.size();
    (void)sink;

    if (size >= MinImageSize) {
        const std::vector<std::uint8_t> rebuilt =
            BuildImage(std::vector<std::uint8_t>(image.begin(), image.end()), info);
        Require(rebuilt.size() == size);
        Require(UnscrambleBiosInfo(rebuilt) == raw);
        // Only the info block's bytes may differ.
        for (std::size_t i = 0; i < size; ++i) {
            if (i < BiosInfoOffset || i >= MinImageSize) Require(rebuilt[i] == data[i]);
        }
    }
    return 0;
}
