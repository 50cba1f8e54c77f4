// Image section of the services family (nothing kept yet).
#include "winsim/services/state.h"

namespace winsim {

void loadService(const nlohmann::json&, Machine&) {}
void saveService(nlohmann::json&, const Machine&) {}
void showService(std::ostream&, const Machine&) {}

}  // namespace winsim
