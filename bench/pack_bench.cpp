// Packing speed and size beside gcab: generates about 100 MB of mixed files in a temporary
// directory, packs them with `quarvel pack` and with `gcab -c -n -z`, five times each in
// turn, and prints the best times, the sizes and their ratios against the targets (at most
// 1.1 times gcab's time, a cabinet within 1% of gcab's).
//
// With --app, the files are 1,000 in a tree of nested folders, packed with `quarvel pack --app`
// (targets: at most 1.15 times gcab's time; an installer within 1% of the flat package of the
// same files, which is gcab's cabinet behind the same installer prefix, since a flat package
// holds at most 255 files).
//
//   pack_bench [MEGABYTES] [--app]
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "layout.h"

namespace fs = std::filesystem;
extern char **environ;

namespace {

// Deterministic noise, so that every run packs the same bytes.
struct Noise {
    uint64_t state;
    uint64_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

const char *const words[] = {"installer", "cabinet", "the", "of", "package", "Windows", "file",
                             "setup", "and", "a", "licence", "to", "system", "directory", "in",
                             "message", "volume", "is", "header", "for", "compression", "data"};

std::string Prose(Noise &noise, size_t size)
{
    std::string text;
    text.reserve(size + 16);
    while (text.size() < size) {
        text += words[noise.Next() % (sizeof words / sizeof *words)];
        text += noise.Next() % 12 == 0 ? ".\r\n" : " ";
    }
    text.resize(size);
    return text;
}

std::string Table(Noise &noise, size_t size)
{
    std::string text;
    text.reserve(size + 64);
    for (uint64_t row = 0; text.size() < size; row++)
        text += std::to_string(row) + ";" + std::to_string(noise.Next() % 100000) + ";" +
                std::to_string(noise.Next() % 1000) + ".25;ok\r\n";
    text.resize(size);
    return text;
}

std::string Random(Noise &noise, size_t size)
{
    std::string bytes(size, '\0');
    for (char &byte : bytes)
        byte = (char)noise.Next();
    return bytes;
}

// Mostly zeros with islands of noise, like a disk image or a database file.
std::string Sparse(Noise &noise, size_t size)
{
    std::string bytes(size, '\0');
    for (size_t at = 0; at < size; at += 65536)
        for (size_t i = at; i < std::min(size, at + 4096); i++)
            bytes[i] = (char)noise.Next();
    return bytes;
}

void Write(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
}

uint64_t MakePayload(const fs::path &directory, double megabytes)
{
    Noise noise{0x9E3779B97F4A7C15ull};
    double scale = megabytes / 100.0;
    auto mb = [scale](double size) { return (size_t)(size * scale * 1e6); };
    Write(directory / "setup.inf", "[Version]\r\nSignature=\"$CHICAGO$\"\r\n");
    for (int i = 0; i < 20; i++)
        Write(directory / ("document-" + std::to_string(i) + ".txt"), Prose(noise, mb(1.0 + i % 3)));
    for (int i = 0; i < 8; i++)
        Write(directory / ("random-" + std::to_string(i) + ".bin"), Random(noise, mb(3.0 + i % 2)));
    for (int i = 0; i < 8; i++)
        Write(directory / ("table-" + std::to_string(i) + ".csv"), Table(noise, mb(1.5)));
    for (int i = 0; i < 4; i++)
        Write(directory / ("sparse-" + std::to_string(i) + ".dat"), Sparse(noise, mb(4.0)));
    for (int i = 0; i < 150; i++) {
        size_t size = mb(0.005 + (double)(noise.Next() % 100) / 1000.0);
        Write(directory / ("small-" + std::to_string(i) + (i % 2 ? ".txt" : ".bin")),
              i % 2 ? Prose(noise, size) : Random(noise, size));
    }
    uint64_t total = 0;
    for (const auto &entry : fs::directory_iterator(directory))
        total += entry.file_size();
    return total;
}

// 1,000 files of the same mix in ten folders of ten subfolders: names unique across the tree,
// so that gcab -n packs the same files flat.
uint64_t MakeTree(const fs::path &directory, double megabytes)
{
    Noise noise{0x9E3779B97F4A7C15ull};
    size_t average = (size_t)(megabytes * 1e6 / 1000);
    uint64_t total = 0;
    for (int i = 0; i < 1000; i++) {
        fs::path folder = directory / ("set " + std::to_string(i / 100)) / ("group-" + std::to_string(i / 10 % 10));
        fs::create_directories(folder);
        size_t size = average / 2 + (size_t)(noise.Next() % average);
        std::string bytes = i % 4 == 0 ? Prose(noise, size)
                          : i % 4 == 1 ? Random(noise, size)
                          : i % 4 == 2 ? Table(noise, size)
                                       : Sparse(noise, size);
        Write(folder / ("file-" + std::to_string(i) + ".dat"), bytes);
        total += size;
    }
    return total;
}

// Runs a program to its end and returns the seconds it took; exits when it fails.
double Run(std::vector<std::string> arguments)
{
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t child;
    int status = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "pack_bench: %s failed\n", argv[0]);
        exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best times of five runs of each command, taken in turn, the second first.
std::pair<double, double> BestOfFive(const std::vector<std::string> &first, const std::vector<std::string> &second)
{
    std::vector<double> firstTimes, secondTimes;
    for (int round = 0; round < 5; round++) {
        secondTimes.push_back(Run(second));
        firstTimes.push_back(Run(first));
    }
    return {*std::min_element(firstTimes.begin(), firstTimes.end()),
            *std::min_element(secondTimes.begin(), secondTimes.end())};
}

}  // namespace

int AppMain(double megabytes, const fs::path &work)
{
    fs::path tree = work / "tree";
    uint64_t treeSize = MakeTree(tree, megabytes);
    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(tree))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    printf("tree: %zu files, %.1f MB in %s\n", files.size(), (double)treeSize / 1e6, tree.c_str());

