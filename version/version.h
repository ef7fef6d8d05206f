// The program's version values: one source for the version resource of the Windows program, for
// the built-in copy that the Linux build answers from, and for --version of the tools. A room of
// its own below all others, so that the platform layer and the simulated unit may read it.
#pragma once

#define KQ_FILE_VERSION_BINARY 2, 0, 0, 0
#define KQ_FILE_VERSION_TEXT "2, 0, 0, 0"
#define KQ_COMPANY_NAME "KQ Systems"
#define KQ_FILE_DESCRIPTION "KQVorlink"
#define KQ_INTERNAL_NAME "KQVorlink"
#define KQ_LEGAL_COPYRIGHT "Copyright (C) 2026"
#define KQ_ORIGINAL_FILENAME "KQVorlink.exe"
#define KQ_PRODUCT_NAME "KQVorlink"
#define KQ_COMMENTS_EN "KQ-A2/KQ-B2 Update"
