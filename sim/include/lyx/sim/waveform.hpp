// What a simulated module measures, as a function of the time since it was
// powered up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lyx::sim {

struct Waveform {
    enum class Shape {
        Constant,  // offset
        Ramp,      // from offset up to offset + amplitude over each period, then again
        Sine,      // offset + amplitude * sin(2 pi t / period)
        Noise,     // offset + amplitude * u, u uniform in [-1, 1], repeatable for a random key
        Steps,     // steps[k], each held for one period, repeating; offset when empty
        Count,     // offset + the number of packets the module sent before this one
    };

    Shape shape = Shape::Constant;
    double offset = 0.0;
    double amplitude = 0.0;
    double period = 10.0;  // seconds, > 0
    std::vector<double> steps;
    std::uint64_t randomKey = 0;
};

// The value at `seconds` after power-up. Pure: the same arguments give the same
// value (noise included). A count is not a function of time: this gives its
// offset, and the module adds its packet count.
double sample(const Waveform &wave, double seconds);

std::string shapeName(Waveform::Shape shape);
std::optional<Waveform::Shape> parseShape(std::string_view text);

}  // namespace lyx::sim
