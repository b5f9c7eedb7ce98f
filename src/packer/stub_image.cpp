#include "stub_image.h"

// QUARVEL_STUB_PATH is the stub the build has just made; the build compiles this file again
// whenever the stub changes.
asm(".section .rodata\n"
    ".balign 16\n"
    ".type quarvelStubImage, @object\n"
    "quarvelStubImage:\n"
    ".incbin \"" QUARVEL_STUB_PATH "\"\n"
    "quarvelStubImageEnd:\n"
    ".previous\n");

extern "C" const uint8_t quarvelStubImage[], quarvelStubImageEnd[];

std::vector<uint8_t> EmbeddedStubImage()
{
    return std::vector<uint8_t>(quarvelStubImage, quarvelStubImageEnd);
}
