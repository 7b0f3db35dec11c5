#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The outcome of running a program to its end (or until the time limit, when it is killed).
struct ProgramRun
{
    bool finished = false; // false: killed at the time limit
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs program with arguments from workingDir under env (the test's own environment when empty).
ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                      const QString& workingDir = QString(), int timeoutMs = 60000,
                      const QProcessEnvironment& env = QProcessEnvironment());

// The environment for starting the program in tests: offscreen, boxes dismissed by themselves.
QProcessEnvironment ProgramTestEnvironment();
