// Image section of the ui family: the frame title, whether a restart was
// requested, the message boxes shown and the declared WM_QUIT rule.
#include "winsim/ui/state.h"

#include "winsim/image/image.h"

#include <ostream>

namespace winsim {

namespace {
const char* kWhere = "machine.json";

void expect(bool ok, const std::string& what) {
    if (!ok) throw ImageError(kWhere, 0, "ui: " + what);
}
}  // namespace

void loadUi(const nlohmann::json& section, Machine& m) {
    UiState& ui = *m.ui;
    ui = UiState{};
    if (section.is_null()) return;
    expect(section.is_object(), "expected an object");
    for (auto& [key, v] : section.items()) {
        if (key == "frame_title") {
            expect(v.is_string(), "frame_title: expected a string");
            ui.frameTitle = v.get<std::string>();
        } else if (key == "restart_requested") {
            expect(v.is_boolean(), "restart_requested: expected true or false");
            ui.restartRequested = v.get<bool>();
        } else if (key == "message_boxes") {
            expect(v.is_array(), "message_boxes: expected an array");
            for (auto& b : v) {
                expect(b.is_object() && b.value("caption", nlohmann::json()).is_string() &&
                           b.value("text", nlohmann::json()).is_string(),
                       "message_boxes: each entry needs \"caption\" and \"text\" strings");
                UiMessageBox box;
                box.caption = b["caption"].get<std::string>();
                box.text = b["text"].get<std::string>();
                if (b.contains("type")) {
                    expect(b["type"].is_number_unsigned(), "message_boxes: \"type\" must be a number");
                    box.type = b["type"].get<UINT>();
                }
                ui.boxes.push_back(box);
            }
        } else if (key == "quit_on_window_id") {
            expect(v.is_number_unsigned() && v.get<std::uint64_t>() > 0,
                   "quit_on_window_id: expected a positive number");
            ui.quitOnWindowId = v.get<UINT_PTR>();
        } else if (key == "quit_occurrence") {
            expect(v.is_number_unsigned() && v.get<std::uint64_t>() > 0 && v.get<std::uint64_t>() < 1000000,
                   "quit_occurrence: expected a positive number");
            ui.quitOccurrence = v.get<int>();
        } else if (key == "quit_pending") {
            expect(v.is_boolean(), "quit_pending: expected true or false");
            ui.quitPendingAtStart = v.get<bool>();
            ui.quitPosted = ui.quitPendingAtStart;
        } else {
            expect(false, "unknown member \"" + key + "\"");
        }
    }
}

void saveUi(nlohmann::json& section, const Machine& m) {
    const UiState& ui = *m.ui;
    nlohmann::json j = nlohmann::json::object();
    if (!ui.frameTitle.empty()) j["frame_title"] = ui.frameTitle;
    if (ui.restartRequested) j["restart_requested"] = true;
    if (!ui.boxes.empty()) {
        nlohmann::json arr = nlohmann::json::array();
        for (auto& b : ui.boxes) arr.push_back({{"caption", b.caption}, {"text", b.text}, {"type", b.type}});
        j["message_boxes"] = arr;
    }
    if (ui.quitOnWindowId) {
        j["quit_on_window_id"] = ui.quitOnWindowId;
        if (ui.quitOccurrence != 1) j["quit_occurrence"] = ui.quitOccurrence;
    }
    if (ui.quitPendingAtStart) j["quit_pending"] = true;
    if (!j.empty()) section = j;
}

void showUi(std::ostream& out, const Machine& m) {
    const UiState& ui = *m.ui;
    out << "ui:\n";
    out << "  frame title: " << (ui.frameTitle.empty() ? "(none)" : ui.frameTitle) << "\n";
    out << "  restart requested: " << (ui.restartRequested ? "yes" : "no") << "\n";
    out << "  message boxes shown: " << ui.boxes.size() << "\n";
    for (auto& b : ui.boxes) out << "    " << b.caption << ": " << b.text << "\n";
    if (ui.quitOnWindowId)
        out << "  WM_QUIT when window " << ui.quitOnWindowId << " opens (time " << ui.quitOccurrence << ")\n";
}

}  // namespace winsim
