#include "protocol.h"

namespace sim {

std::unique_ptr<Protocol> CreateProtocol(const std::string& Kind, const nlohmann::json& Device)
{
    (void)Kind;
    (void)Device;
    return std::make_unique<SilentProtocol>();
}

} // namespace sim
