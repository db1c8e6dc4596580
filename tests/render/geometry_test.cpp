#include "geometry.hpp"

#include <gtest/gtest.h>

namespace lumaflick {
namespace {

TEST(Geometry, PlacesEachButtonOfARowSideBySide)
{
    const Geometry wide{.width = 200, .rows = 10, .left = 10, .top = 7, .row_height = 2, .first_click_id = 0};
    const Geometry quarter{.width = 160, .rows = 60, .row_height = 3};
    const struct {
        Geometry geometry;
        std::size_t k;
        ButtonPlace expected;
    } cases[] = {
        {DEFAULT_GEOMETRY, 29, {.click_id = 30, .left = 0, .top = 174, .width = 240, .first_pixel = 2320, .pixels = 80}},
        {quarter, 0, {.click_id = 1, .left = 0, .top = 0, .width = 120, .style = 128, .first_pixel = 0, .pixels = 80}},
        {quarter, 3, {.click_id = 4, .left = 120, .top = 3, .width = 120, .style = 64, .first_pixel = 240, .pixels = 80}},
        {wide, 4, {.click_id = 4, .left = 90, .top = 9, .width = 80, .style = 0, .first_pixel = 280, .pixels = 80}},
        {wide, 5, {.click_id = 5, .left = 170, .top = 9, .width = 40, .style = 64, .first_pixel = 360, .pixels = 40}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.geometry.button(c.k), c.expected) << c.geometry.width << " " << c.k;
}

TEST(Geometry, LargestRowHeightKeepsEveryLimit)
{
    const struct {
        GeometryRequest request;
        std::optional<std::uint8_t> height;
    } cases[] = {
        {{.width = 80, .rows = 30}, 6},
        {{.width = 160, .rows = 60}, 3},
        {{.width = 120, .rows = 45}, 4},
        {{.width = 160, .rows = 90}, 2},
        {{.first_click_id = 0, .width = 240, .rows = 80}, 2},
        {{.width = 81, .rows = 30}, 4},    // 5 would make the one-pixel button half a unit
        {{.left = 100, .width = 160, .rows = 60}, 2},
        {{.width = 81, .rows = 101}, std::nullopt},
        {{.width = 481, .rows = 10}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(largest_row_height(c.request), c.height) << c.request.width << "x" << c.request.rows;
    }
}

// Geometries are {width, rows, left, top, row height}.
TEST(FitToShape, TheLargestPictureOfTheShapeCentredInTheBox)
{
    const Geometry box{};
    const Geometry quarter{.width = 160, .rows = 60, .row_height = 3};
    const Geometry right_edge{.width = 100, .rows = 10, .left = 160, .row_height = 1};
    const struct {
        Geometry box;
        DisplaySize shape;
        Geometry expected;
    } cases[] = {
        {box, {1280, 720}, {80, 22, 0, 24, 6}},
        {box, {720, 1280}, {33, 30, 70, 0, 6}},
        {box, {853, 480}, {80, 22, 0, 24, 6}},
        {box, {1, 1}, {60, 30, 30, 0, 6}},
        {box, {640, 480}, {80, 30, 0, 0, 6}},
        {box, {100000, 1}, {80, 1, 0, 87, 6}},
        {box, {1, 100000}, {1, 30, 118, 0, 6}},
        {quarter, {1280, 720}, {160, 45, 0, 22, 3}},
        {quarter, {720, 1280}, {66, 60, 70, 0, 3}},  // 67 pixels would be 100.5 units
        {quarter, {1, 100000}, {2, 60, 118, 0, 3}},
        {right_edge, {9, 2}, {90, 10, 160, 0, 1}},   // centring would put L at 202
        {box, {0, 720}, box},
    };
    for (const auto& c : cases) {
        Geometry expected = c.expected;
        expected.first_click_id = c.box.first_click_id;
        EXPECT_EQ(fit_to_shape(c.box, c.shape), expected) << c.shape.width << "x" << c.shape.height;
    }
}

}  // namespace
}  // namespace lumaflick
