// The scenario: which FTDI devices the emulated driver has attached, read
// from JSON.
//
//   { "vidpid_filter": false,          optional: list only FTDI's own ids
//                                      and the pair set by FT_SetVIDPID
//     "devices": [
//       { "vid": "0x0403", "pid": "F1A0",     number, or text in hex ("0x"
//                                              optional, "0b" binary)
//         "serial": "A6010123",                optional 9th character 'A'
//         "description": "VARNEL",             optional
//         "kind": "varnel",                    varnel, mirrow, druvel, other;
//                                              loopback: echoes what is
//                                              written (driver tests)
//         "busy": false,                       open in another program
//         "type": 5,                           FT_DEVICE the driver reports
//         "info_fails": false,                 FT_GetDeviceInfo fails
//         "read_timeout_ms": 0,                FT_Read's wait for missing bytes
//         "trace_writes": false,               a trace line per FT_Write with
//                                              its bytes ("d2xx write <serial>
//                                              A3 A8 EE C8")
//         "short_writes": false,               FT_Write takes all but the last
//                                              byte and still reports success
//         "fast": false,                       no chain simulated, every
//                                              captured bit 1 (faults.h); at
//                                              close a trace line "d2xx calls
//                                              FT_Write=N FT_Read=N
//                                              FT_GetQueueStatus=N"
//         ... any other keys belong to the device's protocol } ] }
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

// Scenario file, or the JSON text itself when it starts with '{'.
inline constexpr const char* ScenarioEnvVar = "ORBESK_SIM_SCENARIO";
// File that every trace line is appended to.
inline constexpr const char* TraceEnvVar = "ORBESK_SIM_TRACE";

struct ScenarioDevice {
    uint16_t Vid = 0;
    uint16_t Pid = 0;
    std::string Serial;
    std::string Description;
    std::string Kind = "other";
    uint32_t Type = 5;
    bool Busy = false;
    bool InfoFails = false;
    uint32_t ReadTimeoutMs = 0;
    nlohmann::json Config; // the whole device object, for its protocol
};

struct Scenario {
    std::vector<ScenarioDevice> Devices;
    bool VidPidFilter = false;
};

class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Scenario ParseScenario(const nlohmann::json& Json);
// A file name, or JSON text when the first non-blank character is '{'.
Scenario ReadScenario(const std::string& PathOrJson);

} // namespace sim
