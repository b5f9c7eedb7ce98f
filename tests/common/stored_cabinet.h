// Cabinets written by hand, field by field from the cabinet format, for the tests of both
// programs: one folder, stored (uncompressed), so that a test controls every byte.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct StoredFile {
    std::string name, data;
    uint16_t date = 0x5821;  // 2024-01-01
    uint16_t time = 0x6000;  // 12:00:00
    uint16_t attributes = 0x20;
};

// nextCabinet non-empty marks the cabinet as continued in that one, a part of a set.
std::string StoredCabinet(const std::vector<StoredFile> &files, const std::string &nextCabinet = "");
