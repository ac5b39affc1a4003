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
    void SetUp() override
    {
        application_ = std::make_unique<TApplication>();
        Application->Initialize();
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
    std::unique_ptr<TApplication> application_;
};

inline Tview_Form* View()
{
    return static_cast<Tview_Form*>(view_Form);
}
