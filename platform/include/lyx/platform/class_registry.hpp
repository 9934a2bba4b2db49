// The class registry: which library serves which class. An INI file at
// $LYX_REGISTRY, else ${XDG_DATA_HOME:-~/.local/share}/lyx/classes.ini, with
// one section per class identifier:
//
//   [{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}]
//   Library=/usr/lib/x86_64-linux-gnu/libLyxDataProviderCOM.so
//   ProgID=LyxDataProviderCOM.DataProvider
//   TypeLib={8866A644-CC19-499C-AE52-1C8612A1F786}
//   TypeLibVersion=3.4
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

LYX_PLATFORM_API std::string classRegistryPath();

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
