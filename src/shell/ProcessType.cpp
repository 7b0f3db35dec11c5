#include "shell/ProcessType.h"

#include <cstring>
#include <strings.h>

// Hand-written on purpose: it runs on the raw argv before any QCoreApplication exists, and picks
// the engine's --type= out of the engine's other switches, the last one first and ignoring case,
// which QCommandLineParser cannot express.
TCefProcessType ProcessTypeFromArguments(int argc, const char* const* argv, std::string* value)
{
    static constexpr char prefix[] = "--type=";
    static constexpr std::size_t prefixLength = sizeof(prefix) - 1;

    for (int i = argc - 1; i >= 1; --i) {
        const char* argument = argv[i];
        if (argument == nullptr || strncasecmp(argument, prefix, prefixLength) != 0)
            continue;
        const char* text = argument + prefixLength;
        if (value != nullptr)
            *value = text;
        struct Name
        {
            const char* text;
            TCefProcessType type;
        };
        static constexpr Name names[] = {{"renderer", ptRenderer},
                                         {"zygote", ptZygote},
                                         {"gpu-process", ptGPU},
                                         {"utility", ptUtility},
                                         {"broker", ptBroker}};
        for (const Name& name : names) {
            if (strcasecmp(text, name.text) == 0)
                return name.type;
        }
        return ptOther;
    }
    return ptBrowser;
}
