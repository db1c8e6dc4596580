#include "picture.hpp"

namespace insim_screen {

Rgb colour_rgb(Colour colour) noexcept
{
    switch (colour) {
        case Colour::black: return {0, 0, 0};
        case Colour::red: return {255, 0, 0};
        case Colour::green: return {0, 255, 0};
        case Colour::yellow: return {255, 255, 0};
        case Colour::blue: return {0, 0, 255};
        case Colour::violet: return {255, 0, 255};
        case Colour::cyan: return {0, 255, 255};
        case Colour::white: return {255, 255, 255};
        case Colour::standard: return {192, 192, 192};  // a dark button's light grey text
        case Colour::empty: break;
    }
    return {40, 44, 52};  // the dark button background, distinct from ^0
}

}  // namespace insim_screen
