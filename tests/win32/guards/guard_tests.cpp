// The administrator check: the group scan on built group lists, and the real tokens that Wine
// gives the process and an impersonating thread. (Outside NT the check answers true without a
// token: launcher_tests runs a probe under a Windows 98 version setting for that.)
#include <gtest/gtest.h>

#include <vector>

#include "guards.h"

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

// Wine gives every process a token with the Administrators group.
TEST(AdministratorCheck, TrueForWinesProcessToken)
{
    HANDLE token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> groups(size);
    ASSERT_TRUE(GetTokenInformation(token, TokenGroups, groups.data(), size, &size));
    CloseHandle(token);
    std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    ASSERT_TRUE(GroupsHoldSid((const TOKEN_GROUPS *)groups.data(), administrators.data()));

    EXPECT_TRUE(IsAdministrator());
    HANDLE thread;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &thread));
}

// Runs IsAdministrator on a thread that impersonates token, and answers what it said.
struct Impersonation {
    HANDLE token;
    bool impersonated;
    bool answer;
    DWORD error;
};

DWORD WINAPI AskWhileImpersonating(void *parameter)
{
    Impersonation *run = (Impersonation *)parameter;
    run->impersonated = SetThreadToken(nullptr, run->token) != 0;
    run->answer = IsAdministrator();
    RevertToSelf();
    return 0;
}

bool AnswerOnThreadWithToken(HANDLE token)
{
    Impersonation run = {token, false, false, 0};
    HANDLE thread = CreateThread(nullptr, 0, AskWhileImpersonating, &run, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(run.impersonated);
    return run.answer;
}

TEST(AdministratorCheck, TrueForAThreadWhoseTokenHoldsAdministratorsOnlyForDeny)
{
    HANDLE process, restricted, impersonation;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    SID_AND_ATTRIBUTES disable = {administrators.data(), 0};
    ASSERT_TRUE(CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr,
                                      &restricted));
    ASSERT_TRUE(DuplicateToken(restricted, SecurityImpersonation, &impersonation));

    DWORD size = 0;
    GetTokenInformation(impersonation, TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> bytes(size);
    ASSERT_TRUE(GetTokenInformation(impersonation, TokenGroups, bytes.data(), size, &size));
    const TOKEN_GROUPS *groups = (const TOKEN_GROUPS *)bytes.data();
    bool denyOnly = false;
    for (DWORD i = 0; i < groups->GroupCount; i++)
        if (EqualSid(groups->Groups[i].Sid, administrators.data()))
            denyOnly = (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0;
    ASSERT_TRUE(denyOnly) << "the restricted token still holds Administrators for use";

    EXPECT_TRUE(AnswerOnThreadWithToken(impersonation));
    CloseHandle(impersonation);
    CloseHandle(restricted);
    CloseHandle(process);
}

DWORD WINAPI AskAsAnonymous(void *parameter)
{
    Impersonation *run = (Impersonation *)parameter;
    run->impersonated = ImpersonateAnonymousToken(GetCurrentThread()) != 0;
    run->error = GetLastError();
    if (run->impersonated) {
        run->answer = IsAdministrator();
        RevertToSelf();
    }
    return 0;
}

// The thread's token decides: the anonymous token holds no Administrators group, however the
// process's token is made.
TEST(AdministratorCheck, FalseForAThreadThatImpersonatesTheAnonymousToken)
{
    Impersonation run = {nullptr, false, true, 0};
    HANDLE thread = CreateThread(nullptr, 0, AskAsAnonymous, &run, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (!run.impersonated)
        GTEST_SKIP() << "this platform cannot impersonate the anonymous token (error "
                     << run.error << "; Wine 8 does not implement it)";
    EXPECT_FALSE(run.answer);
    EXPECT_TRUE(IsAdministrator());  // the process's own token again
}

}  // namespace
