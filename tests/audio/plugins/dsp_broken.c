/* Plug-ins that fail in one way each, chosen by a definition at build time:
 * BROKEN_NO_EXPORT (no entry export), BROKEN_NO_MODULE (no module 0),
 * BROKEN_INIT_FAILS (Init returns non-zero). */

#include <stddef.h>

#include "audio/Engine.h"

static int broken_init(winampDSPModule* module) {
    (void)module;
#ifdef BROKEN_INIT_FAILS
    return 1;
#else
    return 0;
#endif
}

static winampDSPModule broken_module = {"Broken", NULL, NULL, NULL, broken_init, NULL, NULL, NULL};

static winampDSPModule* broken_get_module(int which) {
#ifdef BROKEN_NO_MODULE
    return which == 0 ? NULL : &broken_module;
#else
    return which == 0 ? &broken_module : NULL;
#endif
}

static winampDSPHeader broken_header = {0x20, "Broken", broken_get_module};

#ifndef BROKEN_NO_EXPORT
__attribute__((visibility("default"))) winampDSPHeader* winampDSPGetHeader2(void) {
    return &broken_header;
}
#else
__attribute__((visibility("default"))) winampDSPHeader* somethingElse(void) {
    return &broken_header;
}
#endif
