#pragma once

#include "portals/PortalTable.h"

// The built-in portals, by their index in the table.
enum Portal
{
    kCcc,
    kAm,
    kEs,
    kBa,
    kSp
};

inline const TURIEstados& Table()
{
    static const TURIEstados table = BuiltInPortals();
    return table;
}
