// The installer stub of the same build, linked into the tool so that `quarvel pack` needs no
// file beside it.
#pragma once

#include <stdint.h>

#include <vector>

std::vector<uint8_t> EmbeddedStubImage();
