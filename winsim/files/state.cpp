// Image section of the files family (nothing kept yet).
#include "winsim/files/state.h"

namespace winsim {

void loadFile(const nlohmann::json&, Machine&) {}
void saveFile(nlohmann::json&, const Machine&) {}
void showFile(std::ostream&, const Machine&) {}

}  // namespace winsim
