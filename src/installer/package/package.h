// Package intake: the header and the text blocks, read from the open package file.
#pragma once

#include <windows.h>

enum PackageReadResult {
    noPackage,     // the file is too short for a header, or carries another magic
    headerRead,
    textsRead,
    sizeMismatch,  // the file's size or the header's values do not describe a whole package
};

// Reads the header at its fixed offset into the state's header fields and hasTitle.
PackageReadResult ReadPackageHeader(HANDLE file);

// After a successful header read, with the position just behind the header: reads title,
// INF name and the three texts (unscrambled), tests the size and sets cabinetOffset.
PackageReadResult ReadPackageTexts(HANDLE file);

// After the header read: how many bytes of the open file belong to the package, without the
// certificate table of a signed installer file. Leaves the position at the file's start.
DWORD PackageBytesInFile(HANDLE file);
