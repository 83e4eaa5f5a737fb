// The debug window, shown when the debug configuration asks for it.
#pragma once

// Opens the debug window when show_info_view is 1; always 1.
int ShowInfoViewIfEnabled();
// The log's callback: copies a line into the debug window when it is open; always 1.
int OnLogLine(const char* message);
