// Quarvel Demo: a small program installed as a tree. It loads its greeting from a DLL in the
// plugins folder and its message from a data folder, both found beside the program, so that it
// runs only when the whole tree arrived where it belongs. Exit status 0 when all was found.
#include <windows.h>
#include <stdio.h>

typedef const char *(*GreetingFunction)(void);

int main(void)
{
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    *strrchr(folder, '\\') = 0;

    char path[MAX_PATH + 64];
    snprintf(path, sizeof path, "%s\\plugins\\greet.dll", folder);
    HMODULE plugin = LoadLibraryA(path);
    if (!plugin) {
        fprintf(stderr, "demo: cannot load %s\n", path);
        return 2;
    }
    GreetingFunction greeting = (GreetingFunction)(void *)GetProcAddress(plugin, "Greeting");
    if (!greeting) {
        fprintf(stderr, "demo: %s has no Greeting\n", path);
        return 3;
    }

    snprintf(path, sizeof path, "%s\\share\\quarvel-demo\\messages\\hello.txt", folder);
    FILE *message = fopen(path, "rb");
    if (!message) {
        fprintf(stderr, "demo: cannot open %s\n", path);
        return 4;
    }
    char text[256];
    size_t read = fread(text, 1, sizeof text - 1, message);
    fclose(message);
    text[read] = 0;
    printf("%s, %s", greeting(), text);
    return 0;
}
