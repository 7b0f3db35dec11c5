#include "lookup/UrlPrefix.h"

bool UrlHasPrefix(QStringView url, QStringView prefix)
{
    // Written out rather than startsWith(): that one fails an empty prefix on a null URL.
    return prefix.size() <= url.size() && url.first(prefix.size()) == prefix;
}
