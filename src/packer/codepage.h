// The texts of a package are Windows code page 1252 with CR LF line ends; the tool's users
// write UTF-8 with LF. These convert between the two.
#pragma once

#include <string>
#include <string_view>

namespace quarvel {

// UTF-8 to code page 1252, a leading byte-order mark dropped. A character without a 1252 form,
// a NUL or bytes that are not UTF-8 throw an Error that starts with `origin`, the line number
// when the text has more than one line, and names the character.
std::string Utf8ToWindows1252(std::string_view utf8, const std::string &origin);

// Code page 1252 to UTF-8. The five bytes that 1252 leaves undefined become the control
// characters of the same value, as Windows itself converts them.
std::string Windows1252ToUtf8(std::string_view text);

// The text with every byte that is not part of a UTF-8 character replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// The code points of UTF-8 text, each byte that is not part of a character as U+FFFD.
std::u32string CodePoints(std::string_view text);

// UTF-8 to UTF-16LE (no byte-order mark) and back; a lone surrogate becomes U+FFFD.
std::string Utf16Le(std::string_view utf8);
std::string FromUtf16Le(std::string_view bytes);

// Every LF not already behind a CR becomes CR LF.
std::string WithCrLf(std::string_view text);
// Every CR LF becomes LF.
std::string WithLf(std::string_view text);

}  // namespace quarvel
