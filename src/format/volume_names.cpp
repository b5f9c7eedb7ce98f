#include "volume_names.h"

void FormatVolumeNumber(uint32_t number, char *text)
{
    for (uint32_t i = volumeNumberLength; i-- > 0; number /= 10)
        text[i] = (char)('0' + number % 10);
    text[volumeNumberLength] = 0;
}

bool NameVolume(char *name, size_t length, uint32_t number)
{
    if (length < volumeNumberLength)
        return false;
    // Writes the NUL that already ends the name.
    FormatVolumeNumber(number, name + length - volumeNumberLength);
    return true;
}
