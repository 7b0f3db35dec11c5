#pragma once

#include <string>

// The role a process of this executable plays. The engine starts the executable again for each
// of its helper processes and marks them with a --type= switch.
enum TCefProcessType
{
    ptBrowser, // no --type= switch: the main process
    ptRenderer,
    ptZygote,
    ptGPU,
    ptUtility,
    ptBroker,
    ptOther, // any other value, the empty one included
};

// Scans the arguments from the last to the first for one beginning with "--type=" (ignoring
// case); the value of the first one found decides, compared ignoring case. When value is given
// it receives that switch's value.
TCefProcessType ProcessTypeFromArguments(int argc, const char* const* argv,
                                         std::string* value = nullptr);
