#include "scenario/scenario.h"

#include "scenario/faults.h"

#include <fstream>
#include <limits>
#include <sstream>
#include <type_traits>

namespace sim {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& Where, const std::string& What)
{
    throw ScenarioError("scenario: " + Where + ": " + What);
}

// Numbers as every scenario value is written: a JSON integer, or text in
// hex ("0x" optional, "0b" for binary).
uint64_t Number(const json& Value, const std::string& Where, uint64_t Max)
{
    uint64_t n = 0;
    try {
        n = ConfigUnsigned(Value, Where);
    } catch (const ConfigError& e) {
        throw ScenarioError(std::string("scenario: ") + e.what());
    }
    if (n > Max)
        Fail(Where, "out of range");
    return n;
}

template <typename T>
T Get(const json& Object, const char* Key, const std::string& Where, T Default)
{
    const auto it = Object.find(Key);
    if (it == Object.end() || it->is_null())
        return Default;
    const std::string where = Where + "." + Key;
    if constexpr (std::is_same_v<T, bool>) {
        if (!it->is_boolean())
            Fail(where, "must be true or false");
        return it->get<bool>();
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!it->is_string())
            Fail(where, "must be a text");
        return it->get<std::string>();
    } else {
        return static_cast<T>(Number(*it, where, std::numeric_limits<T>::max()));
    }
}

ScenarioDevice ParseDevice(const json& Object, const std::string& Where)
{
    if (!Object.is_object())
        Fail(Where, "must be an object");
    for (const char* key : {"vid", "pid"})
        if (!Object.contains(key))
            Fail(Where, std::string("has no \"") + key + "\"");
    ScenarioDevice d;
    d.Vid = Get<uint16_t>(Object, "vid", Where, 0);
    d.Pid = Get<uint16_t>(Object, "pid", Where, 0);
    d.Serial = Get<std::string>(Object, "serial", Where, "");
    d.Description = Get<std::string>(Object, "description", Where, "");
    d.Kind = Get<std::string>(Object, "kind", Where, "other");
    d.Type = Get<uint32_t>(Object, "type", Where, d.Type);
    d.Busy = Get<bool>(Object, "busy", Where, false);
    d.InfoFails = Get<bool>(Object, "info_fails", Where, false);
    d.ReadTimeoutMs = Get<uint32_t>(Object, "read_timeout_ms", Where, 0);
    d.Config = Object;
    return d;
}

} // namespace

Scenario ParseScenario(const json& Json)
{
    if (!Json.is_object())
        Fail("top level", "must be an object");
    Scenario s;
    s.VidPidFilter = Get<bool>(Json, "vidpid_filter", "top level", false);
    const auto devices = Json.find("devices");
    if (devices == Json.end())
        return s;
    if (!devices->is_array())
        Fail("devices", "must be an array");
    for (size_t i = 0; i < devices->size(); ++i)
        s.Devices.push_back(ParseDevice((*devices)[i], "devices[" + std::to_string(i) + "]"));
    return s;
}

Scenario ReadScenario(const std::string& PathOrJson)
{
    const size_t first = PathOrJson.find_first_not_of(" \t\r\n");
    std::string text;
    if (first != std::string::npos && PathOrJson[first] == '{') {
        text = PathOrJson;
    } else {
        std::ifstream file(PathOrJson, std::ios::binary);
        if (!file)
            throw ScenarioError("scenario: cannot read \"" + PathOrJson + "\"");
        std::ostringstream content;
        content << file.rdbuf();
        text = content.str();
    }
    json parsed;
    try {
        parsed = json::parse(text);
    } catch (const json::parse_error& e) {
        throw ScenarioError(std::string("scenario: bad JSON: ") + e.what());
    }
    return ParseScenario(parsed);
}

} // namespace sim
