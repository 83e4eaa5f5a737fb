// Windows version, bitness and machine identity.
#pragma once

// True when this 32-bit process runs under WOW64, that is on 64-bit Windows.
bool Is64BitWindows();
