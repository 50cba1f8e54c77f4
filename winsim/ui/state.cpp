// Image section of the ui family (nothing kept yet).
#include "winsim/ui/state.h"

namespace winsim {

void loadUi(const nlohmann::json&, Machine&) {}
void saveUi(nlohmann::json&, const Machine&) {}
void showUi(std::ostream&, const Machine&) {}

}  // namespace winsim
