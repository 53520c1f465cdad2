#include "ImageCheck.h"

#include "BiosInfo.h"

namespace kordel {

std::string ImageProblem(std::span<const std::uint8_t> image) {
    if (image.size() < MinImageSize) {
        return "image is " + std::to_string(image.size()) +
               " bytes, shorter than the 288 bytes that hold its info block";
    }
    if (image.size() > MaxImageSize) {
        return "image is " + std::to_string(image.size()) + " bytes, more than the " +
               std::to_string(MaxImageSize) + " an update can write";
    }
    const auto info = TBiosInfo::FromBytes(UnscrambleBiosInfo(image));
    if (info.UpdateLength() > image.size()) {
        return "its FileSize says " + std::to_string(info.UpdateLength()) +
               " bytes, but the image holds only " + std::to_string(image.size());
    }
    return {};
}

}  // namespace kordel
