// The floating-point unit's state.
#pragma once

/// Clears the floating-point exception flags and restores the default
/// environment (rounding, masks), as after a caught exception.
void tfpu_Reset();
