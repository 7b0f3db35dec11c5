#pragma once

#include <QString>
#include <QStringList>

// The checks made before the engine starts: where its folders are, and whether its packs are
// there and whole. Plain functions, so that tests can run them without starting anything.

// The folder of the running executable (resolved through /proc/self/exe), with a trailing '/'.
QString ExecutableDir();
// exeDir joined with a relative value, cleaned; empty when the folder does not exist.
QString ResolveRuntimeFolder(const QString& exeDir, const QString& value);
// Whether path is a resource pack the engine can load: a readable file whose header and index
// are whole and point inside it.
bool IsUsablePackFile(const QString& path);
// The data files the installed engine reads from its resources folder besides the packs (the ICU
// data and the V8 start-up snapshot, where the engine was built to load them from files), by
// name: those its installed folder holds.
QStringList EngineDataFiles();

// The engine's packs and data files that must exist in the resources and locales folders (an
// empty folder setting means the engine's installed default), as full paths of those missing or
// unusable.
QStringList MissingRuntimeFiles(const QString& resourcesDir, const QString& localesDir,
                                const QStringList& dataFiles = EngineDataFiles());
// The box text for missing files.
QString MissingFilesMessage(const QStringList& missing);
// The box text when the engine loaded at run time is not the one the program was built for;
// empty when they match.
QString EngineVersionMessage(const QString& expected, const QString& found);
