#pragma once

// The picture's rules restated as plainly as possible, to check the frame
// update's fast paths against: used by the unit tests and the fuzzer.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry.hpp"
#include "insim/packets.hpp"

namespace plain {

inline constexpr std::size_t WIDTH = lumaflick::DEFAULT_GEOMETRY.width;

// A line ends each button: 80 pixels of a row, or its end.
inline bool ends_line(std::size_t i, std::size_t width, std::size_t pixels)
{
    return i % width % 80 == 79 || i % width == width - 1 || i + 1 == pixels;
}

inline std::string grey_text(std::span<const std::uint8_t> pixels, const std::array<std::string, 4>& glyphs,
                             std::size_t width = WIDTH)
{
    std::uint64_t sum = 0;
    for (const auto pixel : pixels) sum += pixel;
    const std::uint64_t mean = pixels.empty() ? 0 : sum / pixels.size();
    const std::uint64_t mid = mean >= 16 ? mean : 64;
    const std::uint64_t low = mid / 2;
    const std::uint64_t high = mid + (255 - mid) / 2;
    std::string text;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint64_t v = pixels[i];
        text += glyphs[v < low ? 0 : v < mid ? 1 : v < high ? 2 : 3];
        if (ends_line(i, width, pixels.size())) text += '\n';
    }
    return text;
}

// RGB pixels: each channel on where it exceeds 16 × its 4×4 Bayer rank + 8;
// a pixel is "^N_" with N = R + 2G + 4B.
inline std::string colour_text(std::span<const std::uint8_t> rgb, std::size_t width = WIDTH)
{
    constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    std::string text;
    const std::size_t pixels = rgb.size() / 3;
    for (std::size_t i = 0; i < pixels; ++i) {
        const int threshold = 16 * bayer[(i / width) % 4][(i % width) % 4] + 8;
        int code = 0;
        for (int channel = 0; channel < 3; ++channel) {
            if (rgb[3 * i + static_cast<std::size_t>(channel)] > threshold) code += 1 << channel;
        }
        text += '^';
        text += static_cast<char>('0' + code);
        text += '_';
        if (ends_line(i, width, pixels)) text += '\n';
    }
    return text;
}

// A line ends before its line feed, without a carriage return right before
// it; a final line feed opens no further line.
inline std::vector<std::string_view> lines_of(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

inline insim::IS_BTN button(std::size_t line, std::string_view text,
                            const lumaflick::Geometry& geometry = lumaflick::DEFAULT_GEOMETRY)
{
    insim::IS_BTN packet{};
    packet.ClickID = static_cast<std::uint8_t>(geometry.first_click_id + line);
    packet.BStyle = insim::ISB_DARK;
    packet.L = geometry.left;
    packet.T = static_cast<std::uint8_t>(geometry.top + geometry.row_height * line);
    packet.W = static_cast<std::uint8_t>(40 * geometry.row_height);
    packet.H = geometry.row_height;
    std::memcpy(packet.Text.data(), text.data(), std::min(text.size(), packet.Text.size()));
    return packet;
}

// The text cut at 240 bytes, without the colour codes ^0-^9 that repeat the
// one in force (^^ is a caret, not a code).
inline std::string compacted(std::string_view text)
{
    text = text.substr(0, std::min<std::size_t>(text.size(), insim::BUTTON_TEXT_SIZE));
    std::string out;
    char in_force = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '^' && i + 1 < text.size()) {
            const char next = text[i + 1];
            ++i;
            if (next >= '0' && next <= '9') {
                if (next == in_force) continue;
                in_force = next;
            }
            out += '^';
            out += next;
            continue;
        }
        out += text[i];
    }
    return out;
}

// The packet at its shortest: the head, the text, then zeros up to a
// multiple of 4 (at least one below 240 bytes), Size = bytes / 4.
inline std::vector<std::byte> short_button(const insim::IS_BTN& full, std::string_view text)
{
    const std::size_t size = 12 + std::min<std::size_t>(text.size() + 4 - text.size() % 4, insim::BUTTON_TEXT_SIZE);
    const auto bytes = insim::image(full);
    std::vector<std::byte> packet(bytes.begin(), bytes.begin() + 12);
    for (const char c : text) packet.push_back(static_cast<std::byte>(c));
    packet.resize(size);
    packet[0] = static_cast<std::byte>(size / 4);
    return packet;
}

// The packets of every line of `current` that differs from the same line of
// `previous` (missing lines count as empty), full-size or at their shortest.
inline std::vector<std::byte> changed_buttons(std::string_view current, std::string_view previous,
                                              bool shortest = false)
{
    const auto now = lines_of(current);
    const auto before = lines_of(previous);
    std::vector<std::byte> block;
    for (std::size_t line = 0; line < now.size(); ++line) {
        const std::string_view old = line < before.size() ? before[line] : std::string_view{};
        if (now[line] == old) continue;
        const auto packet = button(line, now[line]);
        if (shortest) {
            const auto bytes = short_button(packet, compacted(now[line]));
            block.insert(block.end(), bytes.begin(), bytes.end());
        } else {
            const auto bytes = insim::image(packet);
            block.insert(block.end(), bytes.begin(), bytes.end());
        }
    }
    return block;
}

// Deterministic bytes that reach every class: frames in which every row changes.
inline std::vector<std::uint8_t> noise(std::size_t size, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

}  // namespace plain
