/* Example DSP plug-in: changes the level of the audio by a fixed gain, -6 dB
 * unless BRIVANTA_DSP_GAIN_DB sets another. Samples are clipped to 16 bits. */

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "audio/Engine.h"

static double gain_factor = 0.5;

static int gain_init(winampDSPModule* module) {
    (void)module;
    const char* db = getenv("BRIVANTA_DSP_GAIN_DB");
    gain_factor = pow(10.0, (db != NULL ? atof(db) : -6.0206) / 20.0);
    return 0;
}

static int gain_modify(winampDSPModule* module, short int* samples, int frames, int bps, int nch,
                       int srate) {
    (void)module;
    (void)srate;
    if (bps != 16) {
        return frames;
    }
    for (int i = 0; i < frames * nch; ++i) {
        double v = samples[i] * gain_factor;
        samples[i] = (short int)lrint(v > 32767.0 ? 32767.0 : (v < -32768.0 ? -32768.0 : v));
    }
    return frames;
}

static void gain_config(winampDSPModule* module) {
    (void)module;
    fprintf(stderr, "dsp_gain: gain %.2f dB (set BRIVANTA_DSP_GAIN_DB)\n",
            20.0 * log10(gain_factor));
}

static void gain_quit(winampDSPModule* module) {
    (void)module;
}

static winampDSPModule gain_module = {"Gain",    NULL,        NULL,      gain_config,
                                      gain_init, gain_modify, gain_quit, NULL};

static winampDSPModule* gain_get_module(int which) {
    return which == 0 ? &gain_module : NULL;
}

static winampDSPHeader gain_header = {0x20, "Brivanta example: gain", gain_get_module};

__attribute__((visibility("default"))) winampDSPHeader* winampDSPGetHeader2(void) {
    return &gain_header;
}
