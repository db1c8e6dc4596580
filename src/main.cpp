#include "cli/command_line.hpp"
#include "program.hpp"

int main(int argc, char** argv)
{
    return lumaflick::run_program(lumaflick::process_command_line(argc, argv));
}
