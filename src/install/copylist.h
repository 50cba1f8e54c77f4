/* Which INF sections of setup.inf apply to this machine and where each one
   goes: the section sizes shown by the installation-type and destination
   pages, and the copy list the install sequence copies. */
#pragma once
#include <windows.h>

/* Sum of field 15 (size in bytes) over all keys of the section; 0 for a
   section without keys. Uses the list symbol "File List". */
LONG SectionBytes(LPCSTR section);

/* Fills Setup.SystemDriveBytes, UtilityBytes and LoadFilesBytes from the
   sections of the platform and processor. */
void ComputeSectionSizes(void);

/* Empties the copy list and queues the sections of the platform, processor
   and installation type with their destinations. */
void BuildCopyList(void);

/* Queues the wizard section of the platform, "Orvel", "Remote Console",
   "Wizard" and "VB Common" to InstallRoot\utility. */
void AddUtilitySections(void);
