// The reciprocal tables of the quantisation kernels, rebuilt whenever the GOP loops change the
// current matrices.
#pragma once

// quantrecip from quantmatrices, both matrices: 65535 / weight (integer division), unsigned
// 16-bit, entry by entry in raster order. Weights are 1..255 in use (the matrix step keeps
// them within 8..255); a weight below 1 counts as 1, so nothing divides by zero.
void rebuildrecip();
