#include "lyx/sim/waveform.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <numbers>

namespace lyx::sim {

namespace {

// A well-mixed 64-bit hash (splitmix64's finaliser): noise is a pure function
// of the random key and the sample time, so it needs no generator state.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

constexpr std::array<std::pair<Waveform::Shape, const char *>, 6> kShapes{{
    {Waveform::Shape::Constant, "constant"},
    {Waveform::Shape::Ramp, "ramp"},
    {Waveform::Shape::Sine, "sine"},
    {Waveform::Shape::Noise, "noise"},
    {Waveform::Shape::Steps, "steps"},
    {Waveform::Shape::Count, "count"},
}};

}  // namespace

double sample(const Waveform &wave, double seconds) {
    const double period = wave.period > 0 ? wave.period : 1.0;
    switch (wave.shape) {
        case Waveform::Shape::Constant:
        case Waveform::Shape::Count:
            return wave.offset;
        case Waveform::Shape::Ramp: {
            double phase = seconds / period - std::floor(seconds / period);
            return wave.offset + wave.amplitude * phase;
        }
        case Waveform::Shape::Sine:
            return wave.offset +
                   wave.amplitude * std::sin(2.0 * std::numbers::pi * seconds / period);
        case Waveform::Shape::Noise: {
            std::uint64_t h = mix(wave.randomKey ^ mix(std::bit_cast<std::uint64_t>(seconds)));
            double unit = static_cast<double>(h >> 11) / static_cast<double>(1ull << 53);
            return wave.offset + wave.amplitude * (2.0 * unit - 1.0);
        }
        case Waveform::Shape::Steps: {
            if (wave.steps.empty()) return wave.offset;
            auto index = static_cast<long long>(std::floor(seconds / period));
            auto n = static_cast<long long>(wave.steps.size());
            return wave.steps[static_cast<std::size_t>(((index % n) + n) % n)];
        }
    }
    return wave.offset;
}

std::string shapeName(Waveform::Shape shape) {
    for (const auto &[s, name] : kShapes) {
        if (s == shape) return name;
    }
    return "constant";
}

std::optional<Waveform::Shape> parseShape(std::string_view text) {
    for (const auto &[s, name] : kShapes) {
        if (text == name) return s;
    }
    return std::nullopt;
}

}  // namespace lyx::sim
