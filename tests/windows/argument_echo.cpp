// argument-echo: writes back its arguments as Windows' CommandLineToArgvW
// splits them (the way ffmpeg reads its command line on Windows), each as
// UTF-8 followed by a NUL byte, then one record telling what standard input
// held: "stdin:empty" when a read at once gave end of input.

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string to_utf8(const wchar_t* text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) return 3;
    std::string out;
    for (int i = 1; i < count; ++i) {
        out += to_utf8(words[i]);
        out += '\0';
    }
    ::LocalFree(words);

    char first = 0;
    DWORD got = 0;
    const BOOL read = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &first, 1, &got, nullptr);
    out += read && got == 0 ? "stdin:empty" : "stdin:other";
    out += '\0';

    const char* data = out.data();
    DWORD left = static_cast<DWORD>(out.size());
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), data, left, &written, nullptr)) return 4;
        data += written;
        left -= written;
    }
    return 0;
}
