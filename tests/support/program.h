// Brings the program's two windows up in the test process, in the entry's
// order, once for the whole test executable.
#pragma once

#include "Unit_view.h"
#include "Unit_vost.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

class ProgramEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        application_ = std::make_unique<TApplication>();
        Application->Initialize();
        Application->CreateForm(control_Form);
        Application->CreateForm(view_Form);
        control_Form->Show();
    }

    void TearDown() override
    {
        Application->DestroyForms();
        application_.reset();
    }

private:
    std::unique_ptr<TApplication> application_;
};

inline void RunLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Lets a loop run as the program's does, one that waits for messages (and so
// the idle frames), until `done` holds or time is up.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        RunLoopFor(10);
    }
    return true;
}

inline void SetPointsText(std::string_view text)
{
    control_Form->Memo1->Lines->SetText(text);
}
