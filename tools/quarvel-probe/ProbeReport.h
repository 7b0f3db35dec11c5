#pragma once

#include "shell/LoadFailure.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// What the probe learns about one portal, and how it is told. Nothing here needs the browser.

// What the page's fill script said it found: the controls it fills, by the names it looks them
// up by, and whether a captcha box was there.
struct FillReport
{
    QStringList found;
    QStringList missing;
    bool captcha = false;
};

// The readiness script: not run (the portal has none, or the page was not the query page), ran,
// or raised an error.
enum class ScriptRun
{
    None,
    Ok,
    Error,
};

struct PortalProbe
{
    QString portal; // the key
    QString queryUrl;
    // Reached: the server answered (any HTTP status). Otherwise failure says why not.
    bool reached = false;
    std::optional<LoadFailure> failure;
    int httpStatus = 0; // 0: not known
    QString finalUrl;
    bool stayed = false; // the final URL is under the query URL
    ScriptRun readyScript = ScriptRun::None;
    QString readyError;
    // The portal has a fill script and it was run.
    bool fillRan = false;
    // The fill script ran and threw (or did not finish): a script failure.
    bool fillFailed = false;
    QString fillError;
    // Empty when the portal has no fill script, the script was not run, or it gave no report.
    std::optional<FillReport> fill;
    qint64 loadMs = 0;
};

enum class ProbeStatus
{
    Ok,
    Changed,
    Unreachable,
};

// "ok", "changed", "unreachable".
QString ProbeStatusName(ProbeStatus status);

// ok: reached, stayed, scripts ran, no control missing; unreachable: not reached, or the server
// failed (5xx); changed: anything else (a 4xx answer, a move, a script error, a missing
// control). A missing captcha box alone changes nothing.
ProbeStatus DecideProbeStatus(const PortalProbe& probe);

// The fill script's return value as the engine hands it over; empty unless it is an object
// with `found` and `missing` lists of names and a boolean `captcha`. Names are kept as given,
// at most kMaxReportedControls of each.
std::optional<FillReport> ReadFillReport(const QVariant& value);
constexpr qsizetype kMaxReportedControls = 64;

// One line for a person: "KEY STATUS" and, when not ok or something went unchecked, what in a
// few words ("KEY changed: missing control cgc"). No line end.
QString ProbePlainLine(const PortalProbe& probe);

// One JSON object (compact, one line, no line end) with the members portal, status, failure
// (only when unreachable), httpStatus (null when not known), finalUrl, stayed, readyScript,
// missingControls and foundControls (null when the fill was not checked), captcha (null when not
// checked), loadMs.
QByteArray ProbeJsonLine(const PortalProbe& probe);

// The command line: quarvel-probe [--portals FILE] [--json] [--timeout SECONDS] [KEY...]
struct ProbeOptions
{
    QString portalsFile; // empty: the window's search order
    bool json = false;
    int timeoutSeconds = 30;
    QStringList keys; // empty: every portal of the table, in its order
    bool help = false;
    bool version = false;
};

struct ProbeArguments
{
    ProbeOptions options;
    QString error; // not empty: a usage error, said in one line
};

constexpr int kMaxProbeTimeoutSeconds = 600;

// Reads the arguments after the program name. --timeout takes whole seconds from 1 to
// kMaxProbeTimeoutSeconds; "--name=value" and "--name value" both work; "--" ends the options;
// a key named twice is probed once.
ProbeArguments ParseProbeArguments(const QStringList& arguments);

// The usage text (--help).
QString ProbeUsage();
