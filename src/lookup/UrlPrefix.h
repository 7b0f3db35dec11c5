#pragma once

#include <QStringView>

// True when url's first prefix.size() UTF-16 code units equal prefix exactly; an empty prefix
// passes every URL, a URL shorter than the prefix fails.
bool UrlHasPrefix(QStringView url, QStringView prefix);
