#include "export_signatures.hpp"

namespace lyx::dataprovider {
namespace {

using enum CType;

// As declared in LyxDrv.h; the command exports as the driver's C ABI gives them.
constexpr ExportSignature kSignatures[] = {
    {"INITIALISE", Void, 1, {Pointer}},
    {"INITIALISEMULTI", Void, 2, {Pointer, Int32}},
    {"CREATECALLBACKWINDOW", Pointer, 1, {Pointer}},
    {"GETNEXTPACKET", Pointer, 0, {}},
    {"ANYINQUEUE", Int32, 0, {}},
    {"CLRBUFFERS", Void, 0, {}},
    {"OPENPORT", Int32, 2, {Int16, Int32}},
    {"OPENUSB", Int32, 0, {}},
    {"ENUMUSB", Void, 0, {}},
    {"CLOSEPORT", Int32, 0, {}},
    {"WRITEPACKET", Int32, 3, {UInt8, Pointer, Int32}},
    {"SENDBROADCAST", Void, 3, {UInt8, Pointer, Int32}},
    {"VERSION", Float, 0, {}},
    {"READREVISION", Float, 1, {UInt8}},
    {"BIND", Int32, 6, {UInt8, UInt8, Int32, UInt8, Pointer, Pointer}},
    {"BINDASYNC", Int32, 4, {UInt8, UInt8, UInt8, UInt8}},
    {"BINDASYNCPOLL", Int32, 2, {Pointer, Pointer}},
    {"READMODULE", Int32, 4, {UInt8, UInt8, Pointer, Pointer}},
    {"WRITEMODULE", Int32, 4, {UInt8, UInt8, Pointer, Int32}},
    {"READREMOTEMODULE",
     Int32,
     8,
     {UInt8, Int32, UInt8, Pointer, Pointer, Pointer, Pointer, Pointer}},
    {"WRITEREMOTEMODULE",
     Int32,
     8,
     {UInt8, Int32, UInt8, Pointer, Int32, Pointer, Pointer, Pointer}},
    {"READREMOTE", Int32, 8, {UInt8, Int32, UInt8, Pointer, Pointer, Pointer, Pointer, Pointer}},
    {"WRITEREMOTE", Int32, 8, {UInt8, Int32, UInt8, Pointer, Int32, Pointer, Pointer, Pointer}},
    // the driver's extension
    {"LyxDrvGetLinkStatistics", Int32, 1, {Pointer}},
};

}  // namespace

const ExportSignature *findExportSignature(std::string_view name) {
    for (const auto &signature : kSignatures) {
        if (signature.name == name) return &signature;
    }
    return nullptr;
}

}  // namespace lyx::dataprovider
