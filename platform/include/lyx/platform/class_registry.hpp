// The class registry: which library serves which class. INI files with one
// section per class identifier:
//
//   [{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}]
//   Library=/usr/lib/x86_64-linux-gnu/lyx/libLyxDataProviderCOM.so
//   ProgID=LyxDataProviderCOM.DataProvider
//   TypeLib={8866A644-CC19-499C-AE52-1C8612A1F786}
//   TypeLibVersion=3.4
//
// Lookups search, in this order, and take the first entry found, so a user's
// own entry wins over the system's:
//   1. the user's registry, ${XDG_DATA_HOME:-~/.local/share}/lyx/classes.ini
//   2. lyx/classes.ini under each folder of $XDG_DATA_DIRS (default
//      /usr/local/share:/usr/share; relative folders are ignored)
// $LYX_REGISTRY names a private registry instead: it is then the only file
// searched, so an installed system registry cannot change what a test or a
// demonstration sees.
//
// A file that does not exist is passed over. One that exists but cannot be
// read is passed over too (one broken file must not hide the others) and is
// named in the error of an activation that finds no entry.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LyxPlatform.h"
#include "lyx/platform/guid.hpp"

namespace lyx::platform {

struct ClassEntry {
    Guid classId;
    std::string library;  // absolute path
    std::string progId;
    Guid typeLibrary;
    std::string typeLibraryVersion;  // "3.4"
};

// The registry that registerClass and unregisterClass write: $LYX_REGISTRY,
// else the user's.
LYX_PLATFORM_API std::string classRegistryPath();
// The system registry that `lyx-regsvr --system` writes: lyx/classes.ini under
// the first folder of XDG_DATA_DIRS.
LYX_PLATFORM_API std::string systemClassRegistryPath();
// Every file a lookup reads, in order.
LYX_PLATFORM_API std::vector<std::string> classRegistrySearchPath();
// The files searched, for an error message: "a, b, c", followed by
// "; <file> cannot be read: <reason>" for each file passed over as unreadable.
LYX_PLATFORM_API std::string describeClassRegistrySearch();

// Writes the class's section; raises AutomationError (kSelfRegClass) when the
// registry cannot be written.
LYX_PLATFORM_API void registerClass(const ClassEntry &entry);
// Removes the class's section; false when it was not registered. Raises when
// the registry cannot be written.
LYX_PLATFORM_API bool unregisterClass(const Guid &classId);

LYX_PLATFORM_API std::optional<ClassEntry> findClass(const Guid &classId);
// The first class registered with this programmatic identifier (any case).
LYX_PLATFORM_API std::optional<ClassEntry> findClassByProgId(std::string_view progId);

}  // namespace lyx::platform
