// Type library descriptions: the member tables of interfaces, events,
// enumerations and classes. A component describes itself once in constant
// tables; late binding and the published interface both read them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "lyx/platform/guid.hpp"
#include "lyx/platform/variant.hpp"

namespace lyx::platform {

using DispId = std::int32_t;

enum class MemberKind : std::uint8_t { Method, PropertyGet, PropertyPut };

struct ParamDesc {
    std::string_view name;
    VarType type;
    bool byRef = false;
    std::string_view typeName = {};  // an enumeration's name, else empty
};

struct MemberDesc {
    DispId id;
    std::string_view name;
    MemberKind kind;
    std::span<const ParamDesc> params;  // for a property put the new value is the last
    VarType result = VarType::Empty;
    std::string_view resultTypeName = {};  // an enumeration's name, else empty
    std::string_view help = {};
    bool hidden = false;
};

// An interface in slot order: members[0] is slot 1.
struct InterfaceDesc {
    std::string_view name;
    Guid iid;
    std::span<const MemberDesc> members;
    std::string_view help = {};
    bool hidden = false;
};

struct EnumConstantDesc {
    std::string_view name;
    std::int32_t value;
    std::string_view help;
};

struct EnumDesc {
    std::string_view name;
    Guid id;
    std::span<const EnumConstantDesc> constants;
};

struct ClassDesc {
    std::string_view name;
    Guid classId;
    std::string_view progId;
    const InterfaceDesc *defaultInterface;
    const InterfaceDesc *events;  // the source interface, or null
};

struct TypeLibDesc {
    std::string_view name;
    Guid id;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint32_t locale;
    std::string_view help;
    std::string_view helpFile;
    std::span<const ClassDesc> classes;
    std::span<const InterfaceDesc *const> interfaces;
    std::span<const EnumDesc> enums;
};

}  // namespace lyx::platform
