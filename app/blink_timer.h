#pragma once
// The blink timer of the main dialog: started by Update, re-armed by each tick.

constexpr unsigned kBlinkTimerId = 1;
// The labels are hidden for the short period and shown for the long one; a run starts shown.
constexpr unsigned kBlinkHiddenMs = 200;
constexpr unsigned kBlinkShownMs = 500;
