#pragma once
// The program's shared state put back between tests.

// The configuration record, the main window's exchange and the node being edited as at the
// program's start; the answer buffer empty, its bytes set to a marker rather than zeros so
// that a value taken from bytes never received shows.
void ResetGlobals();

// ResetGlobals, and the S2 bases the TPR-by-TPU windows keep for the program's run as at its
// start too (the window program's tests alone).
void ResetAllGlobals();
