// Platform guards: the administrator rights check.
#pragma once

#include <windows.h>

// True outside the NT family, or when the Administrators group is among the groups of the
// thread's (else the process's) access token.
bool IsAdministrator(void);
// The scan on its own: whether any entry of groups is the administrators SID.
bool GroupsHoldSid(const TOKEN_GROUPS *groups, PSID administrators);
