// lumaflick with a keep-alive interval of one second, so that tests can see
// the keep-alive without waiting half a minute.
#include <chrono>

#include "cli/command_line.hpp"
#include "program.hpp"

int main(int argc, char** argv)
{
    return lumaflick::run_program(lumaflick::process_command_line(argc, argv), std::chrono::seconds(1));
}
