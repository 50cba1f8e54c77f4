/* The dialog pages. Every page comes from the dialog library through the
   toolkit layer: input symbols are set, the page is run, its event word
   (DLGEVENT) is classified and acted on, and the page is popped when done. */
#pragma once
#include <windows.h>

/* Event classes: the sum of the first two characters of the event word,
   each taken as a signed 8-bit value. */
#define EVENT_BACK 131     /* BA... */
#define EVENT_CANCEL 132   /* CA... */
#define EVENT_CONTINUE 146 /* CO... */
#define EVENT_EXIT 157     /* EX... */
INT ClassifyEvent(LPCSTR event);

/* Simple pages. "Ends setup" means: every dialog popped, toolkit ended,
   process exit code 0, no restart. */
void WelcomePage(void);
void QuitConfirmPage(void);        /* returns on cancel/continue; exit ends setup */
void VersionWarningPage(void);     /* exit ends setup */
void NotAdministratorPage(void);   /* continue ends setup; never returns */
void UnsupportedPlatformPage(void);
void UpgradeNoticePage(void);
void InstallRebootPage(void);      /* continue: PrepareReboot (RebootFailedPage when it fails) */
void RemoveRebootPage(void);       /* as InstallRebootPage */
void RebootFailedPage(void);
void AskWizardPage(LONG *answer);  /* answer 1 on continue, 0 on cancel */
void AskHelpPage(LONG *answer);
void DriverFilesFailedPage(void);
void InstallDonePage(void);
void RemoveDonePage(void);
void PathNoticePage(void);

/* Modeless pages: shown and left on the stack; the caller pops them. */
void SpoolerStopPage(void);
void SpoolerStartPage(void);
void DriverInstallPage(void);  /* 1800, while the printer drivers are added */
void ProgramGroupPage(void);   /* 1700, while the Program Manager group is built */

/* Installation type: sets Setup.InstallType and Setup.PageDone. */
void InstallTypePage(void);

/* Destination path: on acceptance stores the path in Setup.InstallRoot
   and sets PageDone 1; back sets PageDone 0. */
void DestinationPathPage(void);

/* Asks for the directory of the Windows distribution files. path is the
   caller's buffer of at least 260 characters: in, the proposed path; out,
   the accepted one. */
#define DISTRIBUTION_PATH_SIZE 260
void DistributionPathPage(LPSTR path);

/* Removes a final single-byte backslash (walking with CharNextA); an empty
   path is left alone. */
void StripTrailingBackslash(LPSTR path);
