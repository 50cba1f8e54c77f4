// Reading back what the machine showed.
#include "printsys/fixture.h"

#include "winsim/ui/state.h"

namespace fixture {

std::vector<std::string> messageBoxes() {
    std::vector<std::string> out;
    for (const auto& box : winsim::machine().ui->boxes) out.push_back(box.caption + "|" + box.text);
    return out;
}

}  // namespace fixture
