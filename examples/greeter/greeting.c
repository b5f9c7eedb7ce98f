#define BUILDING_GREETING
#include "greeting.h"

#include <stdio.h>

void Greeting(const char *name, char *text, int size)
{
    snprintf(text, (size_t)size, "Hello, %s!", name);
}
