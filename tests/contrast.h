#pragma once

// WCAG 2 relative luminance and contrast ratio of "#rrggbb" colours, for
// tests that check a colour scheme stays readable.

#include <cmath>
#include <optional>
#include <string_view>

namespace contrast {

struct Rgb {
    int red, green, blue;  // 0..255 each
};

inline std::optional<int> hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

// "#rrggbb" (either case) as its three channels, or nothing for any other text.
inline std::optional<Rgb> parseHexColour(std::string_view text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        auto high = hexDigit(text[1 + 2 * i]);
        auto low = hexDigit(text[2 + 2 * i]);
        if (!high || !low) return std::nullopt;
        channels[i] = *high * 16 + *low;
    }
    return Rgb{channels[0], channels[1], channels[2]};
}

// One sRGB channel (0..255) as linear light (0..1).
inline double linearChannel(int value) {
    double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

inline double relativeLuminance(Rgb colour) {
    return 0.2126 * linearChannel(colour.red) + 0.7152 * linearChannel(colour.green) +
           0.0722 * linearChannel(colour.blue);
}

// From 1 (same luminance) to 21 (black on white); the order of a and b does not matter.
inline double contrastRatio(Rgb a, Rgb b) {
    double la = relativeLuminance(a), lb = relativeLuminance(b);
    double lighter = la > lb ? la : lb, darker = la > lb ? lb : la;
    return (lighter + 0.05) / (darker + 0.05);
}

// The ratio of two "#rrggbb" texts, or nothing when either is not one.
inline std::optional<double> contrastRatio(std::string_view a, std::string_view b) {
    auto ca = parseHexColour(a), cb = parseHexColour(b);
    if (!ca || !cb) return std::nullopt;
    return contrastRatio(*ca, *cb);
}

// WCAG AA for normal text.
inline constexpr double minimumTextContrast = 4.5;

}  // namespace contrast
