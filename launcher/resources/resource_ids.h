// Resource identifiers shared by orvanta.rc and the code. Only #define lines: windres reads it too.
#pragma once

// The application icon: the first icon group, so Explorer shows it for Orvanta.exe.
#define ORVANTA_IDI_MAIN 1
