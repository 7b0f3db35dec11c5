#include "TestUtil.h"

ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                      const QString& workingDir, int timeoutMs, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.setProcessEnvironment(env.isEmpty() ? ProgramTestEnvironment() : env);
    process.start();
    ProgramRun run;
    if (!process.waitForStarted(10000))
        return run;
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}

QProcessEnvironment ProgramTestEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUARVEL_AUTO_DISMISS_BOXES"), QStringLiteral("50"));
    return env;
}
