// Image section of the spooler family (nothing kept yet).
#include "winsim/spooler/state.h"

namespace winsim {

void loadSpooler(const nlohmann::json&, Machine&) {}
void saveSpooler(nlohmann::json&, const Machine&) {}
void showSpooler(std::ostream&, const Machine&) {}

}  // namespace winsim
