#pragma once

// The ALSA PCM as the program plays through it: 16-bit, at 22,050 Hz where the card takes that
// rate as it is, otherwise at the card's own rate (ALSA's resampling off), mono where it can,
// with a buffer large enough to ride out a busy machine.

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

namespace zel {

// The program's own rate: every image is made at it.
constexpr unsigned kProgramRate = 22050;

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmPointer = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct PcmSetup {
    unsigned rate = 0;
    unsigned channels = 0;
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_uframes_t period = 0;

    bool Converts() const { return rate != kProgramRate; }
    // For the user: "22,050 Hz mono, as synthesised" or "48,000 Hz stereo, converted by the
    // program from 22,050 Hz".
    std::string Describe() const;
};

// The ALSA devices the program uses: "default", or those of the card the settings name; and the
// PCM as the player holds it open, for the queries that would otherwise open it again (a hw device
// opens once only).
struct AlsaOutput {
    std::string card;  // the card's id (the CARD= part of hw:CARD=PCH); empty: the defaults
    std::string Pcm() const { return card.empty() ? "default" : "sysdefault:CARD=" + card; }
    std::string Control() const { return card.empty() ? "default" : "hw:CARD=" + card; }

    bool held = false;
    PcmSetup heldSetup;
    int heldCard = -1;  // the card behind it, where it is one
};

// Opens and configures `device` (non-blocking); null when it refuses, `error` says why.
PcmPointer OpenPcm(const std::string& device, PcmSetup& setup, int& error);

}  // namespace zel
