// Stand-ins for the extraction and the INF launch, for the dialog tests: they record how
// the dialog called them and what it showed meanwhile, "extract" empty files into a scratch
// directory, and can hold the work until the test releases it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct FakeWork {
    // Set by the test.
    std::string directory;           // where the files are made, ending in a backslash
    std::vector<std::string> names;  // the cabinet's file names, in order
    bool succeed = true;
    HANDLE holdExtraction = nullptr;  // a manual-reset event: extraction waits until it is set
    HANDLE holdLaunch = nullptr;
    HANDLE extracting = nullptr;  // set when the extraction has shown every name
    HANDLE launching = nullptr;   // set when the launch has started
    bool closeRequestAtLaunchEnd = false;  // a close command waits in the queue as it returns

    // Seen by the stand-ins.
    int extractions = 0;
    int launches = 0;
    HWND dialogGiven = nullptr;
    bool progressWasReportExtractionProgress = false;
    bool dialogVisibleDuringWork = false;
    bool buttonsEnabledDuringWork = false;
    std::string statusDuringLaunch;
};

extern FakeWork fakeWork;

// Starts a new, empty fake: its events are created anew, the directory made empty.
void ResetFakeWork(const std::string &directory);
// Lets any held work go on (a test's end, whatever happened).
void ReleaseFakeWork();
