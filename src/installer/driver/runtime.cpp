// The few C library routines the compiler itself emits calls to (struct copies and clears).
#include <stddef.h>

extern "C" void *memset(void *buffer, int value, size_t count)
{
    unsigned char *bytes = (unsigned char *)buffer;
    while (count--)
        *bytes++ = (unsigned char)value;
    return buffer;
}

extern "C" void *memcpy(void *target, const void *source, size_t count)
{
    unsigned char *to = (unsigned char *)target;
    const unsigned char *from = (const unsigned char *)source;
    while (count--)
        *to++ = *from++;
    return target;
}
