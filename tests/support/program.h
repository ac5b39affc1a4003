// The program's two windows brought up in the test process as the entry
// does, once for a whole test executable.
#pragma once

#include "Unit_view.h"
#include "Unit_vost.h"
#include "application.h"
#include "glclient.h"
#include "qt.h"
#include "report.h"

#include <QTest>
#include <gtest/gtest.h>

class ProgramEnvironment : public ::testing::Environment
{
public:
    // `beforeForms` runs once the application is up, before any window is made.
    explicit ProgramEnvironment(std::function<void()> beforeForms = {})
        : beforeForms_(std::move(beforeForms))
    {
    }
    void SetUp() override
    {
        application_ = std::make_unique<TApplication>();
        Application->Initialize();
        if (beforeForms_)
            beforeForms_();
        Application->CreateForm<Tcontrol_Form>(control_Form);
        Application->CreateForm<Tview_Form>(view_Form);
        control_Form->Show();
    }
    void TearDown() override
    {
        Application->DestroyForms();
        application_.reset();
    }

private:
    std::function<void()> beforeForms_;
    std::unique_ptr<TApplication> application_;
};

inline Tview_Form* View()
{
    return static_cast<Tview_Form*>(view_Form);
}
