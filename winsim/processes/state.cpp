// Image section of the processes family (nothing kept yet).
#include "winsim/processes/state.h"

namespace winsim {

void loadProcess(const nlohmann::json&, Machine&) {}
void saveProcess(nlohmann::json&, const Machine&) {}
void showProcess(std::ostream&, const Machine&) {}

}  // namespace winsim
