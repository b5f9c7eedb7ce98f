// The window helpers: centring, the one-message pump, the modal run and the progress text.
#include <gtest/gtest.h>

#include "controls.h"
#include "driver.h"
#include "ui.h"

namespace {

// A window that records the messages dispatched to it.
std::vector<UINT> dispatched;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP || message == WM_CHAR || message == WM_KEYDOWN)
        dispatched.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND RecordingWindow(int width = 10, int height = 10)
{
    static ATOM registered = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QuarvelRecording";
        return RegisterClassA(&windowClass);
    }();
    EXPECT_NE(registered, 0);
    return CreateWindowExA(0, "QuarvelRecording", "", WS_POPUP, 5, 7, width, height, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

void EmptyQueue()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    dispatched.clear();
}

POINT CentredAt(int width, int height)
{
    HWND window = RecordingWindow(width, height);
    CentreWindow(window);
    RECT frame;
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.right - frame.left, width) << "the size is kept";
    EXPECT_EQ(frame.bottom - frame.top, height);
    DestroyWindow(window);
    return {frame.left, frame.top};
}

TEST(CentreWindow, CentresOnTheWholeScreenRoundingTowardZero)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    POINT smaller = CentredAt(301, 201);
    EXPECT_EQ(smaller.x, (screenWidth - 301) / 2);
    EXPECT_EQ(smaller.y, (screenHeight - 201) / 2);

    POINT screenSized = CentredAt(screenWidth, screenHeight);
    EXPECT_EQ(screenSized.x, 0);
    EXPECT_EQ(screenSized.y, 0);

    // 3 pixels too wide: -3 / 2 is -1, not -2; 5 too tall: -2.
    POINT larger = CentredAt(screenWidth + 3, screenHeight + 5);
    EXPECT_EQ(larger.x, -1);
    EXPECT_EQ(larger.y, -2);
}

DWORD WINAPI PumpOnce(void *)
{
    PumpOneMessage();
    return 0;
}

TEST(PumpOneMessage, ReturnsAtOnceOnAnEmptyQueue)
{
    // On a thread of its own, whose queue is empty: a pump that waited would never return.
    HANDLE thread = CreateThread(nullptr, 0, PumpOnce, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(PumpOneMessage, DispatchesExactlyOneMessageOldestFirst)
{
    HWND window = RecordingWindow();
    EmptyQueue();
    for (UINT message : {WM_APP + 1, WM_APP + 2, WM_APP + 3})
        PostMessageA(window, message, 0, 0);
    PumpOneMessage();
    EXPECT_EQ(dispatched, std::vector<UINT>{WM_APP + 1});
    PumpOneMessage();
    EXPECT_EQ(dispatched, (std::vector<UINT>{WM_APP + 1, WM_APP + 2}));
    EmptyQueue();
    DestroyWindow(window);
}

TEST(PumpOneMessage, TranslatesKeyPresses)
{
    HWND window = RecordingWindow();
    EmptyQueue();
    PostMessageA(window, WM_KEYDOWN, 'A', 1 | MapVirtualKeyA('A', 0) << 16);
    PumpOneMessage();
    EXPECT_EQ(dispatched, std::vector<UINT>{WM_KEYDOWN});
    MSG character;
    EXPECT_TRUE(PeekMessageA(&character, window, WM_CHAR, WM_CHAR, PM_NOREMOVE))
        << "the key press was translated into a character message";
    EmptyQueue();
    DestroyWindow(window);
}

INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        char caption[64] = "";
        GetWindowTextA(dialog, caption, sizeof caption);
        EndDialog(dialog, TextsEqual(caption, "Self-extracting Archive") ? 42 : 43);
    }
    return 0;
}

TEST(RunModalDialog, FindsTheResourceInAnyLetterCaseAndReturnsTheResult)
{
    EXPECT_EQ(RunModalDialog(GetModuleHandleA(nullptr), "DLG_Main", nullptr, EndAtOnce), 42);
    EXPECT_EQ(RunModalDialog(GetModuleHandleA(nullptr), "dlg_main", nullptr, EndAtOnce), 42);
}

TEST(RunModalDialog, AnswersMinusOneWhenThereIsNoSuchDialog)
{
    EXPECT_EQ(RunModalDialog(GetModuleHandleA(nullptr), "DLG_NONE", nullptr, EndAtOnce), -1);
}

INT_PTR CALLBACK Modeless(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

TEST(ReportExtractionProgress, ShowsTheStoredNameAndPumpsOneMessage)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "DLG_MAIN", nullptr, Modeless, 0);
    ASSERT_NE(dialog, nullptr);
    state.mainWindow = dialog;
    HWND window = RecordingWindow();
    EmptyQueue();
    PostMessageA(window, WM_APP + 1, 0, 0);
    PostMessageA(window, WM_APP + 2, 0, 0);

    ReportExtractionProgress("docs\\read me.txt");

    char status[300] = "";
    GetDlgItemTextA(dialog, IDC_STATUS, status, sizeof status);
    EXPECT_STREQ(status, "\r\n\r\n\r\n\r\n  Extraction: docs\\read me.txt");
    EXPECT_EQ(dispatched, std::vector<UINT>{WM_APP + 1});

    // A name as long as a cabinet allows is shown whole.
    std::string longName(255, 'n');
    ReportExtractionProgress(longName.c_str());
    GetDlgItemTextA(dialog, IDC_STATUS, status, sizeof status);
    EXPECT_EQ(std::string(status), "\r\n\r\n\r\n\r\n  Extraction: " + longName);

    EmptyQueue();
    DestroyWindow(window);
    DestroyWindow(dialog);
    state.mainWindow = nullptr;
}

}  // namespace
