// Which stored file names the installer may create in its work directory. Portable: the stub
// refuses the others when it extracts, the packaging tool before it packs.
#pragma once

#include <stddef.h>

// True when Windows reads this one path component as a device rather than a file: CON, PRN,
// AUX, NUL, COM1-COM9 and LPT1-LPT9 (and the superscript digits ¹ ² ³ of code page 1252), in
// any letter case, with any extension and with spaces before the extension or at the end.
// Creating "NUL.txt" or "COM1 " opens the device.
bool IsDeviceName(const char *component, size_t length);

// True when the work directory followed by name is a file inside the work directory: the name
// is relative, names no drive or stream (no colon), and no component is a device name or one
// that the platform reads as a parent directory (two or more dots, possibly with spaces, since
// trailing dots and spaces are dropped). Both separators count.
bool IsContainedName(const char *name);
