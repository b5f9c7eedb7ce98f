#include "json.h"

#include <stdio.h>

#include "codepage.h"

namespace quarvel {

void JsonWriter::Indent()
{
    out_ += '\n';
    out_.append(hasMembers_.size() * 2, ' ');
}

void JsonWriter::BeforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasMembers_.empty()) {
        if (hasMembers_.back())
            out_ += ',';
        hasMembers_.back() = true;
        Indent();
    }
}

void JsonWriter::Open(char bracket)
{
    BeforeValue();
    out_ += bracket;
    hasMembers_.push_back(false);
}

void JsonWriter::Close(char bracket)
{
    bool hadMembers = hasMembers_.back();
    hasMembers_.pop_back();
    if (hadMembers)
        Indent();
    out_ += bracket;
}

void JsonWriter::Key(const std::string &name)
{
    String(name);
    out_ += ": ";
    afterKey_ = true;
}

void JsonWriter::String(const std::string &text)
{
    BeforeValue();
    out_ += '"';
    for (char c : ValidUtf8(text)) {
        switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
            if ((unsigned char)c < 0x20) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\u%04x", (unsigned char)c);
                out_ += escape;
            } else {
                out_ += c;
            }
        }
    }
    out_ += '"';
}

void JsonWriter::Number(uint64_t value)
{
    BeforeValue();
    out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value)
{
    BeforeValue();
    out_ += value ? "true" : "false";
}

}  // namespace quarvel
