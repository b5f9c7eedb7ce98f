// Writes one JSON document, indented, for `inspect --json`.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace quarvel {

class JsonWriter {
public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // The name of the next member of the open object.
    void Key(const std::string &name);
    // Texts must be UTF-8; bytes that are not become U+FFFD.
    void String(const std::string &text);
    void Number(uint64_t value);
    void Bool(bool value);

    // A member of the open object: its name and its value.
    void StringMember(const std::string &name, const std::string &text) { Key(name); String(text); }
    void NumberMember(const std::string &name, uint64_t value) { Key(name); Number(value); }
    void BoolMember(const std::string &name, bool value) { Key(name); Bool(value); }

    // The document, ending in a newline.
    std::string Text() const { return out_ + "\n"; }

private:
    void Open(char bracket);
    void Close(char bracket);
    void BeforeValue();
    void Indent();

    std::string out_;
    std::vector<bool> hasMembers_;  // one per open object or array
    bool afterKey_ = false;
};

}  // namespace quarvel
