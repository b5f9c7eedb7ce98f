// Control ids shared by the resource script and the dialog code.
#pragma once

// Main dialog DLG_MAIN
#define IDC_INSTALL 1      // later the Info button
#define IDC_CLOSE 2        // later the OK button
#define IDC_STATUS 3002

// Licence dialog DLG_LIC
#define IDC_LICENCE_TEXT 2002
#define IDC_LICENCE_PROMPT 2004

// Password dialog DLG_PASS (kept in the resources, never shown)
#define IDC_PASSWORD 101
