// A QGuiApplication for the whole test program: drawing text needs one for its fonts. Runs off
// screen unless QT_QPA_PLATFORM says otherwise, so the program also runs by hand without CTest.
#pragma once

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <memory>

namespace vorn::test {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[8] = "vorn";
    char *m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QGuiApplication> m_app;
};

// Including this header registers the environment once per program.
inline ::testing::Environment *const guiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace vorn::test
