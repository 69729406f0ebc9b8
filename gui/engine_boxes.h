#pragma once
// The engine's notices as the message boxes the user knows.

// Makes every engine notice of this process show its box (once is enough).
void ShowEngineNoticesAsBoxes();
