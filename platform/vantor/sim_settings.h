// The simulated adapter's settings and the text they are read from.
//
// Grammar (the VANTOR_SIM environment variable, or ApplySettings in tests):
//
//   settings := item { ";" item }
//   item     := empty | name "=" value        (blanks around names and values are ignored)
//
//   devices=N:T,N:T...   attached devices: number 0..31 and signed decimal type code;
//                        an empty value means none attached          default 0:0
//   unopenable=N,N...    device numbers whose opening fails          default none
//   version=X            driver version reported (decimal number)    default kOwnDriverVersion
//   far_end=both|target|loopback|silent                              default both
//   target=HH            target logical address, 20 to ff (hex)      default fe
//   key=HH               key the target demands                      default any key accepted
//   send_status=S        every send ends with status S (0..14)       default none
//   read_status=S        every read ends with status S (0..14)       default none
//   trace=PATH           append sent (">") and delivered ("<") packets to PATH
//
// Names and the far_end words are matched without regard to case.  A later
// setting of the same name replaces an earlier one.  An item that is not
// name=value, an unknown name or an unusable value is malformed: it is ignored
// (the setting keeps its default) and named in the complaint line.
//
// Example: "devices=0:0,3:6; unopenable=3; key=20; far_end=target" attaches a
// Pelmar as device 0 and a Holbeck as device 3 that will not open; the target
// answers only commands carrying key 0x20 and other packets are not looped back.
#ifndef ZARK_PLATFORM_VANTOR_SIM_SETTINGS_H
#define ZARK_PLATFORM_VANTOR_SIM_SETTINGS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor_sim {

// Reported by Vantor_GetDriverVersion unless version= says otherwise.
inline constexpr double kOwnDriverVersion = 4.01;

enum class FarEnd { Both, Target, Loopback, Silent };

struct AttachedDevice {
    int number = 0;
    int type = 0;
};

struct Settings {
    std::vector<AttachedDevice> devices{AttachedDevice{0, 0}};
    std::uint32_t unopenable_mask = 0;
    double version = kOwnDriverVersion;
    FarEnd far_end = FarEnd::Both;
    std::uint8_t target_logical_address = 0xfe;
    std::optional<std::uint8_t> key;
    std::optional<int> send_status;
    std::optional<int> read_status;
    std::string trace_path;
};

struct ParsedSettings {
    Settings settings;
    std::vector<std::string> malformed; // each offending item, as written
};

ParsedSettings ParseSettings(std::string_view text);

// The one complaint line for the malformed items, with its line feed; empty when there are none.
std::string ComplaintLine(const std::vector<std::string> &malformed);

} // namespace vantor_sim

#endif
