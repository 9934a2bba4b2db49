// The C signatures of the driver's exports, so that a run-time call by name
// passes each argument and returns the result in the export's own type.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace lyx::dataprovider {

enum class CType : unsigned char { Void, UInt8, Int16, Int32, Pointer, Float };

struct ExportSignature {
    std::string_view name;
    CType result;
    std::size_t count;  // number of parameters
    std::array<CType, 8> params;
};

// The signature of the driver export `name`, or null for a name the driver
// does not have.
const ExportSignature *findExportSignature(std::string_view name);

}  // namespace lyx::dataprovider
