#include "driver.h"

InstallerState state;

void AllocateBuffers(void)
{
    state.infName = (char *)AllocateOrStop(pathBufferSize);
    state.workDirectory = (char *)AllocateOrStop(pathBufferSize);
    state.title = (char *)AllocateOrStop(pathBufferSize);
}

void ReleaseBuffers(void)
{
    FreeBlock(state.infName);
    FreeBlock(state.workDirectory);
    FreeBlock(state.title);
    state.infName = state.workDirectory = state.title = 0;
}
