#include "cables/druvel.h"
#include "cables/protocol.h"
#include "cables/mirrow.h"
#include "cables/varnel.h"

namespace sim {

std::unique_ptr<Protocol> CreateProtocol(const std::string& Kind, const nlohmann::json& Device)
{
    if (Kind == "varnel")
        return std::make_unique<VarnelProtocol>(Device);
    if (Kind == "mirrow")
        return std::make_unique<MirrowProtocol>(Device);
    if (Kind == "druvel")
        return std::make_unique<DruvelProtocol>(Device);
    return std::make_unique<SilentProtocol>();
}

} // namespace sim
