// cFuncCall: calls an export of a library loaded at run time by its name, with
// the arguments in a list of Variants. The component reaches the private
// copies of the driver through it.
//
// Each argument is converted to the export's parameter type (whole numbers by
// the automation conversion; addresses are passed as 64-bit whole numbers) and
// the result comes back in the export's own type: a Long for int results, a
// Single for float results, a LongLong for addresses, Empty for none. Exports
// the driver does not declare are called with every argument as a
// pointer-sized whole number and a Long result.
//
// Failures show the message boxes of the design through LyxMessageBox and
// leave the object usable.
#pragma once

#include <cstdint>
#include <string>

#include "lyx/platform/library.hpp"
#include "lyx/platform/variant.hpp"

namespace lyx::dataprovider {

class cFuncCall {
  public:
    cFuncCall() = default;
    cFuncCall(const cFuncCall &) = delete;
    cFuncCall &operator=(const cFuncCall &) = delete;
    ~cFuncCall() = default;  // frees the library

    // Loads the named library file, after freeing the one loaded. On failure:
    // "Can not find library "<name>"", and no library is held.
    void put_LibraryName(const std::string &sData);
    // Resolves an export of the loaded library (case-sensitive). On failure:
    // "Can not find function entry point for "<name>"" with a note.
    void put_FunctionName(const std::string &sData);
    // 1 = the caller removes the arguments (cdecl), else the callee (stdcall).
    // Both are the platform's C calling convention here.
    void put_CallType(std::int32_t lData) { callType_ = lData; }

    // Calls the resolved export with the elements of FuncParams in order
    // (references contribute their target's value) and clears the resolved
    // address. Without one: "Function not defined!" and 0.
    platform::Variant CallFunction(platform::VariantArray &FuncParams);

    bool libraryLoaded() const { return library_.isOpen(); }
    std::int32_t callType() const { return callType_; }

  private:
    platform::DynamicLibrary library_;
    void *function_ = nullptr;
    std::string functionName_;
    std::int32_t callType_ = 0;
};

}  // namespace lyx::dataprovider
