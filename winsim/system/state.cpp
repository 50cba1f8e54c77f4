// Image section of the system family (nothing kept yet).
#include "winsim/system/state.h"

namespace winsim {

void loadSystem(const nlohmann::json&, Machine&) {}
void saveSystem(nlohmann::json&, const Machine&) {}
void showSystem(std::ostream&, const Machine&) {}

}  // namespace winsim
