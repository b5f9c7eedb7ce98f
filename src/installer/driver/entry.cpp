// Program entry. The stub carries no C runtime: this is the image's entry point, and the
// program ends through EndProgram so that the exit actions run.
#include "driver.h"

extern "C" void Entry(void)
{
    RegisterExitAction(ReleaseBuffers);
    AllocateBuffers();
    EndProgram(0);
}
