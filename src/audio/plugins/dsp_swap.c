/* Example DSP plug-in: swaps the left and right channels of stereo audio. */

#include <stddef.h>

#include "audio/Engine.h"

static int swap_init(winampDSPModule* module) {
    (void)module;
    return 0;
}

static int swap_modify(winampDSPModule* module, short int* samples, int frames, int bps, int nch,
                       int srate) {
    (void)module;
    (void)srate;
    if (bps != 16 || nch != 2) {
        return frames;
    }
    for (int i = 0; i < frames; ++i) {
        short int left = samples[2 * i];
        samples[2 * i] = samples[2 * i + 1];
        samples[2 * i + 1] = left;
    }
    return frames;
}

static void swap_config(winampDSPModule* module) {
    (void)module;
}

static void swap_quit(winampDSPModule* module) {
    (void)module;
}

static winampDSPModule swap_module = {"Channel swap", NULL,        NULL,      swap_config,
                                      swap_init,      swap_modify, swap_quit, NULL};

static winampDSPModule* swap_get_module(int which) {
    return which == 0 ? &swap_module : NULL;
}

static winampDSPHeader swap_header = {0x20, "Brivanta example: channel swap", swap_get_module};

__attribute__((visibility("default"))) winampDSPHeader* winampDSPGetHeader2(void) {
    return &swap_header;
}
