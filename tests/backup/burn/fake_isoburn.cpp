// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the burning library, built twice: with every entry point the binding looks
// up (FAKE_ISOBURN_COMPLETE), and with only those Connect calls. HALVEX_FAKE_ISOBURN chooses
// its answers: "old" (a version the binding refuses) or "init-fails". It never finds a drive.
#include <cstdlib>
#include <cstring>

#include "backup/burn/isoburn_entry_points.h"

static bool Mode(const char* mode) {
    const char* chosen = std::getenv("HALVEX_FAKE_ISOBURN");
    return chosen != nullptr && std::strcmp(chosen, mode) == 0;
}

extern "C" {
void isoburn_version(int* major, int* minor, int* micro) {
    *major = Mode("old") ? 0 : 1;
    *minor = 5;
    *micro = 4;
}
int isoburn_initialize(char*, int) { return Mode("init-fails") ? 0 : 1; }
void isoburn_finish() {}
int burn_msgs_set_severities(char*, char*, char*) { return 1; }
int burn_msgs_obtain(char*, int*, char*, int*, char*) { return 0; }
int iso_set_msgs_severities(char*, char*, char*) { return 1; }
int iso_obtain_msgs(char*, int*, int*, char*, char*) { return 0; }
int burn_drive_scan(void** infos, unsigned int* count) {
    *infos = nullptr;
    *count = 0;
    return 1;
}
int burn_drive_get_adr(void*, char*) { return 0; }
int burn_drive_info_forget(void*, int) { return 1; }
void burn_drive_info_free(void*) {}
#ifdef FAKE_ISOBURN_COMPLETE
// Never called by the loader's tests: only their presence counts.
#define FAKE_ENTRY(name) \
    int name() { return 0; }
HALVEX_ISOBURN_OTHER_ENTRY_POINTS(FAKE_ENTRY)
#endif
}
