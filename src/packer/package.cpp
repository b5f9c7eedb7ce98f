#include "package.h"

#include <string.h>

#include <algorithm>

#include "error.h"
#include "scramble.h"

namespace quarvel {

static uint8_t ByteLength(const std::string &text, const char *field)
{
    if (text.size() > 255)
        throw Error(std::string("the ") + field + " is " + std::to_string(text.size()) +
                    " bytes in code page 1252; its length field holds at most 255");
    return (uint8_t)text.size();
}

PackageHeader MakePackageHeader(const PackageTexts &texts, const PackageFlags &flags,
                                uint32_t totalSize)
{
    PackageHeader header{};
    memcpy(header.magic, packageMagic, magicLength);
    header.showCompletion = flags.showCompletion;
    header.titleLength = ByteLength(texts.title, "title");
    header.infNameLength = ByteLength(texts.infName, "INF name");
    header.requireAdmin = flags.requireAdmin;
    header.infoTextLength = ByteLength(texts.infoText, "info text");
    header.messageLength = (uint32_t)texts.message.size();
    header.licenceLength = (uint32_t)texts.licence.size();
    header.removeInstallButton = flags.removeInstallButton;
    header.multiVolume = flags.multiVolume;
    header.useAdvpack = flags.useAdvpack;
    header.cabinetScrambled = flags.scrambleCabinet;
    header.totalSize = totalSize;
    return header;
}

static void AppendText(const std::string &text, bool scrambled, std::vector<uint8_t> &out)
{
    size_t at = out.size();
    out.insert(out.end(), text.begin(), text.end());
    if (scrambled)
        ScrambleText(out.data() + at, (uint32_t)text.size());
}

std::vector<uint8_t> PackagePrefix(const std::vector<uint8_t> &stub,
                                   const std::vector<uint8_t> &cabinetLibrary,
                                   const PackageHeader &header, const PackageTexts &texts)
{
    if (stub.size() > packageOffset || cabinetLibrary.size() > cabinetLibrarySlotSize)
        throw Error("the stub or the cabinet library image does not fit its place");
    std::vector<uint8_t> out(textOffset, 0);
    std::copy(stub.begin(), stub.end(), out.begin());
    std::copy(cabinetLibrary.begin(), cabinetLibrary.end(), out.begin() + packageOffset);
    SerialisePackageHeader(&header, out.data() + headerOffset);
    AppendText(texts.title, false, out);
    AppendText(texts.infName, false, out);
    AppendText(texts.infoText, true, out);
    AppendText(texts.message, true, out);
    AppendText(texts.licence, true, out);
    return out;
}

static std::string ReadText(const ByteSource &source, uint64_t &at, uint32_t length, bool scrambled)
{
    std::string text(length, '\0');
    if (source.ReadAt(at, text.data(), length) != length)
        throw Error("the file ends inside its texts");
    if (scrambled)
        ScrambleText((uint8_t *)text.data(), length);
    at += length;
    return text;
}

// The library slot's bytes up to its last nonzero one (a file that ends early ends in zeros),
// looked at eight bytes at a time: a slot is mostly empty, or holds a library smaller than it.
static uint32_t UsedSlotSize(const ByteSource &source)
{
    uint64_t slot[cabinetLibrarySlotSize / 8];
    const uint8_t *bytes = (const uint8_t *)slot;
    size_t used = source.ReadAt(packageOffset, slot, sizeof slot);
    while (used % 8 != 0 && bytes[used - 1] == 0)
        used--;
    if (used % 8 != 0)
        return (uint32_t)used;
    while (used > 0 && slot[used / 8 - 1] == 0)
        used -= 8;
    while (used > 0 && bytes[used - 1] == 0)
        used--;
    return (uint32_t)used;
}

PackageContents ReadPackage(const ByteSource &source)
{
    PackageContents contents;
    uint8_t bytes[headerSize] = {};
    if (source.ReadAt(headerOffset, bytes, headerSize) != headerSize || !HasPackageMagic(bytes))
        return contents;
    contents.hasMagic = true;
    ParsePackageHeader(bytes, &contents.header);

    contents.cabinetLibrarySize = UsedSlotSize(source);

    const PackageHeader &header = contents.header;
    contents.cabinetOffset = CabinetOffset(&header);
    if (!PackageHeaderConsistent(&header) || contents.cabinetOffset > source.Size())
        return contents;
    uint64_t at = textOffset;
    contents.texts.title = ReadText(source, at, header.titleLength, false);
    contents.texts.infName = ReadText(source, at, header.infNameLength, false);
    contents.texts.infoText = ReadText(source, at, header.infoTextLength, true);
    contents.texts.message = ReadText(source, at, header.messageLength, true);
    contents.texts.licence = ReadText(source, at, header.licenceLength, true);
    contents.textsRead = true;
    return contents;
}

}  // namespace quarvel
