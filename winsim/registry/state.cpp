// Image section of the registry family (nothing kept yet).
#include "winsim/registry/state.h"

namespace winsim {

void loadRegistry(const nlohmann::json&, Machine&) {}
void saveRegistry(nlohmann::json&, const Machine&) {}
void showRegistry(std::ostream&, const Machine&) {}

}  // namespace winsim

namespace winsim {
void readRegistryFolder(const std::filesystem::path&, Machine&) {}
void writeRegistryFolder(const std::filesystem::path&, const Machine&) {}
}  // namespace winsim
