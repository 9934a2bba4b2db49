#include "func_call.hpp"

#include <ffi.h>

#include <utility>
#include <vector>

#include "LyxPlatform.h"
#include "export_signatures.hpp"

namespace lyx::dataprovider {
namespace {

using platform::Variant;
using platform::VarType;

constexpr const char *kFunctionCallError = "Function call error";
constexpr const char *kCallFunctionError = "Call function error";

void showError(const std::string &text, const char *caption) {
    LyxMessageBox(text.c_str(), caption, LYX_MB_OK | LYX_MB_ICONERROR);
}

ffi_type *ffiType(CType type) {
    switch (type) {
        case CType::Void:
            return &ffi_type_void;
        case CType::UInt8:
            return &ffi_type_uint8;
        case CType::Int16:
            return &ffi_type_sint16;
        case CType::Int32:
            return &ffi_type_sint32;
        case CType::Pointer:
            return &ffi_type_pointer;
        case CType::Float:
            return &ffi_type_float;
    }
    return &ffi_type_void;
}

// One argument in the storage its C type needs.
union Argument {
    std::uint8_t u8;
    std::int16_t i16;
    std::int32_t i32;
    void *pointer;
    float f;
};

Argument toArgument(const Variant &value, CType type) {
    Argument a{};
    switch (type) {
        case CType::UInt8:
            a.u8 = static_cast<std::uint8_t>(platform::toInt32(value));
            break;
        case CType::Int16:
            a.i16 = static_cast<std::int16_t>(platform::toInt32(value));
            break;
        case CType::Int32:
            a.i32 = platform::toInt32(value);
            break;
        case CType::Pointer:
            a.pointer = reinterpret_cast<void *>(static_cast<std::intptr_t>(
                platform::convert(value, VarType::Int64).as<std::int64_t>()));
            break;
        case CType::Float:
            a.f = platform::convert(value, VarType::Float).as<float>();
            break;
        case CType::Void:
            break;
    }
    return a;
}

}  // namespace

void cFuncCall::put_LibraryName(const std::string &sData) {
    library_.close();
    if (!library_.open(sData))
        showError("Can not find library \"" + sData + "\"", kFunctionCallError);
}

void cFuncCall::put_FunctionName(const std::string &sData) {
    functionName_ = sData;
    function_ = library_.isOpen() ? library_.symbol(sData.c_str()) : nullptr;
    if (function_ == nullptr) {
        showError("Can not find function entry point for \"" + sData +
                      "\"\r\nNote: function names are case sensitive, check out you function "
                      "spelling!",
                  kFunctionCallError);
    }
}

Variant cFuncCall::CallFunction(platform::VariantArray &FuncParams) {
    void *function = std::exchange(function_, nullptr);
    if (function == nullptr) {
        showError("Function not defined!", kCallFunctionError);
        return std::int32_t{0};
    }

    const std::size_t count = FuncParams.items.size();
    const ExportSignature *signature = findExportSignature(functionName_);
    if (signature != nullptr && signature->count != count) {
        showError("Wrong number of arguments for \"" + functionName_ +
                      "\": " + std::to_string(signature->count) + " expected, " +
                      std::to_string(count) + " given!",
                  kCallFunctionError);
        return std::int32_t{0};
    }
    const CType result = signature != nullptr ? signature->result : CType::Int32;

    std::vector<Argument> arguments(count);
    std::vector<ffi_type *> types(count);
    std::vector<void *> values(count);
    for (std::size_t i = 0; i < count; ++i) {
        CType type = signature != nullptr ? signature->params[i] : CType::Pointer;
        arguments[i] = toArgument(FuncParams.items[i].target(), type);
        types[i] = ffiType(type);
        values[i] = &arguments[i];
    }

    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count), ffiType(result),
                     types.data()) != FFI_OK) {
        return std::int32_t{0};  // errors of the call mechanism leave the result 0
    }
    // Integer results are widened to a whole register by the call.
    union {
        ffi_arg whole;
        ffi_sarg signedWhole;
        float single;
        void *pointer;
    } returned{};
    ffi_call(&cif, reinterpret_cast<void (*)()>(function), &returned, values.data());

    switch (result) {
        case CType::Void:
            return {};
        case CType::Float:
            return returned.single;
        case CType::Pointer:
            return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(returned.pointer));
        default:
            return static_cast<std::int32_t>(returned.signedWhole);
    }
}

}  // namespace lyx::dataprovider
