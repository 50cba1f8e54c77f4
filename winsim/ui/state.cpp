// Image section of the ui family: the frame title, whether a restart was
// requested, the message boxes shown and the declared WM_QUIT rule.
#include "winsim/ui/state.h"

#include "winsim/image/jsonfield.h"

#include <ostream>

namespace winsim {

void loadUi(const nlohmann::json& section, Machine& m) {
    UiState& ui = *m.ui;
    ui = UiState{};
    if (section.is_null()) return;
    const JsonPointer at = JsonPointer() / "ui";
    onlyMembers(section, {"frame_title", "restart_requested", "message_boxes", "quit_on_window_id", "quit_occurrence",
                          "quit_pending"},
                at);
    ui.frameTitle = jsonField<std::string>(section, "frame_title", ui.frameTitle, at);
    ui.restartRequested = jsonField<bool>(section, "restart_requested", ui.restartRequested, at);
    if (auto it = section.find("message_boxes"); it != section.end() && !it->is_null()) {
        if (!it->is_array()) badField(at / "message_boxes", "expected a list of message boxes");
        for (std::size_t i = 0; i < it->size(); ++i) {
            const nlohmann::json& b = (*it)[i];
            const JsonPointer bat = at / "message_boxes" / i;
            onlyMembers(b, {"caption", "text", "type"}, bat);
            if (!b.contains("caption")) badField(bat / "caption", "missing");
            if (!b.contains("text")) badField(bat / "text", "missing");
            UiMessageBox box;
            box.caption = jsonField<std::string>(b, "caption", "", bat);
            box.text = jsonField<std::string>(b, "text", "", bat);
            box.type = jsonField<UINT>(b, "type", box.type, bat);
            ui.boxes.push_back(box);
        }
    }
    if (section.contains("quit_on_window_id")) {
        ui.quitOnWindowId = jsonField<UINT_PTR>(section, "quit_on_window_id", 0, at);
        if (ui.quitOnWindowId == 0) badField(at / "quit_on_window_id", "expected a window id above 0");
    }
    if (section.contains("quit_occurrence"))
        ui.quitOccurrence = jsonFieldIn<int>(section, "quit_occurrence", 1, 1, 999999, at);
    if (section.contains("quit_pending")) {
        ui.quitPendingAtStart = jsonField<bool>(section, "quit_pending", false, at);
        ui.quitPosted = ui.quitPendingAtStart;
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
