// The administrator check: the group scan on built group lists, and which token it reads, on
// made-up tokens. (Outside NT the check answers true without a token: launcher_tests runs a
// probe under a Windows 98 version setting for that.)
#include <gtest/gtest.h>

#include <vector>

#include "guards.h"
#include "import_slot.h"

namespace {

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = (DWORD)sid.size();
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size))
        abort();
    sid.resize(size);
    return sid;
}

// S-1-5-32-544 with one more sub-authority: equal to Administrators up to its length only.
std::vector<BYTE> AdministratorsWithExtraPart()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid;
    if (!AllocateAndInitializeSid(&nt, 3, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, &sid))
        abort();
    std::vector<BYTE> bytes((BYTE *)sid, (BYTE *)sid + GetLengthSid(sid));
    FreeSid(sid);
    return bytes;
}

// A TOKEN_GROUPS record laid out as GetTokenInformation returns it.
class GroupList {
public:
    void Add(std::vector<BYTE> sid, DWORD attributes)
    {
        sids_.push_back(sid);
        attributes_.push_back(attributes);
    }
    const TOKEN_GROUPS *Record()
    {
        size_t count = sids_.size();
        bytes_.assign(sizeof(TOKEN_GROUPS) + count * sizeof(SID_AND_ATTRIBUTES), 0);
        TOKEN_GROUPS *groups = (TOKEN_GROUPS *)bytes_.data();
        groups->GroupCount = (DWORD)count;
        for (size_t i = 0; i < count; i++) {
            groups->Groups[i].Sid = sids_[i].data();
            groups->Groups[i].Attributes = attributes_[i];
        }
        return groups;
    }

private:
    std::vector<std::vector<BYTE>> sids_;
    std::vector<DWORD> attributes_;
    std::vector<BYTE> bytes_;
};

const DWORD enabled = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;

TEST(GroupScan, FindsAdministratorsWhereverAndHoweverHeld)
{
    std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    std::vector<BYTE> everyone = WellKnownSid(WinWorldSid);
    std::vector<BYTE> users = WellKnownSid(WinBuiltinUsersSid);
    std::vector<BYTE> interactive = WellKnownSid(WinInteractiveSid);
    struct Row {
        const char *what;
        std::vector<std::pair<std::vector<BYTE>, DWORD>> groups;
        bool expected;
    } rows[] = {
        {"empty list", {}, false},
        {"deny-only Administrators", {{administrators, SE_GROUP_USE_FOR_DENY_ONLY}}, true},
        {"disabled Administrators", {{administrators, 0}}, true},
        {"Administrators last", {{everyone, enabled}, {users, enabled},
                                 {interactive, enabled}, {administrators, enabled}}, true},
        {"Administrators first", {{administrators, enabled}, {users, enabled}}, true},
        {"no Administrators", {{everyone, enabled}, {users, enabled}, {interactive, enabled}},
         false},
        {"a longer SID that starts like Administrators",
         {{AdministratorsWithExtraPart(), enabled}}, false},
    };
    for (Row &row : rows) {
        GroupList list;
        for (auto &group : row.groups)
            list.Add(group.first, group.second);
        EXPECT_EQ(GroupsHoldSid(list.Record(), administrators.data()), row.expected) << row.what;
    }
}

// ---- Which token decides -----------------------------------------------------------------

// Tokens made up for the check, through the import slots of the token functions: Wine gives
// every token the Administrators group, so only made-up tokens can tell the thread's from the
// process's. A token is an event handle standing for one group list.
struct MadeUpTokens {
    bool threadHasToken, threadHoldsAdministrators;
    bool processTokenOpens, processHoldsAdministrators;
} tokens;
HANDLE threadToken, processToken;

BOOL WINAPI OpenMadeUpThreadToken(HANDLE, DWORD, BOOL, HANDLE *token)
{
    if (!tokens.threadHasToken) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    *token = threadToken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return TRUE;
}

BOOL WINAPI OpenMadeUpProcessToken(HANDLE, DWORD, HANDLE *token)
{
    if (!tokens.processTokenOpens) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *token = processToken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return TRUE;
}

BOOL WINAPI MadeUpGroups(HANDLE token, TOKEN_INFORMATION_CLASS, void *buffer, DWORD size,
                         DWORD *needed)
{
    static std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    static std::vector<BYTE> users = WellKnownSid(WinBuiltinUsersSid);
    bool holds = token == threadToken ? tokens.threadHoldsAdministrators
                                      : tokens.processHoldsAdministrators;
    DWORD recordSize = sizeof(TOKEN_GROUPS) + sizeof(SID_AND_ATTRIBUTES);  // room for two
    *needed = recordSize;
    if (!buffer || size < recordSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    TOKEN_GROUPS *groups = (TOKEN_GROUPS *)buffer;
    groups->GroupCount = holds ? 2 : 1;
    groups->Groups[0] = {users.data(), enabled};
    if (holds)
        groups->Groups[1] = {administrators.data(), enabled};
    return TRUE;
}

}  // namespace

QUARVEL_IMPORT_SLOT(OpenThreadToken, 16) = OpenMadeUpThreadToken;
QUARVEL_IMPORT_SLOT(OpenProcessToken, 12) = OpenMadeUpProcessToken;
QUARVEL_IMPORT_SLOT(GetTokenInformation, 20) = MadeUpGroups;

namespace {

TEST(AdministratorCheck, TheThreadsTokenDecidesWhenThereIsOne)
{
    struct Row {
        const char *what;
        MadeUpTokens tokens;
        bool expected;
    } rows[] = {
        // A check that never asks for the thread's token answers from the process's.
        {"impersonating an ordinary user in an administrator's process", {true, false, true, true}, false},
        {"impersonating an administrator in an ordinary user's process", {true, true, true, false}, true},
        {"no impersonation, an administrator's process", {false, false, true, true}, true},
        {"no impersonation, an ordinary user's process", {false, false, true, false}, false},
        {"no token can be opened", {false, false, false, true}, false},
    };
    for (const Row &row : rows) {
        tokens = row.tokens;
        threadToken = processToken = nullptr;
        EXPECT_EQ(IsAdministrator(), row.expected) << row.what;
    }
}

}  // namespace
