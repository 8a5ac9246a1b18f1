#pragma once

// Numbers a peer sees (RTP SSRCs, TEI reference numbers) come from the C library's rand().
// Unseeded, it gives the same sequence at every start of every board; RFC 3550 wants SSRCs
// random. This seeds it from the system's random source, once per process: the first call
// seeds, later ones do nothing. Whatever draws such a number calls it first; a later srand
// (as tests do, to know the numbers) still sets the sequence.
void SeedRandomOnce();
