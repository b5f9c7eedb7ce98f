#include "package_builder.h"

#include "scramble.h"
#include "signature.h"

static std::string Scrambled(std::string text)
{
    ScrambleText((uint8_t *)&text[0], (uint32_t)text.size());
    return text;
}

PackageHeader WithLengths(PackageHeader header, const PackageTexts &texts,
                          const std::string &cabinet)
{
    header.titleLength = (uint8_t)texts.title.size();
    header.infNameLength = (uint8_t)texts.infName.size();
    header.infoTextLength = (uint8_t)texts.info.size();
    header.messageLength = (uint32_t)texts.message.size();
    header.licenceLength = (uint32_t)texts.licence.size();
    header.totalSize = (uint32_t)(textOffset + texts.title.size() + texts.infName.size() +
                                  texts.info.size() + texts.message.size() +
                                  texts.licence.size() + cabinet.size());
    return header;
}

std::string PackageFile(const PackageHeader &header, const PackageTexts &texts,
                        const std::string &cabinet, std::string front)
{
    front.resize(headerOffset, '\0');
    uint8_t headerBytes[headerSize];
    SerialisePackageHeader(&header, headerBytes);
    return front + std::string((const char *)headerBytes, headerSize) + texts.title +
           texts.infName + Scrambled(texts.info) + Scrambled(texts.message) +
           Scrambled(texts.licence) + cabinet;
}

std::string PackageAround(std::string cabinet, const std::string &infName, bool scrambled)
{
    PackageHeader header{};
    header.cabinetScrambled = scrambled;
    PackageTexts texts{"", infName, "", "", ""};
    header = WithLengths(header, texts, cabinet);
    uint8_t key = scrambled ? (uint8_t)(header.totalSize % 73) : 0;  // not CabinetKey: its own test
    for (char &c : cabinet)
        c = (char)(c ^ key);
    return PackageFile(header, texts, cabinet, "MZ");
}

void Put32(std::string &bytes, uint32_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + i] = (char)(uint8_t)(value >> 8 * i);
}

std::string SignedProgramFront(uint32_t tableOffset, uint32_t tableSize)
{
    std::string bytes(peHeadersReadSize, '\0');
    bytes.replace(0, 2, "MZ");
    bytes.replace(peHeaderAt, 2, "PE");
    Put32(bytes, 0x3C, peHeaderAt);
    Put32(bytes, peHeaderAt + 4 + 16, 0xE0);    // SizeOfOptionalHeader: 16 directories
    Put32(bytes, peOptionalHeaderAt, 0x10B);    // PE32
    Put32(bytes, peOptionalHeaderAt + 92, 16);  // NumberOfRvaAndSizes
    Put32(bytes, peSecurityDirectoryAt, tableOffset);
    Put32(bytes, peSecurityDirectoryAt + 4, tableSize);
    return bytes;
}
