#pragma once

// The records of the DSP plug-in interface, laid out as plug-ins written for
// it expect. A plug-in library ("dsp*.so") exports winampDSPGetHeader2, which
// returns the header; the header hands out modules by number. The host uses
// module 0 only.

#ifdef __cplusplus
extern "C" {
#endif

typedef struct winampDSPModule {
    char* description;
    void* hwndParent;   /* the host's window, filled by the host */
    void* hDllInstance; /* the library handle, filled by the host */
    void (*Config)(struct winampDSPModule* this_mod);
    int (*Init)(struct winampDSPModule* this_mod); /* 0 = success */
    /* Processes frames of interleaved 16-bit samples in place; returns a frame count. */
    int (*ModifySamples)(struct winampDSPModule* this_mod, short int* samples, int numsamples,
                         int bps, int nch, int srate);
    void (*Quit)(struct winampDSPModule* this_mod);
    void* userData;
} winampDSPModule;

typedef struct winampDSPHeader {
    int version;
    char* description;
    winampDSPModule* (*getModule)(int);
} winampDSPHeader;

typedef winampDSPHeader* (*winampDSPGetHeaderType)(void);

#define BRIVANTA_DSP_ENTRY "winampDSPGetHeader2"

#ifdef __cplusplus
}
#endif
