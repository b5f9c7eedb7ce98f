// Authenticode signatures: a signing tool appends a certificate table to a PE file and names it
// in the security directory of the PE header. An installer may be signed after packing; these
// rules tell that table from damage. Portable: used by the installer and the packaging tool.
#pragma once

#include <stdint.h>

#include "layout.h"

// The file's first bytes that hold every PE header field read here. Our installer program's
// headers end far below; signing changes the security directory only, never moves headers.
constexpr uint32_t peHeadersReadSize = 512;

// The table starts on this boundary; the signing tool fills the gap before it with zero bytes.
constexpr uint32_t certificateTableAlignment = 8;

// Where the security directory puts the certificate table: a file offset and a length.
struct CertificateTable {
    uint32_t offset;
    uint32_t size;
};

// Reads the security directory of a 32-bit PE file from its first `length` bytes. False when
// they hold no such header, or the directory is empty (the file is not signed).
bool FindCertificateTable(const uint8_t *fileStart, uint32_t length, CertificateTable *table);

// True when the table is a well-placed trailer: it starts on its boundary and ends exactly at
// the end of a file of fileSize bytes.
bool CertificateTableEndsFile(const CertificateTable *table, uint32_t fileSize);

// Where the table must start behind `contentSize` bytes: the next boundary.
constexpr uint32_t CertificateTableOffsetAfter(uint32_t contentSize)
{
    return (contentSize + certificateTableAlignment - 1) & ~(certificateTableAlignment - 1);
}

// True when a file of fileSize bytes is exactly `contentSize` bytes, the zero padding up to the
// next boundary and the table. `padding` holds the file's bytes from contentSize up to the
// table's offset (at most 7); only its first table->offset - contentSize bytes are looked at.
bool SignatureTrailsContent(const CertificateTable *table, uint32_t contentSize,
                            uint32_t fileSize, const uint8_t *padding);

// The bytes of a file of fileSize bytes that belong to its package: all of them, or those in
// front of a certificate table that trails them. A whole package (multiVolume off) must be
// totalSize bytes, zero padding and the table; `atTotalSize` holds the file's 7 bytes from
// totalSize on (zeros past its end). The first volume of several must be cut on the boundary,
// behind the texts, and followed by the table directly. Anything else is left as it is, to
// fail the size test. `table` receives the trailer's place; its size is 0 when there is none.
uint32_t UnsignedPackageBytes(const PackageHeader *header, uint32_t fileSize,
                              const uint8_t *fileStart, uint32_t startLength,
                              const uint8_t *atTotalSize, CertificateTable *table);
