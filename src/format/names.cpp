#include "names.h"

static char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// The digits that follow COM and LPT in a device name: 1-9 and the superscripts 1, 2, 3.
static bool IsDeviceDigit(char c)
{
    return (c >= '1' && c <= '9') || c == '\xB9' || c == '\xB2' || c == '\xB3';
}

bool IsDeviceName(const char *component, size_t length)
{
    // The stem ends at the first dot; spaces before the dot or the end are dropped.
    size_t stem = 0;
    while (stem < length && component[stem] != '.')
        stem++;
    while (stem > 0 && component[stem - 1] == ' ')
        stem--;
    char upper[4];
    if (stem != 3 && stem != 4)
        return false;
    for (size_t i = 0; i < 3; i++)
        upper[i] = UpperAscii(component[i]);
    static const char threeLetters[4][4] = {"CON", "PRN", "AUX", "NUL"};
    if (stem == 3) {
        for (const char *device : threeLetters)
            if (upper[0] == device[0] && upper[1] == device[1] && upper[2] == device[2])
                return true;
        return false;
    }
    bool port = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
    return port && IsDeviceDigit(component[3]);
}

bool IsContainedName(const char *name)
{
    if (name[0] == '\\' || name[0] == '/')
        return false;
    const char *component = name;
    for (const char *p = name;; p++) {
        if (*p == ':')
            return false;
        if (*p == '\\' || *p == '/' || *p == 0) {
            size_t dots = 0;
            bool onlyDotsAndSpaces = true;
            for (const char *c = component; c < p; c++) {
                dots += *c == '.';
                onlyDotsAndSpaces = onlyDotsAndSpaces && (*c == '.' || *c == ' ');
            }
            if ((onlyDotsAndSpaces && dots >= 2) || IsDeviceName(component, (size_t)(p - component)))
                return false;
            if (*p == 0)
                return true;
            component = p + 1;
        }
    }
}
