// The administrator check on made-up platforms and tokens, through the import slots of the
// version and token functions: Wine reports NT and gives every token the Administrators group.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "guards.h"
#include "import_slot.h"

typedef std::vector<std::pair<const char *, DWORD>> Groups;  // SIDs as text, and attributes

// The platform GetVersionExA reports, and the group lists of the thread's and the process's
// tokens, each a token only when it opens. A token is the pseudo handle it was opened for.
static struct MadeUp {
    DWORD platform;
    bool threadOpens, processOpens;
    Groups threadGroups, processGroups;
} madeUp;

static BOOL WINAPI MadeUpVersion(OSVERSIONINFOA *version)
{
    version->dwPlatformId = madeUp.platform;
    return TRUE;
}
QUARVEL_IMPORT_SLOT(GetVersionExA, 4) = MadeUpVersion;

static BOOL WINAPI OpenMadeUpThreadToken(HANDLE thread, DWORD, BOOL, HANDLE *token)
{
    *token = thread;
    return madeUp.threadOpens;
}
QUARVEL_IMPORT_SLOT(OpenThreadToken, 16) = OpenMadeUpThreadToken;

static BOOL WINAPI OpenMadeUpProcessToken(HANDLE process, DWORD, HANDLE *token)
{
    *token = process;
    return madeUp.processOpens;
}
QUARVEL_IMPORT_SLOT(OpenProcessToken, 12) = OpenMadeUpProcessToken;

// The SIDs are left to the process's heap.
static BOOL WINAPI MadeUpGroups(HANDLE token, TOKEN_INFORMATION_CLASS, void *buffer, DWORD size,
                                DWORD *needed)
{
    const Groups &groups = token == GetCurrentThread() ? madeUp.threadGroups : madeUp.processGroups;
    *needed = sizeof(TOKEN_GROUPS) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (!buffer || size < *needed)
        return FALSE;
    TOKEN_GROUPS *record = (TOKEN_GROUPS *)buffer;
    record->GroupCount = groups.size();
    for (size_t i = 0; i < groups.size(); i++) {
        record->Groups[i].Attributes = groups[i].second;
        if (!ConvertStringSidToSidA(groups[i].first, &record->Groups[i].Sid))
            abort();
    }
    return TRUE;
}
QUARVEL_IMPORT_SLOT(GetTokenInformation, 20) = MadeUpGroups;

TEST(AdministratorCheck, TheDecidingTokenHoldsAdministratorsAnywhereAndAnyhow)
{
    const DWORD nt = VER_PLATFORM_WIN32_NT, nine = VER_PLATFORM_WIN32_WINDOWS;
    const DWORD enabled = SE_GROUP_ENABLED | SE_GROUP_MANDATORY;
    const Groups::value_type admins{"S-1-5-32-544", enabled}, users{"S-1-5-32-545", enabled};
    struct Row {
        const char *fault;
        MadeUp madeUp;
        bool expected;
    } rows[] = {
        {"a scan that stops early", {nt, false, true, {}, {users, users, admins}}, true},
        {"a group held for deny only not counted (or the first skipped, another SID sought)",
         {nt, false, true, {}, {{"S-1-5-32-544", SE_GROUP_USE_FOR_DENY_ONLY}}}, true},
        {"an empty list read past its end", {nt, false, true, {}, {}}, false},
        {"SIDs compared up to the shorter one",
         {nt, false, true, {}, {{"S-1-5-32-544-0", enabled}}}, false},
        {"the thread's token not asked", {nt, true, true, {users}, {admins}}, false},
        {"the process's token asked first", {nt, true, true, {admins}, {users}}, true},
        {"no token taken for an administrator's", {nt, false, false, {}, {}}, false},
        {"accounts asked for on Windows 95 and 98", {nine, false, false, {}, {}}, true},
    };
    for (const Row &row : rows) {
        madeUp = row.madeUp;
        EXPECT_EQ(IsAdministrator(), row.expected) << row.fault;
    }
}