    std::vector<std::string> quarvel = {QUARVEL_TOOL, "pack", "-q", "-o", (work / "setup.exe").string(),
                                        "--app", tree.string(), "--name", "Bench", "--shortcut",
                                        "Bench=set 0\\group-0\\file-0.dat"};
    std::vector<std::string> gcab = {"gcab", "-c", "-n", "-z", (work / "gcab.cab").string()};
    gcab.insert(gcab.end(), files.begin(), files.end());
    auto [quarvelBest, gcabBest] = BestOfFive(quarvel, gcab);
    uint8_t header[headerSize];
    std::ifstream(work / "setup.exe", std::ios::binary).seekg(headerOffset).read((char *)header, headerSize);
    PackageHeader parsed{};
    ParsePackageHeader(header, &parsed);
    uint64_t installerSize = fs::file_size(work / "setup.exe");
    // The flat package: the same prefix (its INF name aside), then gcab's cabinet.
    uint64_t flatSize = CabinetOffset(&parsed) + fs::file_size(work / "gcab.cab");
    printf("time       quarvel pack --app %.2f s, gcab -c -n -z %.2f s (best of 5): %.3f x (target <= 1.15)\n",
           quarvelBest, gcabBest, quarvelBest / gcabBest);
    printf("installer  %llu bytes, the flat package %llu bytes: %.4f x (target within 1%%)\n",
           (unsigned long long)installerSize, (unsigned long long)flatSize,
           (double)installerSize / (double)flatSize);
    fs::remove_all(work);
    return 0;
}

int main(int argc, char **argv)
{
    bool app = argc > 1 && std::string(argv[argc - 1]) == "--app";
    double megabytes = argc > (app ? 2 : 1) ? atof(argv[1]) : 100.0;
    fs::path work = fs::temp_directory_path() / ("quarvel-bench-" + std::to_string(getpid()));
    if (app)
        return AppMain(megabytes, work);
    fs::path payload = work / "payload";
    fs::create_directories(payload);
    uint64_t payloadSize = MakePayload(payload, megabytes);
    std::vector<std::string> files;
    for (const auto &entry : fs::directory_iterator(payload))
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    printf("payload: %zu files, %.1f MB in %s\n", files.size(), (double)payloadSize / 1e6,
           payload.c_str());

    std::vector<std::string> quarvel = {QUARVEL_TOOL, "pack", "-q", "-o", (work / "setup.exe").string()};
    std::vector<std::string> gcab = {"gcab", "-c", "-n", "-z", (work / "gcab.cab").string()};
    quarvel.insert(quarvel.end(), files.begin(), files.end());
    gcab.insert(gcab.end(), files.begin(), files.end());

    auto [quarvelBest, gcabBest] = BestOfFive(quarvel, gcab);
    uint64_t installerSize = fs::file_size(work / "setup.exe");
    uint64_t gcabSize = fs::file_size(work / "gcab.cab");
    uint8_t header[headerSize];
    std::ifstream(work / "setup.exe", std::ios::binary)
        .seekg(headerOffset)
        .read((char *)header, headerSize);
    PackageHeader parsed{};
    ParsePackageHeader(header, &parsed);
    uint64_t cabinetSize = installerSize - CabinetOffset(&parsed);

    printf("time       quarvel pack %.2f s, gcab -c -n -z %.2f s (best of 5): %.3f x (target <= 1.1)\n",
           quarvelBest, gcabBest, quarvelBest / gcabBest);
    std::ifstream installer(work / "setup.exe", std::ios::binary), cabinet(work / "gcab.cab", std::ios::binary);
    installer.seekg(CabinetOffset(&parsed));
    bool identical = std::equal(std::istreambuf_iterator<char>(installer), std::istreambuf_iterator<char>(),
                                std::istreambuf_iterator<char>(cabinet), std::istreambuf_iterator<char>());
    printf("cabinet    quarvel %llu bytes, gcab %llu bytes: %.4f x (target within 1%%), %s\n",
           (unsigned long long)cabinetSize, (unsigned long long)gcabSize,
           (double)cabinetSize / (double)gcabSize, identical ? "the same bytes" : "different bytes");
    printf("installer  %llu bytes: %.4f x gcab's cabinet, %.3f of the payload\n",
           (unsigned long long)installerSize, (double)installerSize / (double)gcabSize,
           (double)installerSize / (double)payloadSize);
    fs::remove_all(work);
    return 0;
}
