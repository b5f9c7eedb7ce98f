#include "cabinet_test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "cabinet.h"
#include "driver.h"
#include "scramble.h"
#include "stored_cabinet.h"

std::string CabinetScratchDirectory(const std::string &name)
{
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string stem = strrchr(program, '\\') + 1;
    return ScratchDirectory(stem.substr(0, stem.rfind('.')) + "-" + name);
}

std::string SharedCabinet(const std::string &relative)
{
    std::string path = SharedDirectory() + "\\testdata\\cabs\\" + relative;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return ReadFileBytes(path);
}

static uint32_t Little(const std::string &bytes, size_t at, int width)
{
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; i--)
        value = value << 8 | (at + i < bytes.size() ? (uint8_t)bytes[at + i] : 0);
    return value;
}

// CFHEADER: coffFiles at 16, cFiles at 28. CFFILE: cbFile, uoffFolderStart, iFolder, date,
// time, attribs, then the NUL-terminated name. A damaged table gives the records that fit.
std::vector<CabinetFile> ListCabinetFiles(const std::string &cabinet)
{
    std::vector<CabinetFile> files;
    size_t at = Little(cabinet, 16, 4);
    uint32_t count = Little(cabinet, 28, 2);
    for (uint32_t i = 0; i < count && at + 16 < cabinet.size(); i++) {
        CabinetFile file;
        file.recordOffset = at;
        file.size = Little(cabinet, at, 4);
        file.date = (uint16_t)Little(cabinet, at + 10, 2);
        file.time = (uint16_t)Little(cabinet, at + 12, 2);
        file.attribs = (uint16_t)Little(cabinet, at + 14, 2);
        size_t end = cabinet.find('\0', at + 16);
        if (end == std::string::npos)
            break;
        file.name = cabinet.substr(at + 16, end - (at + 16));
        files.push_back(file);
        at = end + 1;
    }
    return files;
}

void RenameStoredFile(std::string &cabinet, const std::string &from, const std::string &to)
{
    if (from.size() != to.size())
        abort();
    for (const CabinetFile &file : ListCabinetFiles(cabinet))
        if (file.name == from) {
            cabinet.replace(file.recordOffset + 16, to.size(), to);
            return;
        }
    abort();
}

void SetStoredAttributes(std::string &cabinet, size_t fileIndex, uint16_t attribs)
{
    size_t at = ListCabinetFiles(cabinet).at(fileIndex).recordOffset + 14;
    cabinet[at] = (char)(attribs & 0xFF);
    cabinet[at + 1] = (char)(attribs >> 8);
}

std::vector<ExpectedMember> ExpectedMembers(const std::string &relative)
{
    std::istringstream table(ReadFileBytes(SharedDirectory() + "\\testdata\\cabs\\EXPECTED_MD5.tsv"));
    std::vector<ExpectedMember> members;
    std::string line;
    while (std::getline(table, line)) {
        size_t first = line.find('\t'), last = line.rfind('\t');
        if (first == std::string::npos || first == last || line.substr(0, first) != relative)
            continue;
        members.push_back({line.substr(first + 1, last - first - 1), line.substr(last + 1)});
    }
    return members;
}

std::string Md5Hex(const std::string &bytes)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[16];
    DWORD length = sizeof digest;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) ||
        !CryptHashData(hash, (const BYTE *)bytes.data(), (DWORD)bytes.size(), 0) ||
        !CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0))
        abort();
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    char hex[33];
    for (int i = 0; i < 16; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

void WritePackage(const std::string &path, const std::string &cabinet, uint32_t offset,
                  bool scrambled)
{
    while (scrambled && CabinetKey((uint32_t)(offset + cabinet.size())) == 0)
        offset++;
    std::string decoy = StoredCabinet({{"decoy.txt", "not the cabinet under test\n"}});
    std::string bytes = decoy + std::string(offset - decoy.size(), 'P');
    uint8_t key = scrambled ? CabinetKey((uint32_t)(offset + cabinet.size())) : 0;
    for (char c : cabinet)
        bytes += (char)(c ^ key);
    // Not WriteFileBytes, which aborts: a package that cannot be replaced, because a handle
    // on it was left open, fails the test that finds it.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(file);
    }
    if (written != bytes.size())
        ADD_FAILURE() << "cannot write the package " << path;
    CopyText(state.packagePath, sizeof state.packagePath, path.c_str());
    state.cabinetOffset = offset;
    state.cabinetScrambled = scrambled;
    state.totalSize = (DWORD)bytes.size();
}

static std::vector<std::string> progressNames;
static size_t progressOnExistingFiles;

static void RecordProgress(const char *name)
{
    progressNames.push_back(name);
    progressOnExistingFiles += FileExists(std::string(state.workDirectory) + name);
}

struct RunContext {
    bool withProgress;
    std::string statusText;
};

static DWORD WINAPI ExtractOnThread(void *parameter)
{
    RunContext *run = (RunContext *)parameter;
    HWND dialog = CreateWindowA("STATIC", "dialog", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
    HWND status = CreateWindowA("STATIC", "before", WS_CHILD, 0, 0, 200, 20, dialog,
                                (HMENU)3002, nullptr, nullptr);
    ExtractCabinet(dialog, run->withProgress ? RecordProgress : nullptr);
    char text[256] = "";
    GetWindowTextA(status, text, sizeof text);
    run->statusText = text;
    DestroyWindow(dialog);
    return 0;
}

ExtractionRun RunExtraction(bool withProgress, DWORD timeoutMs)
{
    ExtractionRun result;
    progressNames.clear();
    progressOnExistingFiles = 0;
    RunContext run{withProgress, ""};
    MessageBoxAnswerer answerer(IDOK);
    HANDLE thread = CreateThread(nullptr, 0, ExtractOnThread, &run, 0, nullptr);
    result.finished = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    if (!result.finished) {
        TerminateThread(thread, 1);  // hung in the library: nothing else can stop it
        CloseHandle(thread);
        return result;
    }
    CloseHandle(thread);
    result.succeeded = state.extractionSucceeded != 0;
    for (DWORD i = 0; i < state.extractedFileCount; i++)
        result.recorded.push_back(state.extractedFiles[i]);
    result.progress = progressNames;
    result.progressOnExistingFiles = progressOnExistingFiles;
    result.boxes = answerer.Boxes();
    result.statusText = run.statusText;
    return result;
}
