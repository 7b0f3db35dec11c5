#include "shell/ProcessEntry.h"

#include <QApplication>
#include <gtest/gtest.h>

// The test binary is its own engine helper, exactly like the program: the engine starts it again
// with --type=... for its renderer and other helpers.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bool helper = false;
    for (int i = 1; i < argc; ++i)
        helper = helper || qstrnicmp(argv[i], "--type=", 7) == 0;
    if (!helper)
        testing::InitGoogleTest(&argc, argv);
    return RunQuarvelProcess(argc, argv,
                             [](QApplication&, const QStringList&) { return RUN_ALL_TESTS(); });
}
