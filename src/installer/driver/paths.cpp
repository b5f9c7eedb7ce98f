#include "driver.h"

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/' || c == ':';
}

void ToBackslashes(char *path)
{
    for (; *path; path++)
        if (*path == '/')
            *path = '\\';
}

bool PathExists(char *path)
{
    DWORD length = TextLength(path);
    WIN32_FIND_DATAA found;
    HANDLE search;
    if (length > 0 && path[length - 1] == '\\') {
        // A directory "exists" when it has an entry: search its contents.
        char pattern[255];
        if (!CopyText(pattern, sizeof pattern, path) ||
            !AppendText(pattern, sizeof pattern, "*.*"))
            return false;  // too long for any directory we could have made
        ToBackslashes(pattern);
        search = FindFirstFileA(pattern, &found);
    } else {
        ToBackslashes(path);
        search = FindFirstFileA(path, &found);
    }
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

void MakeDirectoryPath(const char *path)
{
    char directory[pathBufferSize];
    if (!CopyText(directory, sizeof directory, path))
        FatalStop("Impossible de cr\xE9" "er le r\xE9pertoire", path, ERROR_FILENAME_EXCED_RANGE);
    DWORD length = TextLength(directory);
    if (length > 0 && directory[length - 1] == '\\')
        directory[--length] = 0;
    if (length < 3 || PathExists(directory))
        return;
    char parent[pathBufferSize];
    ParentDirectory(directory, parent);
    // A parent that is not shorter (C:\x\y: is its own parent) would recurse for ever;
    // creating the directory itself then fails with the platform's own reason.
    if (TextLength(parent) < length)
        MakeDirectoryPath(parent);
    if (!CreateDirectoryA(directory, 0))
        FatalStop("Impossible de cr\xE9" "er le r\xE9pertoire", directory, GetLastError());
}

void DeleteExtractedFile(const char *path)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);  // DeleteFileA refuses a read-only file
    DeleteFileA(path);
}

void ParentDirectory(const char *path, char *parent)
{
    DWORD length = TextLength(path);
    if (length == 3 && (path[0] == ':' || path[1] == ':' || path[2] == ':')) {
        CopyText(parent, pathBufferSize, path);
        return;
    }
    DWORD keep = 0;  // position of the last separator, counted from 1
    for (DWORD i = 0; i < length; i++)
        if (IsSeparator(path[i]))
            keep = i + 1;
    if (keep > 0 && path[keep - 1] != ':' && !(keep == 3 && path[1] == ':'))
        keep--;  // drop the separator, except the backslash of a drive root
    if (keep >= pathBufferSize)
        keep = pathBufferSize - 1;
    for (DWORD i = 0; i < keep; i++)
        parent[i] = path[i];
    parent[keep] = 0;
}

void FileNamePart(const char *path, char *name)
{
    const char *start = path;
    for (const char *p = path; *p; p++)
        if (IsSeparator(*p))
            start = p + 1;
    CopyText(name, 256, start);
}
