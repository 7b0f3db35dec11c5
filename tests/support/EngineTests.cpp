#include "EngineTests.h"

#include "shell/ProcessEntry.h"

#include <QApplication>
#include <gtest/gtest.h>

int RunEngineTests(int argc, char** argv, const std::function<void()>& beforeEngine)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bool helper = false;
    for (int i = 1; i < argc; ++i)
        helper = helper || qstrnicmp(argv[i], "--type=", 7) == 0;
    if (!helper) {
        testing::InitGoogleTest(&argc, argv);
        if (beforeEngine)
            beforeEngine();
    }
    return RunQuarvelProcess(argc, argv,
                             [](QApplication&, const QStringList&) { return RUN_ALL_TESTS(); });
}
