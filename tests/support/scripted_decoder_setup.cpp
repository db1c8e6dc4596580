#include "scripted_decoder_setup.hpp"

namespace lumaflick::test {

ScriptedDecoderSetup::ScriptedDecoderSetup(std::string_view plan, std::chrono::milliseconds linger)
    : log_(dir_.path() / "scripted.log"),
      plan_env_("SCRIPTED_DECODER_PLAN", dir_.write("plan.txt", plan).string()),
      log_env_("SCRIPTED_DECODER_LOG", log_.string()),
      linger_env_("SCRIPTED_DECODER_LINGER_MS", std::to_string(linger.count()))
{
}

std::string ScriptedDecoderSetup::program() { return SCRIPTED_DECODER_PATH; }

}  // namespace lumaflick::test
