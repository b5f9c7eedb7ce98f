#include "driver.h"

DWORD TextLength(const char *text)
{
    DWORD length = 0;
    while (text[length])
        length++;
    return length;
}

bool CopyText(char *buffer, DWORD capacity, const char *text)
{
    if (capacity == 0)
        return false;
    buffer[0] = 0;
    return AppendText(buffer, capacity, text);
}

bool AppendText(char *buffer, DWORD capacity, const char *text)
{
    DWORD end = TextLength(buffer);
    while (*text && end + 1 < capacity)
        buffer[end++] = *text++;
    buffer[end] = 0;
    return *text == 0;
}

bool TextsEqual(const char *a, const char *b)
{
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

void DecimalText(DWORD value, char *buffer)
{
    char reversed[10];
    DWORD count = 0;
    do {
        reversed[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    for (DWORD i = 0; i < count; i++)
        buffer[i] = reversed[count - 1 - i];
    buffer[count] = 0;
}

void FillBytes(void *buffer, BYTE value, DWORD count)
{
    BYTE *bytes = (BYTE *)buffer;
    while (count--)
        *bytes++ = value;
}
