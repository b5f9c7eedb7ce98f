/* Greets the name in data\name.txt beside the program, through greeting.dll. Run with /quiet it
   shows nothing and answers through its exit code: 0 when both were found. */
#include <windows.h>

#include <string.h>

#include "greeting.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    char path[MAX_PATH], name[64] = "", text[128];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    HANDLE file;
    DWORD read = 0;
    (void)instance, (void)previous, (void)show;
    while (length > 0 && path[length - 1] != '\\')
        length--;
    lstrcpynA(path + length, "data\\name.txt", MAX_PATH - (int)length);
    file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    ReadFile(file, name, sizeof name - 1, &read, NULL);
    CloseHandle(file);
    name[strcspn(name, "\r\n")] = 0;
    Greeting(name, text, sizeof text);
    if (strstr(commandLine, "/quiet") == NULL)
        MessageBoxA(NULL, text, "Greeter", MB_OK | MB_ICONINFORMATION);
    return 0;
}
