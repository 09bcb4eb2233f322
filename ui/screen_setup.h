// The screen JGACE adapts to, taken from the primary screen at start-up.
#pragma once

// Physical width in whole millimetres and width in device pixels of the
// primary screen; a screen without a physical size counts as 96 dpi.
void SetScreenMetricsFromPrimaryScreen();
