// A fresh installer state for each dialog test, and a scratch directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver.h"
#include "test_support.h"

class InstallerWindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillBytes(&state, 0, sizeof state);
        state.title = title_;
        state.infName = infName_;
        state.workDirectory = workDirectory_;
        state.infoText = infoText_;
        state.messageText = defaultMessage;
        state.licenceText = "";
        CopyText(state.builtinInfoText, sizeof state.builtinInfoText, builtinInfo);
        directory_ = ScratchDirectory(std::string("ui-") +
                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        CopyText(state.workDirectory, pathBufferSize, directory_.c_str());
    }

    void SetTitle(const char *title)
    {
        CopyText(state.title, pathBufferSize, title);
        state.hasTitle = 1;
    }
    void SetMessage(const char *message)
    {
        state.messageText = message;
        state.messageLength = TextLength(message);
    }
    void SetLicence(const char *licence)
    {
        state.licenceText = licence;
        state.licenceLength = TextLength(licence);
    }
    void SetInfo(const char *info) { CopyText(state.infoText, sizeof infoText_, info); }

    static constexpr const char *builtinInfo =
        "Quarvel 1.0, self-extracting installer for 32-bit Windows.\r\n";
    std::string directory_;

private:
    char title_[pathBufferSize];
    char infName_[pathBufferSize];
    char workDirectory_[pathBufferSize];
    char infoText_[256];
};
