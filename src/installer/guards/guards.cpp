#include "guards.h"

#include "driver.h"
#include "launcher.h"

static SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;

bool GroupsHoldSid(const TOKEN_GROUPS *groups, PSID administrators)
{
    // Attributes are not looked at: a group held only for deny, or disabled, counts as well.
    for (DWORD i = 0; i < groups->GroupCount; i++)
        if (EqualSid(administrators, groups->Groups[i].Sid))
            return true;
    return false;
}

bool IsAdministrator(void)
{
    if (!IsWindowsNT())
        return true;  // no accounts to tell apart
    // A thread that impersonates has a token of its own, and that one decides.
    HANDLE token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;

    bool administrator = false;
    DWORD needed = 0;
    GetTokenInformation(token, TokenGroups, 0, 0, &needed);  // only learns the size
    TOKEN_GROUPS *groups = (TOKEN_GROUPS *)HeapAlloc(GetProcessHeap(), 0, needed);
    PSID administrators = 0;
    if (groups && GetTokenInformation(token, TokenGroups, groups, needed, &needed) &&
        AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        administrator = GroupsHoldSid(groups, administrators);

    FreeBlock(groups);
    if (administrators)
        FreeSid(administrators);
    CloseHandle(token);
    return administrator;
}
