// The licence agreement dialog on a real dialog, driven by the robot.
#include <gtest/gtest.h>

#include "controls.h"
#include "dialog_run.h"
#include "robot.h"
#include "ui.h"
#include "ui_fixture.h"

namespace {

const char *const licenceCaption = "Informations sur la licence...";

using LicenceDialog = InstallerWindowsTest;

HWND WaitForLicence()
{
    return robot::WaitForDialog(licenceCaption, GetCurrentProcessId());
}

TEST_F(LicenceDialog, ShowsTheLicenceWithFrenchTexts)
{
    SetLicence("Article 1.\r\nLe logiciel est fourni tel quel, sans garantie d'aucune sorte.");
    DialogRun run("DLG_LIC", LicenceDialogProc);
    HWND dialog = WaitForLicence();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(robot::ControlText(dialog, IDC_LICENCE_TEXT), state.licenceText);
    EXPECT_EQ(robot::ControlText(dialog, IDC_LICENCE_PROMPT),
              "Pour continuer l'installation, vous devez accepter les termes de cette licence.");
    EXPECT_EQ(robot::ControlText(dialog, IDOK), "J'accepte");
    EXPECT_EQ(robot::ControlText(dialog, IDCANCEL), "Annuler");
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDCANCEL), GWL_STYLE) & BS_DEFPUSHBUTTON)
        << "declining is the default";

    RECT frame;
    GetWindowRect(dialog, &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
    ASSERT_TRUE(robot::Click(dialog, IDOK));
    EXPECT_EQ(run.Result(), IDOK);
}

TEST_F(LicenceDialog, EveryWayOfDecliningGivesTwo)
{
    SetLicence("Licence.");
    for (int way = 0; way < 4; way++) {
        SCOPED_TRACE(way);
        DialogRun run("DLG_LIC", LicenceDialogProc);
        HWND dialog = WaitForLicence();
        ASSERT_NE(dialog, nullptr);
        switch (way) {
        case 0: ASSERT_TRUE(robot::Click(dialog, IDCANCEL)); break;
        case 1: robot::PressEscape(dialog); break;
        case 2: robot::RequestClose(dialog); break;
        case 3: robot::PressEnter(dialog); break;  // on the default button, "Annuler"
        }
        EXPECT_EQ(run.Result(), IDCANCEL);
        ASSERT_TRUE(robot::WaitUntilGone(dialog));
    }
}

TEST_F(LicenceDialog, OtherCommandsDoNothing)
{
    SetLicence("Licence.");
    DialogRun run("DLG_LIC", LicenceDialogProc);
    HWND dialog = WaitForLicence();
    ASSERT_NE(dialog, nullptr);
    robot::PostCommand(dialog, IDC_LICENCE_PROMPT);
    robot::PostCommand(dialog, 3);
    EXPECT_EQ(run.Result(300), DialogRun::notFinished);
    robot::Click(dialog, IDOK);
    EXPECT_EQ(run.Result(), IDOK);
}

TEST_F(LicenceDialog, FieldIsReadOnlyScrollsToTheEndAndDoesNotWrap)
{
    std::string licence;
    for (int line = 1; line <= 120; line++)
        licence += "Clause " + std::to_string(line) + " " + std::string(line == 3 ? 400 : 20, 'x') +
                   "\r\n";
    licence += "Fin.";
    SetLicence(licence.c_str());
    DialogRun run("DLG_LIC", LicenceDialogProc);
    HWND dialog = WaitForLicence();
    ASSERT_NE(dialog, nullptr);
    HWND field = GetDlgItem(dialog, IDC_LICENCE_TEXT);

    // Line breaks come from the text only: the 400-character line stays one line.
    EXPECT_EQ(SendMessageA(field, EM_GETLINECOUNT, 0, 0), 121);
    // The vertical scroll bar reaches the last line.
    SendMessageA(field, WM_VSCROLL, SB_BOTTOM, 0);
    RECT client;
    GetClientRect(field, &client);
    LRESULT bottom = SendMessageA(field, EM_CHARFROMPOS, 0, MAKELPARAM(2, client.bottom - 2));
    EXPECT_EQ(HIWORD(bottom), 120) << "the last line is in view";
    EXPECT_GT(SendMessageA(field, EM_GETFIRSTVISIBLELINE, 0, 0), 0);

    // Typing changes nothing.
    EXPECT_TRUE(GetWindowLongA(field, GWL_STYLE) & ES_READONLY);
    PostMessageA(field, WM_CHAR, 'Z', 1);
    PostMessageA(field, WM_KEYDOWN, VK_DELETE, 1);
    PostMessageA(field, WM_CHAR, VK_BACK, 1);
    robot::PostCommand(dialog, 999);  // a no-op behind the keys, to know they were handled
    Sleep(200);
    EXPECT_EQ(robot::Text(field), licence);

    robot::Click(dialog, IDCANCEL);
    EXPECT_EQ(run.Result(), IDCANCEL);
}

}  // namespace
