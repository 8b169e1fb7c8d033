// The user's two lasting choices, kept under HKEY_CURRENT_USER "Software\Orvande\Halvane":
// "[Same Directory]" (g_bSameDirectory) and "[Output]" (g_szOutputDir).
#pragma once

// Reads both values into their variables; an absent value leaves its variable as it
// is. Creates the key when it does not exist. Needs AllocateProcessBuffers first.
void LoadRegistry();
// Writes both variables. A folder text of 1024 characters or more is not saved: the
// stored "[Output]" keeps its previous value.
void SaveRegistry();
