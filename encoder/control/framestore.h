// The frame store: the one run-time allocation of the encoder, sized at start-up.
#pragma once

// Allocates and lays out the frame store for settings.slotcount, ringsize, lumasize and
// chromasize; 0, or 269 when memory cannot be had.
int allocframes();
