// screenshot-scenes SCENE SIGNAL: shows the installer's windows in one scene for a
// screenshot (scripts/screenshots). Drives a real main dialog with the robot, the work
// replaced by stand-ins, then writes the rectangle to photograph into the file SIGNAL and
// waits until the file is gone before it closes everything.
//
// Scenes: main-ready, main-extracting, main-completed, licence.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "cabinet.h"
#include "controls.h"
#include "driver.h"
#include "launcher.h"
#include "robot.h"
#include "test_support.h"
#include "ui.h"

namespace {

const char *const title = "Quarvel D\xE9mo 2.0";
const char *const message =
    "\r\nBienvenue dans l'installation de Quarvel D\xE9mo 2.0.\r\n\r\n"
    "Ce programme va copier les fichiers de l'application sur votre ordinateur et "
    "configurer le syst\xE8me.";
// Lines short enough for the field, which does not wrap.
const char *const licence =
    "CONTRAT DE LICENCE D'UTILISATEUR FINAL\r\n\r\n"
    "1. Licence. Le pr\xE9sent contrat vous accorde le droit d'installer et\r\n"
    "d'utiliser Quarvel D\xE9mo sur un ordinateur.\r\n"
    "2. Restrictions. Vous ne pouvez ni louer, ni pr\xEAter, ni revendre le logiciel.\r\n"
    "3. Garantie. Le logiciel est fourni \xAB tel quel \xBB, sans garantie d'aucune sorte.\r\n"
    "4. Responsabilit\xE9. En aucun cas l'\xE9" "diteur ne pourra \xEAtre tenu responsable\r\n"
    "des dommages r\xE9sultant de l'utilisation du logiciel.\r\n";

char titleBuffer[pathBufferSize], infNameBuffer[pathBufferSize], workBuffer[pathBufferSize];
char infoBuffer[256];
// Manual-reset events: the extraction has shown every name; the picture is taken.
HANDLE extracting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE pictureTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
bool holdExtraction;

void Fail(const char *what)
{
    fprintf(stderr, "screenshot-scenes: %s\n", what);
    ExitProcess(1);
}

void PrepareState(const std::string &directory)
{
    state.title = titleBuffer;
    state.infName = infNameBuffer;
    state.workDirectory = workBuffer;
    state.infoText = infoBuffer;
    CopyText(state.title, pathBufferSize, title);
    state.hasTitle = 1;
    state.messageText = message;
    state.messageLength = TextLength(message);
    state.licenceText = "";
    state.showCompletion = 1;
    CopyText(state.workDirectory, pathBufferSize, directory.c_str());
}

DWORD WINAPI RunMainDialog(void *)
{
    return (DWORD)RunModalDialog(GetModuleHandleA(nullptr), "DLG_Main", nullptr, MainDialogProc);
}

// The scene's window, photographed with a margin for the frame's shadow-free edge.
void Signal(const char *path, HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    FILE *file = fopen(path, "w");
    if (!file)
        Fail("cannot write the signal file");
    fprintf(file, "%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left,
            frame.bottom - frame.top);
    fclose(file);
}

}  // namespace

// The stand-ins for the work: the extraction shows each name and, in the main-extracting scene,
// serves the dialog's messages until the picture is taken.
void ExtractCabinet(HWND, ProgressCallback progress)
{
    for (const char *name : {"quarvel-demo.inf", "lisezmoi.txt", "quarvel-demo.exe"})
        progress(name);
    SetEvent(extracting);
    MSG message;
    while (holdExtraction) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (MsgWaitForMultipleObjects(1, &pictureTaken, FALSE, INFINITE, QS_ALLINPUT) ==
            WAIT_OBJECT_0)
            break;
    }
    state.extractionSucceeded = 1;
}

void LaunchInfInstallation(void)
{
}

int main(int argc, char **argv)
{
    if (argc != 3)
        Fail("usage: screenshot-scenes SCENE SIGNAL");
    const char *scene = argv[1];
    PrepareState(ScratchDirectory("screenshot-scenes"));
    if (strcmp(scene, "licence") == 0)
        state.licenceText = licence, state.licenceLength = TextLength(licence);
    holdExtraction = strcmp(scene, "main-extracting") == 0;

    CreateThread(nullptr, 0, RunMainDialog, nullptr, 0, nullptr);
    HWND dialog = robot::WaitForDialog(title, GetCurrentProcessId());
    if (!dialog)
        Fail("the main dialog did not show");
    HWND photographed = dialog;
    if (strcmp(scene, "main-ready") != 0) {
        robot::Click(dialog, IDC_INSTALL);
        if (strcmp(scene, "licence") == 0) {
            photographed = robot::WaitForDialog("Informations sur la licence...",
                                                GetCurrentProcessId());
            if (!photographed)
                Fail("the licence dialog did not show");
        } else if (strcmp(scene, "main-extracting") == 0) {
            if (WaitForSingleObject(extracting, 10000) != WAIT_OBJECT_0)
                Fail("the extraction did not start");
        } else if (strcmp(scene, "main-completed") == 0) {
            if (!robot::WaitUntil([&] { return robot::ControlText(dialog, IDC_CLOSE) == "&OK"; }))
                Fail("the installation did not complete");
        } else {
            Fail("unknown scene");
        }
    }
    // Let the last texts be painted before the picture is taken.
    Sleep(300);
    Signal(argv[2], photographed);
    robot::WaitUntil([&] { return GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; },
                     60000);
    SetEvent(pictureTaken);
    return 0;  // the dialog thread ends with the process
}
