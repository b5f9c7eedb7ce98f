// Fuzzes `quarvel inspect` and `quarvel extract` on whole installer files: whatever the bytes,
// the tool answers with an exit status, never a crash, and extract writes only inside its
// directory. The input is the package from its header on; the program image and the library
// slot in front of it are zeros, which the reader never looks into.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "layout.h"

static std::string scratch;

static void RemoveTree(const std::string &path)
{
    DIR *directory = opendir(path.c_str());
    if (!directory) {
        unlink(path.c_str());
        return;
    }
    while (dirent *entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            RemoveTree(path + "/" + name);
    }
    closedir(directory);
    rmdir(path.c_str());
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/quarvel-fuzz-XXXXXX";
    scratch = mkdtemp(pattern);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string package = scratch + "/setup.exe";
    std::string out = scratch + "/out";
    FILE *file = fopen(package.c_str(), "wb");
    if (!file)
        abort();
    static const std::vector<uint8_t> front(headerOffset, 0);
    fwrite(front.data(), 1, front.size(), file);
    fwrite(data, 1, size, file);
    fclose(file);

    int status = quarvel::RunCommandLine({"inspect", package}, {});
    if (status < 0 || status > 2)
        abort();
    status = quarvel::RunCommandLine({"extract", package, "-d", out, "--quiet"}, {});
    if (status < 0 || status > 2)
        abort();

    // Only the package and the output directory may exist in the scratch directory.
    DIR *directory = opendir(scratch.c_str());
    while (dirent *entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "setup.exe" && name != "out")
            abort();
    }
    closedir(directory);
    RemoveTree(out);
    return 0;
}
