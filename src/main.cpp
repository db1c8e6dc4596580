#include "cli/command_line.hpp"
#include "console.hpp"
#include "program.hpp"

int main(int argc, char** argv)
{
    lumaflick::use_utf8_console();
    return lumaflick::run_program(lumaflick::process_command_line(argc, argv));
}
