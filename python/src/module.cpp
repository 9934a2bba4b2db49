// The Python extension module `lyx`: the DataProvider component for scripts.

#include <pybind11/pybind11.h>

#include "data_provider.hpp"
#include "enums.hpp"
#include "errors.hpp"
#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/guid.hpp"
#include "packet.hpp"
#include "pump.hpp"

namespace py = pybind11;

PYBIND11_MODULE(lyx, m) {
    using namespace lyx::python;
    m.doc() = R"(The Lyx DataProvider component for Python scripts.

    import lyx
    with lyx.DataProvider() as dp:
        dp.Initialise(0, 0)                       # the USB base stations
        for packet in dp.packets(timeout=10):     # ten seconds of packets
            print(packet.tag, packet.value, packet.number)

The component must be registered (lyx-regsvr, or `cmake --install`).)";
    m.attr("__version__") = LYX_VERSION;
    m.attr("PROG_ID") = lyx::dataprovider::kProgId;
    m.attr("CLASS_ID") = lyx::platform::toString(lyx::dataprovider::kClassId);
    m.attr("E_INVALID_DATA_TYPE") = static_cast<std::uint32_t>(lyx::dataprovider::kInvalidDataType);
    m.attr("E_INVALID_VALUE") = static_cast<std::uint32_t>(lyx::dataprovider::kInvalidValue);
    m.attr("E_BUSY") = static_cast<std::uint32_t>(lyx::dataprovider::kBusyError);
    m.attr("E_WRONG_THREAD") = kWrongThread;

    bindErrors(m);
    bindEnums(m);
    bindPacket(m);
    bindPump(m);
    DataProviderClass cls = bindDataProvider(m);
    bindInterfaceMembers(m, cls);
}
