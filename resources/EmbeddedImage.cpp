// Links the firmware image into the program as read-only data and registers it as the
// resource BIOS_KORDEL of type BINARY.
#include <cstdint>

#include "BiosInfo.h"
#include "Resources.h"

asm(".section .rodata.kordel_bios,\"a\"\n"
    ".balign 16\n"
    ".globl kordel_bios_begin\n"
    "kordel_bios_begin:\n"
    ".incbin \"" KORDEL_IMAGE_PATH "\"\n"
    ".globl kordel_bios_end\n"
    "kordel_bios_end:\n"
    ".previous\n");

extern "C" const std::uint8_t kordel_bios_begin[];
extern "C" const std::uint8_t kordel_bios_end[];

namespace {
const kordel::TResourceRegistration bios(kordel::BiosResourceName, kordel::BiosResourceType,
                                         kordel_bios_begin, kordel_bios_end);
}  // namespace
