// The page library: every dialog the program shows, by dialog number, with
// our own texts, its controls and its buttons (the event words).
#include "internal.h"

#include <algorithm>

namespace kit {

namespace {

const Button kContinue{"CONTINUE", 'c', "Continue"};
const Button kBack{"BACK", 'b', "Back"};
const Button kCancel{"CANCEL", 'q', "Cancel"};
const Button kExit{"EXIT", 'x', "Exit setup"};

const std::vector<Page>& table() {
    static const std::vector<Page> pages = {
        {100, "Welcome",
         "This program installs or removes the Varden network printing software: the network port "
         "monitor, the printer drivers and the utilities.",
         Control::None, {kContinue, kCancel, kExit}},
        {200, "Quit Setup",
         "Setup is not finished. If you quit now, the software will not be installed or removed.",
         Control::None, {{"CONTINUE", 'c', "Resume setup"}, {"EXIT", 'x', "Quit setup"}}},
        {2100, "Newer Windows Version",
         "This version of Windows is newer than the versions this software was made for. You may go on "
         "at your own risk or quit.",
         Control::None, {{"CONTINUE", 'c', "Go on"}, {"EXIT", 'x', "Quit setup"}}},
        {2400, "Administrator Rights Needed",
         "You must be logged on as a member of the Administrators group to install or remove this "
         "software. Setup will now end.",
         Control::None, {kContinue}},
        {2000, "Windows Version Not Supported",
         "This software runs on Windows 95, Windows NT 3.1, 3.5 and 3.51 only. Setup will now end.",
         Control::None, {kContinue}},
        {1000, "Upgrade",
         "An earlier release of the network port monitor is installed. Setup will replace it.",
         Control::None, {kContinue}},
        {1500, "Restart Windows",
         "Windows must be restarted before the new software can be used. Restart now?",
         Control::None, {{"CONTINUE", 'c', "Restart now"}, {"CANCEL", 'q', "Restart later"}}},
        {7803, "Restart Windows",
         "Windows must be restarted to finish removing the software. Restart now?",
         Control::None, {{"CONTINUE", 'c', "Restart now"}, {"CANCEL", 'q', "Restart later"}}},
        {1600, "Restart Failed",
         "Windows could not be restarted automatically. Please restart it yourself.",
         Control::None, {kContinue}},
        {1200, "Printer Setup Wizard",
         "Do you want to run the printer setup wizard now to set up a network printer?",
         Control::None, {{"CONTINUE", 'c', "Yes"}, {"CANCEL", 'q', "No"}}},
        {1400, "Help",
         "Do you want to read the help for the network port monitor now?",
         Control::None, {{"CONTINUE", 'c', "Yes"}, {"CANCEL", 'q', "No"}}},
        {103, "Windows Files Needed",
         "Setup could not find the PostScript driver files of Windows. Put the Windows disks or CD in "
         "place and try again.",
         Control::None, {{"CONTINUE", 'c', "Try again"}, kCancel, kExit}},
        {1300, "Windows Files Needed",
         "Setup could not find the PostScript driver files of Windows NT. Put the Windows NT CD in "
         "place and try again.",
         Control::None, {{"CONTINUE", 'c', "Try again"}, kCancel, kExit}},
        {700, "Installation Complete", "The software has been installed.", Control::None,
         {kContinue, kCancel, kExit}},
        {7802, "Removal Complete", "The software has been removed.", Control::None,
         {kContinue, kCancel, kExit}},
        {6400, "Path Not Valid", "Please type a complete path, such as C:\\WIN32APP.", Control::None,
         {kContinue, kCancel, kExit}},
        {800, "Installation Type", "Choose what setup should do.", Control::Radio,
         {kContinue, kCancel, kExit}},
        {300, "Destination Directory",
         "Type the directory for the utilities and the printer files. The system files always go to "
         "the system drive.",
         Control::DrivesAndEdit, {kContinue, kBack, kCancel, kExit}},
        {1100, "Windows NT Files",
         "Type the path of the Windows NT distribution files (for example D:\\I386).", Control::Edit,
         {kContinue, kBack, kCancel, kExit}},
        {102, "Windows Files",
         "Type the path of the Windows 95 distribution files (for example D:\\WIN95).", Control::Edit,
         {kContinue, kBack, kCancel, kExit}},
        {2300, "Setup Error", "Setup cannot go on.", Control::ErrorText, {kContinue, kCancel}},
        {900, "Help",
         "Setup installs or removes the network printing software. Continue goes to the next step; "
         "Cancel or Exit offers to quit setup.",
         Control::None, {kContinue}},
        {7805, "Help",
         "Installing everything on the system drive needs the first figure; with a chosen destination "
         "only the system files go to the system drive. Removing needs no space.",
         Control::None, {kContinue}},
        // Modeless pages: shown while work goes on.
        {7804, "Please Wait", "", Control::Status, {}},
        {5100, "Please Wait", "Stopping the print spooler...", Control::None, {}},
        {5300, "Please Wait", "Starting the print spooler...", Control::None, {}},
        {1700, "Please Wait", "Creating the program group...", Control::None, {}},
        {1800, "Please Wait", "Installing the printer drivers...", Control::None, {}},
    };
    return pages;
}

const char* const kModal[] = {"FWelcomeDlgProc", "FQuitDlgProc",        "FInfoDlgProc",
                              "FInfo0DlgProc",   "FInstallTypeDlgProc", "FChoosePathDlgProc",
                              "FEditDlgProc",    "FErrorDlgProc",       "FHelpDlgProc"};
const char* const kModeless[] = {"FStatusDlgProc", "FModelessDlgProc"};

}  // namespace

const Page* findPage(UINT id) {
    const auto& t = table();
    auto it = std::find_if(t.begin(), t.end(), [id](const Page& p) { return p.id == id; });
    return it == t.end() ? nullptr : &*it;
}

bool modelessProcedure(std::string_view proc) {
    for (const char* p : kModeless)
        if (proc == p) return true;
    return false;
}

bool knownProcedure(std::string_view proc) {
    for (const char* p : kModal)
        if (proc == p) return true;
    return modelessProcedure(proc);
}

}  // namespace kit
