// The administrator check on made-up platforms and tokens, through the import slots of the
// version and token functions: Wine reports NT and gives every token the Administrators group.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "guards.h"
#include "import_slot.h"

namespace {

std::vector<BYTE> Sid(const char *text)
{
    PSID sid;
    if (!ConvertStringSidToSidA(text, &sid))
        abort();
    std::vector<BYTE> bytes((BYTE *)sid, (BYTE *)sid + GetLengthSid(sid));
    LocalFree(sid);
    return bytes;
}

typedef std::vector<std::pair<std::vector<BYTE>, DWORD>> Groups;  // SIDs and attributes
const DWORD enabled = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;
const std::pair<std::vector<BYTE>, DWORD> administrators{Sid("S-1-5-32-544"), enabled};
const std::pair<std::vector<BYTE>, DWORD> users{Sid("S-1-5-32-545"), enabled};

// The platform GetVersionExA reports, and the group lists of the thread's and the process's
// tokens, each a token only when it opens. A token is an event handle that stands for its list.
struct MadeUp {
    DWORD platform;
    bool threadOpens;
    Groups threadGroups;
    bool processOpens;
    Groups processGroups;
} madeUp;
HANDLE threadToken;

BOOL WINAPI MadeUpVersion(OSVERSIONINFOA *version)
{
    version->dwPlatformId = madeUp.platform;
    return TRUE;
}

BOOL WINAPI OpenMadeUpThreadToken(HANDLE, DWORD, BOOL, HANDLE *token)
{
    *token = threadToken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetLastError(ERROR_NO_TOKEN);
    return madeUp.threadOpens;
}

BOOL WINAPI OpenMadeUpProcessToken(HANDLE, DWORD, HANDLE *token)
{
    *token = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetLastError(ERROR_ACCESS_DENIED);
    return madeUp.processOpens;
}

BOOL WINAPI MadeUpGroups(HANDLE token, TOKEN_INFORMATION_CLASS, void *buffer, DWORD size,
                         DWORD *needed)
{
    const Groups &groups = token == threadToken ? madeUp.threadGroups : madeUp.processGroups;
    *needed = sizeof(TOKEN_GROUPS) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (!buffer || size < *needed)
        return FALSE;
    TOKEN_GROUPS *record = (TOKEN_GROUPS *)buffer;
    record->GroupCount = groups.size();
    for (size_t i = 0; i < groups.size(); i++)
        record->Groups[i] = {(PSID)groups[i].first.data(), groups[i].second};
    return TRUE;
}

}  // namespace

QUARVEL_IMPORT_SLOT(GetVersionExA, 4) = MadeUpVersion;
QUARVEL_IMPORT_SLOT(OpenThreadToken, 16) = OpenMadeUpThreadToken;
QUARVEL_IMPORT_SLOT(OpenProcessToken, 12) = OpenMadeUpProcessToken;
QUARVEL_IMPORT_SLOT(GetTokenInformation, 20) = MadeUpGroups;

namespace {

TEST(AdministratorCheck, TheDecidingTokenHoldsAdministratorsAnywhereAndAnyhow)
{
    const DWORD nt = VER_PLATFORM_WIN32_NT;
    const Groups administratorsLast = {users, {Sid("S-1-5-32-546"), enabled}, administrators};
    struct Row {
        const char *fault;
        MadeUp madeUp;
        bool expected;
    } rows[] = {
        {"a scan that stops early", {nt, false, {}, true, administratorsLast}, true},
        {"a scan that skips the first", {nt, false, {}, true, {administrators, users}}, true},
        {"a group held for deny only not counted",
         {nt, false, {}, true, {{administrators.first, SE_GROUP_USE_FOR_DENY_ONLY}}}, true},
        {"a disabled group not counted", {nt, false, {}, true, {{administrators.first, 0}}}, true},
        {"another group taken for Administrators", {nt, false, {}, true, {users}}, false},
        {"an empty list read past its end", {nt, false, {}, true, {}}, false},
        {"SIDs compared up to the shorter one",
         {nt, false, {}, true, {{Sid("S-1-5-32-544-0"), enabled}}}, false},
        {"the thread's token not asked", {nt, true, {users}, true, {administrators}}, false},
        {"the process's token asked first", {nt, true, {administrators}, true, {users}}, true},
        {"no token taken for an administrator's", {nt, false, {}, false, {}}, false},
        {"accounts asked for on Windows 95 and 98",
         {VER_PLATFORM_WIN32_WINDOWS, false, {}, false, {}}, true},
    };
    for (const Row &row : rows) {
        madeUp = row.madeUp;
        EXPECT_EQ(IsAdministrator(), row.expected) << row.fault;
    }
}

}  // namespace
