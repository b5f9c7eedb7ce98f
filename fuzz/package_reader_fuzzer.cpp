// Fuzzes `quarvel inspect` and `quarvel extract` on whole installer files: whatever the bytes,
// the tool answers with an exit status, never a crash, and extract writes only inside its
// directory. The input is the package from its header on; the program image and the library
// slot in front of it are zeros. Everything runs in this process, on one installer file whose
// zeros are written once: an input costs a write and a truncation, not a new 68 KB file. The
// scratch directory is in memory (/dev/shm) where there is one: no journal behind each input.
#include <dirent.h>
#include <fcntl.h>
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
static std::string package;
static int packageFile = -1;

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
    char inMemory[] = "/dev/shm/quarvel-fuzz-XXXXXX", onDisk[] = "/tmp/quarvel-fuzz-XXXXXX";
    const char *made = mkdtemp(inMemory);
    if (!made && !(made = mkdtemp(onDisk)))
        abort();
    scratch = made;
    atexit([] { RemoveTree(scratch); });
    // The tool's own temporary files (an application's INF and cabinets) go there too: in
    // memory, and where the check after each input sees one left behind.
    setenv("TMPDIR", made, 1);
    package = scratch + "/setup.exe";
    packageFile = open(package.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    static const std::vector<uint8_t> front(headerOffset, 0);
    if (packageFile < 0 || write(packageFile, front.data(), front.size()) != (ssize_t)front.size())
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string out = scratch + "/out";
    // Written before the cut, so that the pages both inputs share stay allocated.
    if (pwrite(packageFile, data, size, headerOffset) != (ssize_t)size ||
        ftruncate(packageFile, headerOffset + size) != 0)
        abort();

    int status = quarvel::RunCommandLine({"inspect", package}, {});
    if (status < 0 || status > 2)
        abort();
    status = quarvel::RunCommandLine({"extract", package, "-d", out, "--quiet"}, {});
    if (status < 0 || status > 2)
        abort();

    // Only the package and the output directory may exist in the scratch directory: nothing
    // written outside the output directory, no temporary file left behind.
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
