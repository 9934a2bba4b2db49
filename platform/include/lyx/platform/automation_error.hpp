// The one error type of the automation layer: a number (an HRESULT) and a
// description. Components raise it, clients catch it; late-bound calls report
// the same number and text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "LyxPlatform.h"

namespace lyx::platform {

class LYX_PLATFORM_API AutomationError : public std::runtime_error {
  public:
    AutomationError(std::int32_t number, const std::string &description);
    ~AutomationError() override;
    AutomationError(const AutomationError &) = default;
    AutomationError &operator=(const AutomationError &) = default;

    std::int32_t number() const noexcept { return number_; }
    std::string description() const { return what(); }

  private:
    std::int32_t number_;
};

// An HRESULT written as its usual unsigned hexadecimal constant.
constexpr std::int32_t hresult(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

// The numbers the stand-in raises, with the meaning they have on the system the
// design comes from.
namespace errors {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kFalse = 1;
inline constexpr std::int32_t kNotImplemented = hresult(0x80004001);   // E_NOTIMPL
inline constexpr std::int32_t kNoInterface = hresult(0x80004002);      // E_NOINTERFACE
inline constexpr std::int32_t kPointer = hresult(0x80004003);          // E_POINTER
inline constexpr std::int32_t kUnexpected = hresult(0x8000FFFF);       // E_UNEXPECTED
inline constexpr std::int32_t kInvalidArgument = hresult(0x80070057);  // E_INVALIDARG
inline constexpr std::int32_t kOutOfMemory = hresult(0x8007000E);      // E_OUTOFMEMORY
inline constexpr std::int32_t kModuleNotFound = hresult(0x8007007E);   // ERROR_MOD_NOT_FOUND
inline constexpr std::int32_t kMemberNotFound = hresult(0x80020003);   // DISP_E_MEMBERNOTFOUND
inline constexpr std::int32_t kTypeMismatch = hresult(0x80020005);     // DISP_E_TYPEMISMATCH
inline constexpr std::int32_t kUnknownName = hresult(0x80020006);      // DISP_E_UNKNOWNNAME
inline constexpr std::int32_t kDispOverflow = hresult(0x8002000A);     // DISP_E_OVERFLOW
inline constexpr std::int32_t kBadParamCount = hresult(0x8002000E);    // DISP_E_BADPARAMCOUNT
inline constexpr std::int32_t kClassNotAvailable =
    hresult(0x80040111);  // CLASS_E_CLASSNOTAVAILABLE
inline constexpr std::int32_t kClassNotRegistered = hresult(0x80040154);  // REGDB_E_CLASSNOTREG
inline constexpr std::int32_t kNoConnection = hresult(0x80040200);        // CONNECT_E_NOCONNECTION
inline constexpr std::int32_t kCannotConnect = hresult(0x80040202);       // CONNECT_E_CANNOTCONNECT
inline constexpr std::int32_t kSelfRegClass = hresult(0x80040201);        // SELFREG_E_CLASS
inline constexpr std::int32_t kInvalidClassString = hresult(0x800401F3);  // CO_E_CLASSSTRING
inline constexpr std::int32_t kErrorInDll = hresult(0x800401F9);          // CO_E_ERRORINDLL
// Run-time errors of the automation language, as numbers in FACILITY_CONTROL.
inline constexpr std::int32_t kOverflow = hresult(0x800A0006);             // 6 "Overflow"
inline constexpr std::int32_t kSubscriptOutOfRange = hresult(0x800A0009);  // 9
inline constexpr std::int32_t kFileNotFound = hresult(0x800A0035);         // 53
inline constexpr std::int32_t kPermissionDenied = hresult(0x800A0046);     // 70
inline constexpr std::int32_t kPathFileAccess = hresult(0x800A004B);       // 75
inline constexpr std::int32_t kPathNotFound = hresult(0x800A004C);         // 76
}  // namespace errors

}  // namespace lyx::platform
