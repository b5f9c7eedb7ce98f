// The image's entry point. The stub carries no C runtime: the program ends through
// EndProgram, which runs the exit actions.
#include "driver.h"

extern "C" void Entry(void)
{
    RunProgram();
}
