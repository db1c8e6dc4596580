#include "options.hpp"

#include <fstream>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>

#include "decimal.hpp"
#include "insim/packets.hpp"

namespace insim_screen {

namespace {

template <typename Number>
std::optional<Number> parse_number(std::string_view text, std::uint32_t most)
{
    const auto value = parse_decimal(text, most);
    if (!value) return std::nullopt;
    return static_cast<Number>(*value);
}

std::optional<std::string> read_text_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return std::nullopt;
    return std::move(text).str();
}

OptionsExit usage_error(const CLI::App& app, const std::string& text)
{
    return {2, "", "insim-screen: " + text + "\n" + app.get_name() + ": run with --help for more information.\n"};
}

}  // namespace

std::optional<ListenAddress> parse_listen_address(std::string_view text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    ListenAddress result;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto dot = host.find('.');
        if ((i < 3) == (dot == std::string_view::npos)) return std::nullopt;
        const auto part = parse_number<std::uint8_t>(host.substr(0, dot), 255);
        if (!part) return std::nullopt;
        result.address[i] = *part;
        host = i < 3 ? host.substr(dot + 1) : std::string_view{};
    }
    const auto port = parse_number<std::uint16_t>(text.substr(colon + 1), 65535);
    if (!port || result.address[0] != 127) return std::nullopt;
    result.port = *port;
    return result;
}

std::variant<ScreenOptions, OptionsExit> parse_options(std::span<const std::string> words)
{
    CLI::App app{"A stand-in LFS screen: an InSim host on this machine that draws the buttons it receives.",
                 "insim-screen"};
    std::string listen = "127.0.0.1:11000";
    std::string keepalive = "30000";
    ScreenOptions options;
    std::optional<std::string> events;
    std::string show = "0";
    std::vector<std::string> guest_snapshots;
    app.add_option("--listen", listen, "Loopback address and port to listen on (port 0: any free one)")
        ->type_name("ADDR:PORT")
        ->capture_default_str();
    app.add_option("--password", options.password, "Admin password the client must send (any when not given)")
        ->type_name("P");
    app.add_option("--snapshot", options.snapshot, "Write the host's last screen as a PNG image when a client leaves")
        ->type_name("FILE.png");
    app.add_option("--transcript", options.transcript, "Write one line per received packet")->type_name("FILE");
    app.add_option("--port-file", options.port_file, "Write the port listened on, once listening")
        ->type_name("FILE");
    app.add_flag("--keep", options.keep, "Stay for the next client instead of exiting");
    app.add_option("--keepalive", keepalive, "Send a keep-alive (TINY_NONE) this often, as LFS does (0: never)")
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--events", events,
                   "Play these events to each client, a line each: AT_MS EVENT UCID [NAME], AT_MS after the "
                   "client's init packet, EVENT join, leave, clear (the user clears the buttons) or request "
                   "(asks for them again); or AT_MS o TEXT (/o TEXT typed on the host); # starts a comment line")
        ->type_name("FILE");
    app.add_flag("--stdin-events", options.stdin_events,
                 "Take events from standard input as they come, a line each without AT_MS (join 2 bob, o pause)");
    app.add_option("--show", show, "The connection whose screen the terminal draws (0: the host's)")
        ->type_name("UCID")
        ->capture_default_str();
    app.add_option("--guest-snapshot", guest_snapshots,
                   "Write connection UCID's last screen as a PNG when the client leaves (a guest that left "
                   "before: its screen as it left); may be repeated")
        ->type_name("UCID=FILE.png");

    std::vector<const char*> argv;
    argv.reserve(words.size());
    for (const auto& word : words) argv.push_back(word.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(e, out, err);
        return OptionsExit{code == 0 ? 0 : 2, out.str(), err.str()};
    }

    const auto address = parse_listen_address(listen);
    if (!address) {
        return usage_error(app, "--listen: \"" + listen + "\" is not a loopback IPv4 address and port (127.x.y.z:PORT)");
    }
    options.listen = *address;
    // A day at most; 0 sends none.
    const auto keepalive_ms = parse_number<std::uint32_t>(keepalive, 86'400'000);
    if (!keepalive_ms) return usage_error(app, "--keepalive: \"" + keepalive + "\" is not a number of milliseconds");
    options.keepalive = std::chrono::milliseconds(*keepalive_ms);
    if (options.password && options.password->size() >= insim::ADMIN_SIZE) {
        return usage_error(app, "--password: an InSim admin password has at most 15 characters");
    }
    if (events) {
        const auto text = read_text_file(*events);
        if (!text) return usage_error(app, "--events: cannot read " + *events);
        auto script = parse_event_script(*text);
        if (!script) return usage_error(app, "--events: " + *events + ": " + script.failure().text);
        options.events = std::move(*script);
    }
    const auto shown = parse_number<std::uint8_t>(show, 254);
    if (!shown) return usage_error(app, "--show: \"" + show + "\" is not a UCID (0 to 254)");
    options.show = *shown;
    for (const auto& snapshot : guest_snapshots) {
        const auto equals = snapshot.find('=');
        const auto ucid = parse_number<std::uint8_t>(std::string_view(snapshot).substr(0, equals), 254);
        if (equals == std::string::npos || !ucid || equals + 1 == snapshot.size()) {
            return usage_error(app, "--guest-snapshot: \"" + snapshot + "\" is not UCID=FILE.png (UCID 0 to 254)");
        }
        options.guest_snapshots.push_back({*ucid, snapshot.substr(equals + 1)});
    }
    return options;
}

}  // namespace insim_screen
