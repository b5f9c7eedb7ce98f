// The program's own exit-action list: the stub has no C runtime to keep one.
#include "driver.h"

static ExitAction exitActions[8];
static DWORD exitActionCount;

void RegisterExitAction(ExitAction action)
{
    if (exitActionCount < sizeof exitActions / sizeof exitActions[0])
        exitActions[exitActionCount++] = action;
}

void EndProgram(UINT exitCode)
{
    while (exitActionCount > 0) {
        // Taken off before it runs, so an action that ends the program again cannot loop.
        ExitAction action = exitActions[--exitActionCount];
        action();
    }
    ExitProcess(exitCode);
}

void FatalStop(const char *what, const char *object, DWORD errorCode)
{
    char report[2 * pathBufferSize + 64];
    char code[12];
    CopyText(report, sizeof report, what);
    AppendText(report, sizeof report, "\r\n");
    AppendText(report, sizeof report, object);
    AppendText(report, sizeof report, "\r\n\r\nCode d'erreur syst\xE8me : ");
    DecimalText(errorCode, code);
    AppendText(report, sizeof report, code);
    MessageBoxA(0, report, "Erreur fatale", MB_ICONHAND);
    EndProgram(errorCode);
}

void *AllocateOrStop(DWORD size)
{
    void *block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!block)
        FatalStop("M\xE9moire insuffisante pour l'installation.", "", ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

void FreeBlock(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}
