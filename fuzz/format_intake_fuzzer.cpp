// Fuzzes the format module's intake of a package: a header followed by text blocks, as the
// installer reads them. Invariants: a header judged consistent describes blocks that lie within
// totalSize without 32-bit wrap-around, and unscrambling is undone by scrambling again. The
// same bytes as the start of a signed file: a certificate table is taken off only when it ends
// the file, and never more than the file.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "layout.h"
#include "scramble.h"
#include "signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < headerSize + certificateTableAlignment)
        return 0;
    PackageHeader header;
    ParsePackageHeader(data, &header);

    // The file's size is the input's last four bytes; the padding, the bytes behind the header.
    uint32_t fileSize;
    memcpy(&fileSize, data + size - 4, 4);
    CertificateTable table;
    uint32_t packageBytes = UnsignedPackageBytes(&header, fileSize, data, (uint32_t)size,
                                                 data + headerSize, &table);
    if (packageBytes > fileSize ||
        (table.size > 0 && ((uint64_t)table.offset + table.size != fileSize ||
                            packageBytes > table.offset)))
        abort();

    if (!HasPackageMagic(data))
        return 0;

    uint8_t again[headerSize];
    SerialisePackageHeader(&header, again);
    if (memcmp(again, data, headerSize) != 0)
        abort();  // parse and serialise disagree

    if (!PackageHeaderConsistent(&header))
        return 0;
    uint64_t end = (uint64_t)textOffset + header.titleLength + header.infNameLength +
                   header.infoTextLength + header.messageLength + header.licenceLength;
    if (end != CabinetOffset(&header) || end > header.totalSize || header.totalSize > 0x7FFFFFFF)
        abort();

    // The texts as far as the input holds them, read one after another.
    const uint8_t *texts = data + headerSize;
    size_t available = size - headerSize;
    size_t position = (size_t)header.titleLength + header.infNameLength;
    const uint32_t lengths[3] = {header.infoTextLength, header.messageLength,
                                 header.licenceLength};
    for (uint32_t length : lengths) {
        size_t start = position < available ? position : available;
        size_t count = length < available - start ? length : available - start;
        std::vector<uint8_t> text(texts + start, texts + start + count);
        ScrambleText(text.data(), (uint32_t)text.size());
        if (!text.empty() && text[0] != texts[start])
            abort();  // byte 0 stays plain
        ScrambleText(text.data(), (uint32_t)text.size());
        if (!std::equal(text.begin(), text.end(), texts + start))
            abort();
        position += length;
    }
    (void)CabinetKey(header.totalSize);
    return 0;
}
