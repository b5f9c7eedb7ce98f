#include "codepage.h"

#include <stdint.h>
#include <stdio.h>

#include "error.h"

namespace quarvel {

// Bytes 0x80 to 0x9F; every other byte is the code point of its own value. 0 marks the five
// bytes without a character.
static const char32_t upperControlRange[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

static int Windows1252Byte(char32_t code)
{
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return (int)code;
    for (int i = 0; i < 32; i++)
        if (upperControlRange[i] == code)
            return 0x80 + i;
    return -1;
}

static void AppendUtf8(char32_t code, std::string &out)
{
    if (code < 0x80) {
        out += (char)code;
    } else if (code < 0x800) {
        out += (char)(0xC0 | code >> 6);
        out += (char)(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += (char)(0xE0 | code >> 12);
        out += (char)(0x80 | (code >> 6 & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    } else {
        out += (char)(0xF0 | code >> 18);
        out += (char)(0x80 | (code >> 12 & 0x3F));
        out += (char)(0x80 | (code >> 6 & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    }
}

// Decodes one character at text[at]; returns its length, or 0 for bytes that are not UTF-8
// (overlong forms and surrogates included).
static size_t DecodeUtf8(std::string_view text, size_t at, char32_t *code)
{
    uint8_t lead = (uint8_t)text[at];
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                  : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    char32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; i++) {
        uint8_t next = (uint8_t)text[at + i];
        if ((next & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (next & 0x3F);
    }
    static const char32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
        return 0;
    *code = value;
    return length;
}

std::string Utf8ToWindows1252(std::string_view utf8, const std::string &origin)
{
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF")
        utf8.remove_prefix(3);
    bool severalLines = utf8.find('\n') != std::string_view::npos;
    std::string out;
    out.reserve(utf8.size());
    unsigned line = 1;
    auto where = [&] { return severalLines ? origin + ":" + std::to_string(line) : origin; };
    for (size_t at = 0; at < utf8.size();) {
        char32_t code = 0;
        size_t length = DecodeUtf8(utf8, at, &code);
        if (length == 0)
            throw Error(where() + ": not UTF-8 text (byte " + std::to_string((uint8_t)utf8[at]) +
                        ")");
        if (code == 0)
            throw Error(where() + ": a NUL character; the installer would end the text there");
        int byte = Windows1252Byte(code);
        if (byte < 0) {
            char name[16];
            snprintf(name, sizeof name, "U+%04X", (unsigned)code);
            throw Error(where() + ": " + Quoted(std::string(utf8.substr(at, length))) + " (" + name +
                        ") has no form in code page 1252");
        }
        out += (char)byte;
        line += code == '\n';
        at += length;
    }
    return out;
}

std::string Windows1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        uint8_t byte = (uint8_t)c;
        char32_t code = byte >= 0x80 && byte < 0xA0 ? upperControlRange[byte - 0x80] : byte;
        AppendUtf8(code ? code : byte, out);
    }
    return out;
}

std::string ValidUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        char32_t code;
        size_t length = DecodeUtf8(text, at, &code);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            at++;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::u32string CodePoints(std::string_view text)
{
    std::u32string points;
    for (size_t at = 0; at < text.size();) {
        char32_t code = 0xFFFD;
        size_t length = DecodeUtf8(text, at, &code);
        points += length ? code : 0xFFFD;
        at += length ? length : 1;
    }
    return points;
}

std::string Utf16Le(std::string_view utf8)
{
    std::string bytes;
    auto unit = [&](char32_t u) {
        bytes += (char)(u & 0xFF);
        bytes += (char)(u >> 8 & 0xFF);
    };
    for (char32_t code : CodePoints(utf8)) {
        if (code > 0xFFFF) {
            unit(0xD800 | (code - 0x10000) >> 10);
            unit(0xDC00 | ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
    return bytes;
}

std::string FromUtf16Le(std::string_view bytes)
{
    std::string out;
    auto unitAt = [&](size_t i) { return (char32_t)((uint8_t)bytes[i] | (uint8_t)bytes[i + 1] << 8); };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t code = unitAt(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size() && unitAt(i + 2) >= 0xDC00 &&
            unitAt(i + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(code, out);
    }
    return out;
}

std::string WithCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string WithLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

}  // namespace quarvel
