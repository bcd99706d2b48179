// gtest main for widget tests: one QApplication for the whole run, set up as the programs set it up.
#include "widgets/app_setup.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Listing the tests runs this binary too, outside the test environment: never ask for a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    zelkor::widgets::SetUpApplication("kivor");
    return RUN_ALL_TESTS();
}
