// Every failure of the tool is an Error: one line of text, printed as "quarvel: error: TEXT".
#pragma once

#include <stdexcept>
#include <string>

namespace quarvel {

struct Error : std::runtime_error {
    explicit Error(const std::string &text) : std::runtime_error(text) {}
};

// A command line the tool cannot make sense of; the tool then points to --help.
struct UsageError : Error {
    explicit UsageError(const std::string &text) : Error(text) {}
};

// The text in double quotes, for names in error messages.
inline std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

}  // namespace quarvel
