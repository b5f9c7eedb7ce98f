#include "package_builder.h"

#include "scramble.h"

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
