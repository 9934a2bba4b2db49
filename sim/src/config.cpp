// Range and size checks of module and station settings.
#include <cmath>

#include "lyx/sim/module_config.hpp"
#include "lyx/sim/station_config.hpp"

namespace lyx::sim {

namespace {

bool isProbability(double p) {
    return p >= 0.0 && p <= 1.0;
}

}  // namespace

Outcome validate(const Parameter &parameter) {
    if (fixedSize(parameter.value.type) != 0 &&
        parameter.value.bytes.size() != fixedSize(parameter.value.type)) {
        return Outcome::failure("value does not match its type " +
                                dataTypeName(parameter.value.type));
    }
    if (parameter.value.bytes.size() > kMaxValueBytes) {
        return Outcome::failure("value longer than " + std::to_string(kMaxValueBytes) + " bytes");
    }
    if (parameter.min && parameter.max && *parameter.min > *parameter.max) {
        return Outcome::failure("min is above max");
    }
    if (parameter.forcedReply) {
        std::uint8_t r = *parameter.forcedReply;
        if (!((r >= 7 && r <= 10) || (r >= 13 && r <= 16))) {
            return Outcome::failure("reply code must be 7 to 10 or 13 to 16");
        }
    }
    return {};
}

Outcome validate(const ModuleConfig &module) {
    if (module.id == 0 || module.id >= kBroadcastId) {
        return Outcome::failure("module ID must be 1 to 16777214 (0xFFFFFE)");
    }
    if (module.tag == kAllTags) return Outcome::failure("data tag 65535 addresses all modules");
    if (module.channel == 0) return Outcome::failure("radio channel must be 1 to 255");
    if (!(module.rate >= 0.0 && module.rate <= 10000.0)) {
        return Outcome::failure("rate must be 0 to 10000 packets per second");
    }
    if (!(module.wave.period > 0.0) || !std::isfinite(module.wave.period)) {
        return Outcome::failure("period must be above 0 seconds");
    }
    if (!std::isfinite(module.wave.offset) || !std::isfinite(module.wave.amplitude)) {
        return Outcome::failure("offset and amplitude must be finite");
    }
    if (module.decimals < 0 || module.decimals > 9) {
        return Outcome::failure("decimals must be 0 to 9");
    }
    if (module.latency.count() < 0 || module.sleepTimer.count() < 0 ||
        module.pauseTime.count() < 0) {
        return Outcome::failure("times must not be negative");
    }
    if (module.fixedValue) {
        if (module.layout != Layout::Value) {
            return Outcome::failure("a fixed value needs the plain value layout");
        }
        if (isNumeric(module.type)) {
            return Outcome::failure("a fixed value needs a string, binary or other type");
        }
        if (module.fixedValue->size() > kMaxValueBytes) {
            return Outcome::failure("value longer than " + std::to_string(kMaxValueBytes) +
                                    " bytes");
        }
    }
    for (const auto &[number, p] : module.parameters) {
        if (auto ok = validate(p); !ok) {
            return Outcome::failure("parameter " + std::to_string(number) + ": " + ok.error());
        }
    }
    for (const auto &[number, p] : module.radioParameters) {
        if (auto ok = validate(p); !ok) {
            return Outcome::failure("radio parameter " + std::to_string(number) + ": " +
                                    ok.error());
        }
    }
    return {};
}

Outcome validate(const Faults &faults) {
    if (!isProbability(faults.corrupt) || !isProbability(faults.drop) ||
        !isProbability(faults.replyLoss)) {
        return Outcome::failure("probabilities must be 0 to 1");
    }
    if (faults.noise > 1000 || faults.zeros > 1000) {
        return Outcome::failure("noise and zeros must be 0 to 1000 bytes");
    }
    if (faults.replyDelay.count() < 0 || faults.replyDelay.count() > 60000) {
        return Outcome::failure("reply delay must be 0 to 60 s");
    }
    return {};
}

Outcome validate(const StationConfig &station) {
    if (station.number < 0 || station.number > 255) {
        return Outcome::failure("station number must be 0 to 255");
    }
    if (station.id > 0xFFFFFF) return Outcome::failure("station ID must be 0 to 16777215");
    if (station.channel == 0) return Outcome::failure("radio channel must be 1 to 255");
    if (station.usb && station.usbFolder.empty()) {
        return Outcome::failure("no folder for the virtual HID bus (set LYX_VHID_DIR)");
    }
    if (station.serialPort && station.com > 0 && station.portFolder.empty()) {
        return Outcome::failure("no port folder for COM" + std::to_string(station.com));
    }
    if (station.com < 0) return Outcome::failure("COM number must be 1 or more");
    if (station.usbName.find('/') != std::string::npos) {
        return Outcome::failure("the socket name must not contain '/'");
    }
    return validate(station.faults);
}

}  // namespace lyx::sim
