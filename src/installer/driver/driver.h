// The installer driver: the one state record, the message catalogue, the path helpers, the
// exit actions and fatal stops, and the small text helpers the whole stub shares.
#pragma once

#include <windows.h>

#include "layout.h"
#include "texts.h"
#include "volume_names.h"

// ---- The program ------------------------------------------------------------------------

// The whole run: preparation, the main dialog, the shutdown clean-up; ends the process.
[[noreturn]] void RunProgram(void);
// True when the package is read, the work directory made, the volumes joined, the cabinet
// library bound and state.packageHandle open for reading; it has reported any failure.
bool PrepareInstallation(void);
// Joins the volumes of a multi-volume package into the work directory's Quarvel.pkg, the
// first volume being the running program; sets packagePath and failed.
void AssembleVolumes(void);
// The same with the first volume named; the continuations replace its last three characters.
void JoinVolumes(const char *firstVolume);

// ---- The state record -------------------------------------------------------------------

constexpr DWORD pathBufferSize = 261;        // title, infName, workDirectory, packagePath
constexpr DWORD systemDirectorySize = 128;
// Every current directory Windows allows (MAX_PATH with its NUL) fits.
constexpr DWORD currentDirectorySize = pathBufferSize;
constexpr DWORD copyBufferSize = 41000;
// A recorded file is the work directory plus a stored name; longer paths are refused.
constexpr DWORD extractedPathSize = MAX_PATH;

struct InstallerState {
    BYTE installStarted;
    BYTE hasTitle;
    BYTE extractionSucceeded;
    BYTE failed;
    BYTE cabinetLibraryLoaded;

    // Copies of the header.
    BYTE showCompletion;
    BYTE requireAdmin;
    BYTE removeInstallButton;
    BYTE multiVolume;
    BYTE useAdvpack;
    BYTE cabinetScrambled;
    BYTE infoTextLength;
    DWORD messageLength;
    DWORD licenceLength;
    DWORD totalSize;
    DWORD cabinetOffset;

    BYTE volumeCount;
    BYTE extractedFileCount;
    char extractedFiles[maxRecordedFiles][extractedPathSize];

    char *title;          // pathBufferSize bytes, allocated at start-up
    char *infName;        // pathBufferSize bytes
    char *workDirectory;  // pathBufferSize bytes, ends with a backslash
    char *infoText;       // plain after intake, NUL-terminated
    const char *messageText;
    const char *licenceText;
    char builtinInfoText[builtinInfoTextLength + 1];
    char packagePath[pathBufferSize];
    char systemDirectory[systemDirectorySize];
    char currentDirectory[currentDirectorySize];
    char volumeName[pathBufferSize];

    HANDLE packageHandle;
    HANDLE auxHandle;
    BYTE *copyBuffer;  // exists only while a copy runs
    HWND mainWindow;
};

// Zero-filled at start: every flag off, every count 0, every text empty, no handles.
extern InstallerState state;

// Allocates title, infName and workDirectory (zero-filled); ReleaseBuffers frees them.
void AllocateBuffers(void);
void ReleaseBuffers(void);

// ---- Exit actions, memory and fatal stops -------------------------------------------------

typedef void (*ExitAction)(void);

// Exit actions run newest first when the program ends through EndProgram.
void RegisterExitAction(ExitAction action);
[[noreturn]] void EndProgram(UINT exitCode);

// Reports what failed (French, naming the object) and ends the program with the error code.
[[noreturn]] void FatalStop(const char *what, const char *object, DWORD errorCode);

// Zero-filled heap block; a failed allocation is a fatal stop.
void *AllocateOrStop(DWORD size);
void FreeBlock(void *block);

// ---- Text helpers ------------------------------------------------------------------------

DWORD TextLength(const char *text);
// Copies as much of text as fits with its NUL; false when it had to be cut.
bool CopyText(char *buffer, DWORD capacity, const char *text);
// Appends as much of text as fits with its NUL; false when it had to be cut.
bool AppendText(char *buffer, DWORD capacity, const char *text);
// Byte-for-byte equality, letter case included.
bool TextsEqual(const char *a, const char *b);
// Decimal digits of value, no sign or padding; buffer holds at least 11 bytes.
void DecimalText(DWORD value, char *buffer);
void FillBytes(void *buffer, BYTE value, DWORD count);

// ---- Path helpers ------------------------------------------------------------------------

// A path ending in a backslash exists when the directory has an entry; any other path exists
// when a file or directory of that name exists. Turns the caller's slashes into backslashes
// unless the path ends with a backslash.
bool PathExists(char *path);
void ToBackslashes(char *path);
// Creates the directory and every missing parent, top down; a failure is a fatal stop.
void MakeDirectoryPath(const char *path);
// Deletes an extracted file, which may have been stored read-only, hidden or system.
void DeleteExtractedFile(const char *path);
// parent and name hold pathBufferSize bytes.
void ParentDirectory(const char *path, char *parent);
void FileNamePart(const char *path, char *name);

// ---- Message catalogue -------------------------------------------------------------------

struct PreparationMessages {   // group 1: preparation and launcher
    const char *cannotOpenFile;       // 0
    const char *error;                // 1
    const char *cannotStartInstall;   // 2
    const char *corruptFile;          // 3
    const char *administratorOnly;    // 4
    const char *insertDisk;           // 5
    const char *archiveNotCreated;    // 6
    const char *cabinetNotLoaded;     // 7
};

struct DialogMessages {        // group 2: dialogs, extraction and shutdown
    const char *updatingSystem;       // 0
    const char *pleaseWait;           // 1
    const char *installationComplete; // 2
    const char *deleting;             // 3
    const char *cannotOpenFile;       // 4
    const char *extractionErrorCaption; // 5
    const char *licenceCaption;       // 6
    const char *licencePrompt;        // 7
    const char *accept;               // 8
    const char *cancel;               // 9
    const char *install;              // 10
    const char *quit;                 // 11
    const char *ok;                   // 12
    const char *extractionError;      // 13
    const char *unknownCompression;   // 14
    const char *info;                 // 15
    const char *extracting;           // 16
    const char *cannotCloseFile;      // 17
    const char *closeErrorCaption;    // 18
};

struct MessageCatalogue {
    PreparationMessages preparation;
    DialogMessages dialog;
};

extern const MessageCatalogue messages;
