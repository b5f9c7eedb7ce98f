#include "stored_cabinet.h"

#include <algorithm>

std::string StoredCabinet(const std::vector<StoredFile> &files, const std::string &nextCabinet)
{
    constexpr size_t blockSize = 32768;
    std::string cab = "MSCF", data;
    auto put = [&cab](size_t value, int bytes) {  // little-endian
        for (int i = 0; i < bytes; i++)
            cab += (char)(uint8_t)(value >> 8 * i);
    };
    for (const StoredFile &file : files)
        data += file.data;
    size_t blocks = (data.size() + blockSize - 1) / blockSize;
    // The next cabinet's name and disk, behind the fixed header.
    std::string strings = nextCabinet.empty() ? "" : nextCabinet + '\0' + "disk 2" + '\0';
    size_t filesOffset = 36 + strings.size() + 8, dataOffset = filesOffset;
    for (const StoredFile &file : files)
        dataOffset += 16 + file.name.size() + 1;

    put(0, 4);
    put(dataOffset + blocks * 8 + data.size(), 4);  // cbCabinet
    put(0, 4);
    put(filesOffset, 4);  // coffFiles
    put(0, 4);
    put(0x0103, 2);  // version 1.3
    put(1, 2);       // cFolders
    put(files.size(), 2);
    put(nextCabinet.empty() ? 0 : 0x0002, 2);  // flags: cfhdrNEXT_CABINET
    put(0x1234, 2);                            // setID
    put(0, 2);                                 // iCabinet
    cab += strings;
    put(dataOffset, 4);  // CFFOLDER: coffCabStart
    put(blocks, 2);
    put(0, 2);  // tcompTYPE_NONE
    size_t folderOffset = 0;
    for (const StoredFile &file : files) {
        put(file.data.size(), 4);
        put(folderOffset, 4);
        put(0, 2);  // iFolder
        put(file.date, 2);
        put(file.time, 2);
        put(file.attributes, 2);
        cab += file.name + '\0';
        folderOffset += file.data.size();
    }
    for (size_t at = 0; at < data.size(); at += blockSize) {
        size_t count = std::min(blockSize, data.size() - at);
        put(0, 4);  // no checksum
        put(count, 2);
        put(count, 2);
        cab += data.substr(at, count);
    }
    return cab;
}
