#include "stored_cabinet.h"

#include <algorithm>

static void Put16(std::string &bytes, uint16_t value)
{
    bytes += (char)(uint8_t)value;
    bytes += (char)(uint8_t)(value >> 8);
}

static void Put32(std::string &bytes, uint32_t value)
{
    Put16(bytes, (uint16_t)value);
    Put16(bytes, (uint16_t)(value >> 16));
}

static void PutName(std::string &bytes, const std::string &name)
{
    bytes += name;
    bytes += '\0';
}

std::string StoredCabinet(const std::vector<StoredFile> &files, const std::string &nextCabinet)
{
    constexpr size_t blockSize = 32768;
    std::string data;
    for (const StoredFile &file : files)
        data += file.data;
    size_t blocks = (data.size() + blockSize - 1) / blockSize;

    std::string strings;  // the next cabinet's name and disk, behind the fixed header
    if (!nextCabinet.empty()) {
        PutName(strings, nextCabinet);
        PutName(strings, "disk 2");
    }
    size_t filesOffset = 36 + strings.size() + 8;
    size_t dataOffset = filesOffset;
    for (const StoredFile &file : files)
        dataOffset += 16 + file.name.size() + 1;
    size_t total = dataOffset + blocks * 8 + data.size();

    std::string cab = "MSCF";
    Put32(cab, 0);
    Put32(cab, (uint32_t)total);  // cbCabinet
    Put32(cab, 0);
    Put32(cab, (uint32_t)filesOffset);  // coffFiles
    Put32(cab, 0);
    cab += '\3';  // version 1.3
    cab += '\1';
    Put16(cab, 1);  // cFolders
    Put16(cab, (uint16_t)files.size());
    Put16(cab, nextCabinet.empty() ? 0 : 0x0002);  // flags: cfhdrNEXT_CABINET
    Put16(cab, 0x1234);  // setID
    Put16(cab, 0);       // iCabinet
    cab += strings;
    Put32(cab, (uint32_t)dataOffset);  // CFFOLDER: coffCabStart
    Put16(cab, (uint16_t)blocks);
    Put16(cab, 0);  // tcompTYPE_NONE
    uint32_t folderOffset = 0;
    for (const StoredFile &file : files) {
        Put32(cab, (uint32_t)file.data.size());
        Put32(cab, folderOffset);
        Put16(cab, 0);  // iFolder
        Put16(cab, file.date);
        Put16(cab, file.time);
        Put16(cab, file.attributes);
        PutName(cab, file.name);
        folderOffset += (uint32_t)file.data.size();
    }
    for (size_t at = 0; at < data.size(); at += blockSize) {
        size_t count = std::min(blockSize, data.size() - at);
        Put32(cab, 0);  // no checksum
        Put16(cab, (uint16_t)count);
        Put16(cab, (uint16_t)count);
        cab += data.substr(at, count);
    }
    return cab;
}
