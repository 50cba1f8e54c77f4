// Image section of the security family (nothing kept yet).
#include "winsim/security/state.h"

namespace winsim {

bool privilegeEnabled(std::string_view) { return true; }

void loadSecurity(const nlohmann::json&, Machine&) {}
void saveSecurity(nlohmann::json&, const Machine&) {}
void showSecurity(std::ostream&, const Machine&) {}

}  // namespace winsim
