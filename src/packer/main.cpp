#include "command_line.h"
#include "stub_image.h"

int main(int argc, char **argv)
{
    return quarvel::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), EmbeddedStubImage());
}
