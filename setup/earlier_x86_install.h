#pragma once

// The settings an earlier 32-bit Kalnix left in the 32-bit registry view, taken over by the
// 64-bit one in two steps: copied first, and deleted only once nothing can go back any more.

// Copies each value of the 32-bit view's settings key that the 64-bit key lacks (the saved
// lid-close settings among them, which may be forced by now and must not be saved anew). True
// when there was no 32-bit key, or every value that could be read was copied.
bool CopyX86Settings();

// Deletes the 32-bit view's settings key; true when it is gone.
bool DeleteX86Settings();
