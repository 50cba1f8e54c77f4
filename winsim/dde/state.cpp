// Image section of the dde family (nothing kept yet).
#include "winsim/dde/state.h"

namespace winsim {

void loadDde(const nlohmann::json&, Machine&) {}
void saveDde(nlohmann::json&, const Machine&) {}
void showDde(std::ostream&, const Machine&) {}

}  // namespace winsim
