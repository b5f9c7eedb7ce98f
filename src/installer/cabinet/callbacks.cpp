// The memory and file callbacks through which the cabinet library works. Handles opened on
// the package file are cabinet handles: their positions count from the cabinet's first byte,
// so the cabinet inside the package looks like a file of its own.
#include "cabinet.h"

#include "driver.h"
#include "scramble.h"

// The library never holds more than two cabinet handles at once; five leave room.
constexpr DWORD cabinetHandleSlots = 5;
constexpr INT_PTR freeSlot = -1;  // INVALID_HANDLE_VALUE

static INT_PTR cabinetHandles[cabinetHandleSlots] = {freeSlot, freeSlot, freeSlot, freeSlot,
                                                     freeSlot};

void ResetCabinetHandles(void)
{
    for (DWORD i = 0; i < cabinetHandleSlots; i++)
        cabinetHandles[i] = freeSlot;
}

void AddCabinetHandle(INT_PTR handle)
{
    if (IsCabinetHandle(handle))
        return;
    for (DWORD i = 0; i < cabinetHandleSlots; i++)
        if (cabinetHandles[i] == freeSlot) {
            cabinetHandles[i] = handle;
            return;
        }
}

bool IsCabinetHandle(INT_PTR handle)
{
    for (DWORD i = 0; i < cabinetHandleSlots; i++)
        if (cabinetHandles[i] == handle)
            return true;
    return false;
}

void RemoveCabinetHandle(INT_PTR handle)
{
    for (DWORD i = 0; i < cabinetHandleSlots; i++)
        if (cabinetHandles[i] == handle) {
            cabinetHandles[i] = freeSlot;
            return;
        }
}

void *DIAMONDAPI CabinetAlloc(ULONG size)
{
    return GlobalAlloc(GMEM_FIXED, size);
}

void DIAMONDAPI CabinetFree(void *block)
{
    GlobalFree(block);
}

// The C runtime's open flags, as the library passes them.
constexpr int openWriteOnly = 0x0001;
constexpr int openReadWrite = 0x0002;
constexpr int openRandom = 0x0010;
constexpr int openSequential = 0x0020;
constexpr int openTemporary = 0x0040;
constexpr int openCreate = 0x0100;
constexpr int openTruncate = 0x0200;

INT_PTR DIAMONDAPI CabinetOpen(char *name, int flags, int)
{
    DWORD access = GENERIC_READ;
    if (flags & openWriteOnly)
        access = GENERIC_WRITE;
    else if (flags & openReadWrite)
        access = GENERIC_READ | GENERIC_WRITE;

    DWORD creation = OPEN_EXISTING;
    if (flags & openCreate)
        creation = CREATE_ALWAYS;
    else if (flags & openTruncate)
        creation = TRUNCATE_EXISTING;

    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (flags & openRandom)
        attributes |= FILE_FLAG_RANDOM_ACCESS;
    if (flags & openSequential)
        attributes |= FILE_FLAG_SEQUENTIAL_SCAN;
    if (flags & openTemporary)
        attributes |= FILE_ATTRIBUTE_TEMPORARY;

    HANDLE file = CreateFileA(name, access, FILE_SHARE_READ, 0, creation, attributes, 0);
    if (file != INVALID_HANDLE_VALUE && TextsEqual(name, state.packagePath)) {
        AddCabinetHandle((INT_PTR)file);
        SetFilePointer(file, (LONG)state.cabinetOffset, 0, FILE_BEGIN);
    }
    return (INT_PTR)file;
}

// Four bytes at a time: the whole cabinet passes through here.
typedef DWORD __attribute__((may_alias, aligned(1))) UnalignedDword;

static void Unscramble(BYTE *bytes, DWORD count, BYTE key)
{
    DWORD keys = key * 0x01010101u;
    for (; count >= 4; count -= 4, bytes += 4)
        *(UnalignedDword *)bytes ^= keys;
    for (; count > 0; count--)
        *bytes++ ^= key;
}

UINT DIAMONDAPI CabinetRead(INT_PTR handle, void *buffer, UINT count)
{
    DWORD read = 0;
    ReadFile((HANDLE)handle, buffer, count, &read, 0);
    if (state.cabinetScrambled)
        Unscramble((BYTE *)buffer, read, CabinetKey(state.totalSize));
    return read;
}

UINT DIAMONDAPI CabinetWrite(INT_PTR handle, void *buffer, UINT count)
{
    DWORD written = 0;
    WriteFile((HANDLE)handle, buffer, count, &written, 0);
    return written;
}

int DIAMONDAPI CabinetClose(INT_PTR handle)
{
    RemoveCabinetHandle(handle);
    CloseHandle((HANDLE)handle);
    return 0;
}

LONG DIAMONDAPI CabinetSeek(INT_PTR handle, LONG distance, int origin)
{
    bool cabinet = IsCabinetHandle(handle);
    if (cabinet && origin == FILE_BEGIN)
        distance = (LONG)((DWORD)distance + state.cabinetOffset);  // past 2 GiB: refused below
    DWORD position = SetFilePointer((HANDLE)handle, distance, 0, (DWORD)origin);
    if (position == INVALID_SET_FILE_POINTER)
        return -1;
    if (cabinet) {
        // A cabinet handle ends up before the cabinet only through a seek that a file of its
        // own would have refused.
        if (position < state.cabinetOffset)
            return -1;
        position -= state.cabinetOffset;
    }
    return (LONG)position;
}
