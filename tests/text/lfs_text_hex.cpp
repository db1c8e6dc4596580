// Each line of standard input (UTF-8) converted to LFS's code pages, as hex,
// one line out per line in: what the cross-check compares with unicode-to-lfs.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "text/lfs_text.hpp"

int main()
{
    const std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::string out;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        constexpr const char* hex = "0123456789abcdef";
        for (const char c : lumaflick::text::to_lfs(std::string_view(input).substr(start, end - start))) {
            const auto byte = static_cast<unsigned char>(c);
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        }
        out += '\n';
        start = end + 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
