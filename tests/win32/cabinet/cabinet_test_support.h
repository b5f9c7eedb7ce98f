// What the cabinet tests share: the shared test data's cabinets, a reader of a cabinet's file
// table, package files that hold a cabinet, and a run of ExtractCabinet under a time-out with
// its message boxes answered.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

// ScratchDirectory under a name of this program's own: the cabinet tests run as two programs at
// once.
std::string CabinetScratchDirectory(const std::string &name);

// Bytes of ../shared/testdata/cabs/RELATIVE.
std::string SharedCabinet(const std::string &relative);

struct CabinetFile {
    std::string name;
    uint32_t size;
    uint16_t date, time, attribs;
    size_t recordOffset;  // of the file's CFFILE record in the cabinet
};
// The file table as the cabinet's header places it.
std::vector<CabinetFile> ListCabinetFiles(const std::string &cabinet);
// Gives a stored file another name of the same length, or other attributes.
void RenameStoredFile(std::string &cabinet, const std::string &from, const std::string &to);
void SetStoredAttributes(std::string &cabinet, size_t fileIndex, uint16_t attribs);

// The members that EXPECTED_MD5.tsv lists for RELATIVE, in its order.
struct ExpectedMember {
    std::string name;  // as cabextract prints it: '/' for '\', other bytes for non-UTF-8 ones
    std::string md5;
};
std::vector<ExpectedMember> ExpectedMembers(const std::string &relative);
std::string Md5Hex(const std::string &bytes);

// A package-like file at PATH: OFFSET bytes of other data (a decoy cabinet first, which a
// position that missed the offset would find), then the cabinet, XORed with the key of the
// file's total size when SCRAMBLED. Points packagePath, cabinetOffset, cabinetScrambled and
// totalSize at it. A scrambled package gets a few more bytes in front when its key would be 0.
void WritePackage(const std::string &path, const std::string &cabinet, uint32_t offset,
                  bool scrambled);

struct ExtractionRun {
    bool finished = false;  // false: ExtractCabinet was still running at the time-out
    bool succeeded = false;
    std::vector<std::string> recorded;  // extractedFiles up to extractedFileCount
    std::vector<std::string> progress;  // the names handed to the progress procedure
    size_t progressOnExistingFiles = 0; // of which the file already existed at the call
    std::vector<ShownBox> boxes;
    std::string statusText;             // control 3002, which reads "before" until changed
};
// ExtractCabinet on a thread of its own, with a dialog of its own and OK for every box.
ExtractionRun RunExtraction(bool withProgress = true, DWORD timeoutMs = 120000);
