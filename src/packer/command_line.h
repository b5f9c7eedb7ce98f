// The command line of `quarvel`: its subcommands, options and help texts.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace quarvel {

// Runs the tool; returns its exit status: 0 done, 1 failed (or checks failed), 2 bad usage.
// Errors go to stderr as one line "quarvel: error: ...".
int RunCommandLine(const std::vector<std::string> &arguments, const std::vector<uint8_t> &embeddedStub);

// A size such as 1474560, 1440k or 100M (k, M and G count 1024, 1024^2 and 1024^3 bytes).
uint64_t ParseSize(const std::string &text);

}  // namespace quarvel
