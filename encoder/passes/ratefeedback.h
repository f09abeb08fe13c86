// The rate feedback of the second pass: before each GOP, the GOP's base quantiser and from it
// the I, P and B quantisers.
//
// Until the feedback is built the base quantiser is the plan's (gopqbase) and every picture
// type takes it unchanged.
#pragma once

// The base quantiser of GOP gopcount (called once per GOP, after gopcount has advanced and
// before the GOP's first picture).
float adjustrate();
// The I, P and B quantisers of the GOP from its base quantiser q, each within 1..31.
void typeqratios(float& qi, float& qp, float& qb, float q);
