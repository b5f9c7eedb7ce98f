// The extraction driver: runs the library over the cabinet inside the package file, writes
// every file flat into the work directory, dates it and records it for deletion.
#include "cabinet.h"
#include "cabinet_file.h"

#include "controls.h"
#include "driver.h"
#include "names.h"

typedef HFDI(DIAMONDAPI *FdiCreateProc)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                        PFNSEEK, int, PERF);
typedef BOOL(DIAMONDAPI *FdiIsCabinetProc)(HFDI, INT_PTR, PFDICABINETINFO);
typedef BOOL(DIAMONDAPI *FdiCopyProc)(HFDI, char *, char *, int, PFNFDINOTIFY, PFNFDIDECRYPT,
                                      void *);
typedef BOOL(DIAMONDAPI *FdiDestroyProc)(HFDI);

// GetProcAddress hands out one generic type; the detour through void (*)(void) says the cast
// to the real signature is meant.
template <typename Proc> static Proc EntryPoint(CabinetEntryPoint which)
{
    return (Proc)(void (*)(void))cabinetLibrary.entryPoints[which];
}

static ProgressCallback progressCallback;

// The runtime's open flags: the cabinet test reads untranslated and sequentially; each
// extracted file is created untranslated, sequential and write only.
constexpr int probeOpenFlags = 0x8020;
constexpr int outputOpenFlags = 0x8121;

// The library's own error texts, by erfOper; compression type (6) is the catalogue's.
static const char *const copyErrorTexts[] = {
    "unknown problem",      // 0: none given
    "Cab not found",        // 1
    "Not a Cabinet",        // 2
    "Unknown Cab version",  // 3
    "Corrupt Cabinet",      // 4
    "Alloc failure",        // 5
    0,                      // 6: unknown compression type
    "MDI failure",          // 7
    "Error writing target", // 8
    "Reserve mismatch",     // 9
    "wrong cab",            // 10
    "user abort",           // 11
};
constexpr int copyErrorCodeCount = sizeof copyErrorTexts / sizeof copyErrorTexts[0];

static const char *CopyErrorText(int code)
{
    if (code == FDIERROR_BAD_COMPR_TYPE)
        return messages.dialog.unknownCompression;
    if (code < 0 || code >= copyErrorCodeCount)
        code = FDIERROR_NONE;  // a code the interface does not define
    return copyErrorTexts[code];
}

void WithTrailingBackslash(char *path)
{
    DWORD length = TextLength(path);
    if (length > 0 && path[length - 1] != '\\')
        AppendText(path, pathBufferSize, "\\");
}

void ExtractCabinet(HWND dialog, ProgressCallback progress)
{
    ResetCabinetHandles();
    state.extractedFileCount = 0;
    progressCallback = progress;

    ERF error;
    FillBytes(&error, 0, sizeof error);
    const char *failure = 0;  // the message box text; none on success
    HFDI context = EntryPoint<FdiCreateProc>(fdiCreate)(
        CabinetAlloc, CabinetFree, CabinetOpen, CabinetRead, CabinetWrite, CabinetClose,
        CabinetSeek, cpu80386, &error);
    if (!context) {
        failure = messages.dialog.extractionError;
    } else {
        INT_PTR cabinetProbeHandle = CabinetOpen(state.packagePath, probeOpenFlags, 0);
        if (cabinetProbeHandle == -1) {
            failure = messages.dialog.cannotOpenFile;
        } else {
            FDICABINETINFO information;
            BOOL isCabinet = EntryPoint<FdiIsCabinetProc>(fdiIsCabinet)(
                context, cabinetProbeHandle, &information);
            CabinetClose(cabinetProbeHandle);
            if (!isCabinet) {
                failure = messages.dialog.unknownCompression;
            } else {
                char cabinetPath[pathBufferSize], cabinetName[pathBufferSize];
                ParentDirectory(state.packagePath, cabinetPath);
                WithTrailingBackslash(cabinetPath);
                FileNamePart(state.packagePath, cabinetName);
                if (!EntryPoint<FdiCopyProc>(fdiCopy)(context, cabinetName, cabinetPath, 0,
                                                      CabinetNotify, 0, 0))
                    failure = CopyErrorText(error.erfOper);
            }
        }
        EntryPoint<FdiDestroyProc>(fdiDestroy)(context);
    }

    state.extractionSucceeded = failure == 0;
    if (failure) {
        MessageBoxA(0, failure, messages.dialog.extractionErrorCaption, MB_ICONHAND);
        SendMessageA(GetDlgItem(dialog, IDC_STATUS), WM_SETTEXT, 0,
                     (LPARAM)messages.dialog.extractionError);
    }
}

// The work directory followed by the stored name; false when the name would leave the work
// directory or the path would not fit a recorded entry.
static bool TargetPath(const char *name, char *target)
{
    return IsContainedName(name) && CopyText(target, extractedPathSize, state.workDirectory) &&
           AppendText(target, extractedPathSize, name);
}

// What an extracted file keeps of its stored attributes.
constexpr USHORT keptAttributes = cabinetAttributeReadOnly | cabinetAttributeHidden |
                                  cabinetAttributeSystem | cabinetAttributeArchive;

INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification)
{
    char target[extractedPathSize];
    switch (type) {
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
        return -1;  // the cabinet belongs to a set: the copy stops

    case fdintCOPY_FILE:
        if (progressCallback)
            progressCallback(notification->psz1);
        if (!TargetPath(notification->psz1, target))
            return -1;
        // A file left by an earlier run may be read-only, hidden or system: creating over it
        // would be refused.
        SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
        return CabinetOpen(target, outputOpenFlags, 0);

    case fdintCLOSE_FILE_INFO: {
        CloseHandle((HANDLE)notification->hf);
        if (!TargetPath(notification->psz1, target))
            return 1;  // not reached: the name was accepted when the file started
        HANDLE file = CreateFileA(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
        if (file != INVALID_HANDLE_VALUE) {
            FILETIME local, utc;
            // An invalid DOS date or time leaves the platform's times.
            if (DosDateTimeToFileTime(notification->date, notification->time, &local) &&
                LocalFileTimeToFileTime(&local, &utc))
                SetFileTime(file, &utc, 0, &utc);
            CloseHandle(file);
            if (state.extractedFileCount < maxRecordedFiles)
                CopyText(state.extractedFiles[state.extractedFileCount++], extractedPathSize,
                         target);
        }
        SetFileAttributesA(target, notification->attribs & keptAttributes);
        return 1;
    }

    default:
        return 0;
    }
}
