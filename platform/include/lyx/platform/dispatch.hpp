// Late binding: every member of an interface can be called by name, without
// regard to case, with a list of Variants, driven by the interface's member
// table.
//
// Arguments are in the order of the parameters (element 0 is the first). An
// argument for a by-reference parameter may be a reference Variant
// (Variant::ref); the member's output is written back to what it refers to,
// or to the argument itself when it is not a reference.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "LyxPlatform.h"
#include "lyx/platform/type_info.hpp"
#include "lyx/platform/unknown.hpp"
#include "lyx/platform/variant.hpp"

namespace lyx::platform {

// How a member is invoked; a caller that does not know may combine Method and
// PropertyGet, as scripting languages do.
inline constexpr unsigned kInvokeMethod = 1;
inline constexpr unsigned kInvokePropertyGet = 2;
inline constexpr unsigned kInvokePropertyPut = 4;

class Dispatch : public Unknown {
  public:
    static constexpr Guid iid = guid("{00020400-0000-0000-C000-000000000046}");
    using Base = Unknown;

    // The member table of the object's default interface.
    virtual const InterfaceDesc &typeInfo() const noexcept = 0;
    // Calls member `id` as `kind`; raises AutomationError for a bad call and
    // passes on the errors the member raises.
    virtual Variant invoke(DispId id, unsigned kind, std::span<Variant> args) = 0;

  protected:
    ~Dispatch() = default;
};

// The dispatch identifier of `name` (any case); raises "Unknown name".
LYX_PLATFORM_API DispId idOfName(const InterfaceDesc &desc, std::string_view name);

// The member `id` that can be invoked as `kind`; raises "Member not found".
LYX_PLATFORM_API const MemberDesc &findMember(const InterfaceDesc &desc, DispId id, unsigned kind);

// Calls a member by name: idOfName + invoke.
LYX_PLATFORM_API Variant callByName(Dispatch &object, std::string_view name, unsigned kind,
                                    std::span<Variant> args);

// The arguments of one call, converted to the member's parameter types; after
// the member has run, writeBack() hands the by-reference values back.
class LYX_PLATFORM_API ArgumentList {
  public:
    // Raises "Invalid number of parameters", "Type mismatch" or the overflow
    // error, naming the member and the parameter.
    ArgumentList(const MemberDesc &member, std::span<Variant> args);
    std::span<Variant> values() { return values_; }
    void writeBack();

  private:
    const MemberDesc &member_;
    std::span<Variant> args_;
    std::vector<Variant> values_;
};

// Invokes through a table of handlers, one per slot of `desc` (handlers[i]
// serves desc.members[i]); the handler receives the converted arguments.
template <class Object>
using MemberHandler = Variant (*)(Object &object, std::span<Variant> args);

template <class Object>
Variant invokeFromTable(const InterfaceDesc &desc, std::span<const MemberHandler<Object>> handlers,
                        Object &object, DispId id, unsigned kind, std::span<Variant> args) {
    const MemberDesc &member = findMember(desc, id, kind);
    ArgumentList list(member, args);
    Variant result =
        handlers[static_cast<std::size_t>(&member - desc.members.data())](object, list.values());
    list.writeBack();
    return result;
}

}  // namespace lyx::platform
