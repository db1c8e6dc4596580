#include "wine_paths.hpp"

#include <algorithm>

namespace lumaflick::test {

std::string windows_path(std::string_view build_path)
{
    std::string path(build_path);
    if (path.starts_with('/')) path.insert(0, "Z:");
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string windows_folder(std::string_view path)
{
    const auto slash = path.find_last_of('\\');
    return std::string(path.substr(0, slash == std::string_view::npos ? 0 : slash));
}

}  // namespace lumaflick::test
