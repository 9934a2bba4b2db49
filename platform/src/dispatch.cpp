// Late binding through member tables.

#include "lyx/platform/dispatch.hpp"

#include <cctype>
#include <string>

#include "lyx/platform/automation_error.hpp"

namespace lyx::platform {
namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool answers(const MemberDesc &member, unsigned kind) {
    if (member.kind == MemberKind::PropertyPut) return (kind & kInvokePropertyPut) != 0;
    return (kind & (kInvokeMethod | kInvokePropertyGet)) != 0;
}

std::string quoted(std::string_view name) {
    return "\"" + std::string(name) + "\"";
}

}  // namespace

DispId idOfName(const InterfaceDesc &desc, std::string_view name) {
    for (const MemberDesc &member : desc.members) {
        if (equalsNoCase(member.name, name)) return member.id;
    }
    throw AutomationError(errors::kUnknownName, "Unknown name: " + std::string(desc.name) +
                                                    " has no member " + quoted(name));
}

const MemberDesc &findMember(const InterfaceDesc &desc, DispId id, unsigned kind) {
    const MemberDesc *named = nullptr;
    for (const MemberDesc &member : desc.members) {
        if (member.id != id) continue;
        if (answers(member, kind)) return member;
        named = &member;
    }
    if (named == nullptr) {
        throw AutomationError(errors::kMemberNotFound,
                              "Member not found: " + std::string(desc.name) +
                                  " has no member with dispatch identifier " + std::to_string(id));
    }
    const char *how = (kind & kInvokePropertyPut) != 0         ? " cannot be set"
                      : named->kind == MemberKind::PropertyPut ? " can only be set"
                                                               : " cannot be called so";
    throw AutomationError(errors::kMemberNotFound,
                          "Member not found: " + quoted(named->name) + how);
}

Variant callByName(Dispatch &object, std::string_view name, unsigned kind,
                   std::span<Variant> args) {
    return object.invoke(idOfName(object.typeInfo(), name), kind, args);
}

ArgumentList::ArgumentList(const MemberDesc &member, std::span<Variant> args)
    : member_(member), args_(args) {
    if (args.size() != member.params.size()) {
        throw AutomationError(errors::kBadParamCount,
                              "Invalid number of parameters: " + quoted(member.name) + " takes " +
                                  std::to_string(member.params.size()) + ", " +
                                  std::to_string(args.size()) + " given");
    }
    values_.reserve(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const ParamDesc &param = member.params[i];
        try {
            values_.push_back(convert(args[i], param.type));
        } catch (const AutomationError &e) {
            throw AutomationError(e.number(),
                                  e.description() + " in argument " + std::to_string(i + 1) + " (" +
                                      std::string(param.name) + ") of " + quoted(member.name));
        }
    }
}

void ArgumentList::writeBack() {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (member_.params[i].byRef) args_[i].target() = values_[i];
    }
}

}  // namespace lyx::platform
